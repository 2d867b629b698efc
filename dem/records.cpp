#include "dem/records.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "support/textutil.h"

namespace veloran {

std::string DemDateText() {
  const std::tm when = ConversionDate();
  char text[64] = "";
  if (locale_t loc = newlocale(LC_TIME_MASK, "", locale_t(0))) {
    strftime_l(text, sizeof text, "%x", &when, loc);
    freelocale(loc);
  } else {
    std::strftime(text, sizeof text, "%x", &when);
  }
  // The DEM is an ASCII format: a short date of other characters, or longer
  // than the usual 8 to 10, becomes the numeric MM/DD/YY.
  const std::string_view date = text;
  const bool ascii = std::all_of(date.begin(), date.end(), [](char c) { return c >= ' ' && c <= '~'; });
  if (!ascii || date.size() > 10) std::strftime(text, sizeof text, "%m/%d/%y", &when);
  return text;
}

std::string DemTitleText(const TSdtsInfo& info, const std::string& date) {
  std::string text = info.Title + "  " + info.DataId + " Belvaret STDS-DEM Conversion on " + date;
  if (text.size() > kTitleFieldWidth) text.resize(kTitleFieldWidth);
  return text;
}

void WriteHeaderFields(TDemStream& out, const TDemHeader& header, const TSdtsInfo& info, const std::string& date) {
  WriteLeftField(out, DemTitleText(info, date), kTitleFieldWidth);
  WriteIntField(out, header.LevelCode, 6, "level code");
  WriteIntField(out, header.PatternCode, 6, "pattern code");
  WriteIntField(out, header.RefSystemCode, 6, "reference system code");
  WriteIntField(out, info.Zone, 6, "zone");
  for (double p : header.ProjectionParams) WriteD24Field(out, p);
  WriteIntField(out, header.GroundUnitsCode, 6, "ground units code");
  WriteIntField(out, info.UnitsCode, 6, "elevation units code");
  WriteIntField(out, header.SideCount, 6, "number of sides");
  for (const TCornerPoint* c : {&info.SW, &info.NW, &info.NE, &info.SE}) {
    WriteD24Field(out, c->X);
    WriteD24Field(out, c->Y);
  }
  // The grid holds elevations in units of the z resolution (tenths where
  // VerticalScale is 10); the extremes are given in elevation units.
  WriteD24Field(out, info.ActualMin / static_cast<double>(VerticalScaleOf(info)));
  WriteD24Field(out, info.ActualMax / static_cast<double>(VerticalScaleOf(info)));
  WriteD24Field(out, header.RotationAngle);
  WriteIntField(out, header.AccuracyCode, 6, "accuracy code");
  WriteE12Field(out, header.Resolution[0], "x resolution");
  WriteE12Field(out, header.Resolution[1], "y resolution");
  WriteE12Field(out, header.Resolution[2], "z resolution");
  WriteIntField(out, header.ProfileRows, 6, "number of rows");
  WriteIntField(out, header.ProfileCols, 6, "number of columns");
}

void WriteDatumFields(TDemStream& out, const TSdtsInfo& info) {
  WriteDemText(out, "                         2");
  WriteIntField(out, info.Datum, 2, "horizontal datum");
}

void WriteProfileHeader(TDemStream& out, const TProfileHeader& profile) {
  WriteIntField(out, profile.RowId, 6, "profile row number");
  WriteIntField(out, profile.ColumnId, 6, "profile column number");
  WriteIntField(out, profile.ElevationCount, 6, "number of elevations");
  WriteIntField(out, profile.ProfileColumns, 6, "number of profile columns");
  WriteD24Field(out, profile.FirstX);
  WriteD24Field(out, profile.FirstY);
  WriteD24Field(out, profile.DatumElevation);
  WriteD24Field(out, profile.ProfileMin);
  WriteD24Field(out, profile.ProfileMax);
}

void WriteAccuracyRecord(TDemStream& out) {
  WriteDemText(out, " ");
  for (int32_t v : AccuracyValues) WriteIntField(out, v, 6, "accuracy value");
}

}  // namespace veloran
