#include "sdts/metadata.h"

#include <cmath>

#include "iso8211/subfields.h"
#include "sdts/moduleset.h"
#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

namespace {

// ISO 8211 and SDTS always write "." in reals, whatever the user's locale.
constexpr char kPoint = '.';

// An open module with its parsed description; the file closes with it.
struct TModule {
  std::string_view Code;
  std::unique_ptr<TStream> Stream;
  TDataDescription Description;

  std::string Text(std::string_view tag, std::string_view label, int record = 0) {
    return GetSubfieldText(*Stream, tag, label, record, Description);
  }
  int32_t Int(std::string_view tag, std::string_view label, int record = 0) {
    return GetSubfieldInt(*Stream, tag, label, record, Description);
  }
  double Real(std::string_view tag, std::string_view label) {
    return GetSubfieldReal(*Stream, tag, label, 0, Description, kPoint);
  }
  // A number the georeference cannot do without: missing, not a number,
  // or not the kind asked is refused, naming the field.
  enum TKind { kAnyNumber, kNonZero, kPositive };
  double Required(std::string_view tag, std::string_view label, TKind kind = kAnyNumber) {
    const std::string text = Text(tag, label);
    const std::string field =
        (tag == Code ? std::string() : std::string(Code) + " ") + std::string(tag) + " " + std::string(label);
    if (TrimBlanks(text).empty()) Malformed(field + " is missing");
    double value = 0;
    const bool number = TryStrToReal(text, value);
    if (!number || (kind == kNonZero && value == 0) || (kind == kPositive && value <= 0))
      Malformed(field + " is '" + text + "', not a" +
                (kind == kPositive ? " positive number" : kind == kNonZero ? " number other than 0" : " number"));
    return value;
  }
  [[noreturn]] void Malformed(const std::string& what) const {
    Fail("The file " + Stream->Name() + " is malformed: " + what);
  }
};

// Opens the module, parses it and hands it to `read`; a failure on the way
// names the module's file.
template <class F>
void WithModule(const TConversionState& state, std::string_view code, int maxRecords, F&& read) {
  TModule m{code, OpenModule(state.ModuleSet, code), {}};
  NameFileOnFailure(m.Stream->Name(), [&] {
    ReadDataDescription(*m.Stream, m.Description, maxRecords);
    // A catalog that names the wrong file, or a stray file in a module's
    // name, must not give another module's values.
    if (FindDirItem(code, m.Description.Directory) < 0)
      Fail("The file " + m.Stream->Name() + " is not the " + std::string(code) +
           " module of the transfer: it has no " + std::string(code) + " field");
    read(m);
  });
}

double Finite(double value) {
  if (!std::isfinite(value)) Fail(kOverflowMessage);
  return value;
}

// 1 for feet, 2 for metres, in the spellings GDAL's SDTS reading takes and
// a few more, in any case and with blanks around; metres when the unit is
// missing. A unit neither would put every elevation in a wrong unit.
int32_t ElevationUnitsCode(const std::string& text) {
  const std::string_view unit = TrimBlanks(text);
  for (const std::string_view feet : {"FEET", "FOOT", "FT"})
    if (SameIgnoringCase(unit, feet)) return 1;
  if (unit.empty() || SameIgnoringCase(unit, "M") || SameIgnoringCase(unit.substr(0, 3), "MET")) return 2;
  Fail(TErrorKind::Unsupported, "The elevation unit '" + text + "' is not supported (only feet and metres are read)");
}

}  // namespace

void ReadDdsh(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  info.UnitsCode = 2;
  WithModule(state, "DDSH", 1, [&](TModule& m) {
    info.UnitsCode = ElevationUnitsCode(m.Text("DDSH", "UNIT"));
    const std::string fmt = m.Text("DDSH", "FMT");
    info.CellFormat = CellFormatCode(fmt);
    // The grid holds what a 16-bit integer or a 32-bit float cell gives;
    // a cell read at a width the transfer did not declare would be wrong.
    if (info.CellFormat != kInt16CellFormat && info.CellFormat != kFloatCellFormat)
      Fail(TErrorKind::Unsupported,
           "The cell format '" + fmt + "' is not supported (only BI16 and BFP32 cells are read)");
    info.VerticalScale = fmt == "BFP32" ? 10 : 1;
    if (info.UnitsCode == 1) info.VerticalScale = 1;
  });
}

void ReadIden(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "IDEN", 1, [&](TModule& m) {
    info.Title = m.Text("IDEN", "TITL");
    info.Scale = m.Int("IDEN", "SCAL");
    info.DataId = m.Text("IDEN", "DAID");
    info.DataDate = m.Text("IDEN", "DCDT");
  });
}

void ReadDdom(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "DDOM", 4, [&](TModule& m) {
    for (int r = 0; r < m.Description.Records.Count; ++r) {
      const int32_t rcid = m.Int("DDOM", "RCID", r);
      const int32_t dval = m.Int("DDOM", "DVAL", r);
      switch (rcid) {
        case 1: info.VoidValue = dval; break;
        case 2: info.FillValue = dval; break;
        case 3: info.MinElevation = dval; break;
        case 4: info.MaxElevation = dval; break;
        default: break;
      }
    }
  });
}

void ReadIref(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "IREF", 1, [&](TModule& m) {
    // Every value places the grid on the ground: none may be guessed.
    info.ScaleX = m.Required("IREF", "SFAX", TModule::kNonZero);
    info.ScaleY = m.Required("IREF", "SFAY", TModule::kNonZero);
    info.OriginX = m.Required("IREF", "XORG");
    info.OriginY = m.Required("IREF", "YORG");
    info.ResolutionX = m.Required("IREF", "XHRS", TModule::kPositive);
    info.ResolutionY = m.Required("IREF", "YHRS", TModule::kPositive);
    info.SpacingX = info.ResolutionX;
    info.SpacingY = info.ResolutionY;
  });
}

void ReadXref(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "XREF", 1, [&](TModule& m) {
    info.RefSysName = m.Text("XREF", "RSNM");
    // The DEM's header states UTM coordinates in metres.
    if (info.RefSysName != "UTM")
      Fail(TErrorKind::Unsupported,
           "The reference system '" + info.RefSysName + "' is not supported (only UTM transfers are converted)");
    info.Zone = m.Int("XREF", "ZONE");
    const std::string hdat = m.Text("XREF", "HDAT");
    info.DatumName = hdat;
    // WGC and WGE are SDTS's codes for WGS 72 and WGS 84.
    if (hdat == "NAS") info.Datum = 1;
    else if (hdat == "WGS72" || hdat == "WGC") info.Datum = 2;
    else if (hdat == "WGS84" || hdat == "WGE" || hdat == "NAX") info.Datum = 3;
  });
}

void ReadRsdf(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "RSDF", 1, [&](TModule& m) {
    // Binary addresses are counted in 4-byte values; a text address keeps
    // its fraction.
    if (GetFormatControls("SADR", m.Description).find('B') != std::string::npos) {
      for (const auto& [label, value] : {std::pair{"X", &info.SadrX}, std::pair{"Y", &info.SadrY}}) {
        int32_t address = 0;
        if (!FindSubfieldBinInt(*m.Stream, "SADR", label, 4, 0, m.Description, address))
          m.Malformed(std::string("RSDF SADR ") + label + " is missing");
        *value = address;
      }
    } else {
      info.SadrX = m.Required("SADR", "X");
      info.SadrY = m.Required("SADR", "Y");
    }
    info.UpperLeftX = Finite(info.SadrX * info.ScaleX + info.OriginX);
    info.UpperLeftY = Finite(info.SadrY * info.ScaleY + info.OriginY);
  });
}

void ReadSpdm(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "SPDM", 1, [&](TModule& m) {
    TStringArray values;
    GetSubfieldValues(*m.Stream, "DMSA", "X", 0, m.Description, values);
    if (values.Count == 0) GetSubfieldValues(*m.Stream, "DMSA", "*X", 0, m.Description, values);
    double* const destinations[8] = {&info.SW.X, &info.SW.Y, &info.NW.X, &info.NW.Y,
                                     &info.NE.X, &info.NE.Y, &info.SE.X, &info.SE.Y};
    for (int i = 0; i < 8; ++i)
      *destinations[i] = i < values.Count ? FirstNumber(values.Items[static_cast<size_t>(i)], kPoint) : 0.0;
  });
}

void ReadLdef(TConversionState& state) {
  WithModule(state, "LDEF", 1, [&](TModule& m) {
    state.Grid.RowCount = m.Int("LDEF", "NROW");
    state.Grid.ColCount = m.Int("LDEF", "NCOL");
    // Where the cell records' row and column numbers start; 1 where unsaid.
    int32_t first = 0;
    if (TryStrToInt(m.Text("LDEF", "SORI"), first)) state.Grid.FirstRowIndex = first;
    if (TryStrToInt(m.Text("LDEF", "SOCI"), first)) state.Grid.FirstColumnIndex = first;
    if (state.Grid.RowCount < 0 || state.Grid.ColCount < 0)
      Fail("The file " + m.Stream->Name() + " is malformed: a grid of " + std::to_string(state.Grid.RowCount) +
           " rows and " + std::to_string(state.Grid.ColCount) + " columns");
  });
}

}  // namespace veloran
