// Records A, B (fixed part) and C of the USGS DEM file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dem/demfields.h"
#include "sdts/sdtsinfo.h"

namespace veloran {

struct TDemHeader {
  int32_t LevelCode = 1;
  int32_t PatternCode = 1;
  int32_t RefSystemCode = 1;     // UTM
  int32_t GroundUnitsCode = 2;   // metres
  int32_t SideCount = 4;
  std::array<double, 15> ProjectionParams{};
  double RotationAngle = 0.0;
  int32_t AccuracyCode = 1;  // record C follows
  std::array<double, 3> Resolution{};
  int32_t ProfileRows = 1;
  int32_t ProfileCols = 0;
};

struct TProfileHeader {
  int32_t RowId = 1;
  int32_t ColumnId = 0;
  int32_t ElevationCount = 0;
  int32_t ProfileColumns = 1;
  double FirstX = 0.0, FirstY = 0.0;
  double DatumElevation = 0.0;
  double ProfileMin = 0.0, ProfileMax = 0.0;  // in elevation units, as record A's extremes
};

inline constexpr std::array<int32_t, 10> AccuracyValues{};
inline constexpr int kTitleFieldWidth = 144;

// Today's date in the user's short date format; the date of the instant in
// SOURCE_DATE_EPOCH when that is set, so that a conversion can be repeated
// byte for byte.
std::string DemDateText();

// Field 1 of record A: title, data id, the conversion note and the date, cut
// to 144 characters so that every later field keeps its columns.
std::string DemTitleText(const TSdtsInfo& info, const std::string& date);

void WriteHeaderFields(TDemStream& out, const TDemHeader& header, const TSdtsInfo& info, const std::string& date);
void WriteDatumFields(TDemStream& out, const TSdtsInfo& info);
void WriteProfileHeader(TDemStream& out, const TProfileHeader& profile);
void WriteAccuracyRecord(TDemStream& out);

}  // namespace veloran
