#include "sdts/metadata.h"

#include <cmath>

#include "iso8211/subfields.h"
#include "sdts/moduleset.h"
#include "support/errors.h"

namespace veloran {

namespace {

// ISO 8211 and SDTS always write "." in reals, whatever the user's locale.
constexpr char kPoint = '.';

// An open module with its parsed description; the file closes with it.
struct TModule {
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
};

// Opens the module, parses it and hands it to `read`; a failure on the way
// names the module's file.
template <class F>
void WithModule(const TConversionState& state, std::string_view code, int maxRecords, F&& read) {
  TModule m{OpenModule(state.ModuleSet, code), {}};
  NameFileOnFailure(m.Stream->Name(), [&] {
    ReadDataDescription(*m.Stream, m.Description, maxRecords);
    read(m);
  });
}

// Truncates toward zero to a 32-bit integer; a value outside that range
// cannot be an address and fails as the runtime's truncation would.
int32_t TruncToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) Fail(kInvalidOpMessage);
  return static_cast<int32_t>(value);
}

double Finite(double value) {
  if (!std::isfinite(value)) Fail(kOverflowMessage);
  return value;
}

}  // namespace

void ReadDdsh(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  info.UnitsCode = 2;
  WithModule(state, "DDSH", 1, [&](TModule& m) {
    if (m.Text("DDSH", "UNIT") == "FEET") info.UnitsCode = 1;
    const std::string fmt = m.Text("DDSH", "FMT");
    info.CellFormat = CellFormatCode(fmt);
    // The grid holds what a 16-bit integer or a 32-bit float cell gives;
    // a cell read at a width the transfer did not declare would be wrong.
    if (info.CellFormat != kInt16CellFormat && info.CellFormat != kFloatCellFormat)
      Fail("The cell format '" + fmt + "' is not supported (only BI16 and BFP32 cells are read)");
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
    info.ScaleX = m.Real("IREF", "SFAX");
    info.ScaleY = m.Real("IREF", "SFAY");
    info.OriginX = m.Real("IREF", "XORG");
    info.OriginY = m.Real("IREF", "YORG");
    info.ResolutionX = m.Real("IREF", "XHRS");
    info.ResolutionY = m.Real("IREF", "YHRS");
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
      Fail("The reference system '" + info.RefSysName + "' is not supported (only UTM transfers are converted)");
    info.Zone = m.Int("XREF", "ZONE");
    const std::string hdat = m.Text("XREF", "HDAT");
    info.DatumName = hdat;
    if (hdat == "NAS") info.Datum = 1;
    else if (hdat == "WGS72") info.Datum = 2;
    else if (hdat == "WGS84" || hdat == "NAX") info.Datum = 3;
  });
}

void ReadRsdf(TConversionState& state) {
  TSdtsInfo& info = state.Info;
  WithModule(state, "RSDF", 1, [&](TModule& m) {
    // Binary addresses are counted in 4-byte values; an RSDF without a SADR
    // description takes the text path and finds nothing.
    if (GetFormatControls("SADR", m.Description).find('B') != std::string::npos) {
      info.SadrX = GetSubfieldBinInt(*m.Stream, "SADR", "X", 4, 0, m.Description);
      info.SadrY = GetSubfieldBinInt(*m.Stream, "SADR", "Y", 4, 0, m.Description);
    } else {
      info.SadrX = TruncToInt32(m.Real("SADR", "X"));
      info.SadrY = TruncToInt32(m.Real("SADR", "Y"));
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
    if (state.Grid.RowCount < 0 || state.Grid.ColCount < 0)
      Fail("The file " + m.Stream->Name() + " is malformed: a grid of " + std::to_string(state.Grid.RowCount) +
           " rows and " + std::to_string(state.Grid.ColCount) + " columns");
  });
}

}  // namespace veloran
