#include "convert/driver.h"

#include <charconv>
#include <cstdlib>
#include <new>

#include "dem/demwriter.h"
#include "sdts/cells.h"
#include "sdts/metadata.h"
#include "sdts/moduleset.h"
#include "support/errors.h"
#include "support/numfmt.h"
#include "support/textutil.h"

namespace veloran {

namespace {

// Title bytes kept in a default name: 255 less ".dem" and " (NN)".
constexpr size_t kMaxTitleBytes = 245;

}  // namespace

std::string PlainFileName(std::string title) {
  if (title.size() > kMaxTitleBytes) {
    size_t cut = kMaxTitleBytes;
    // Never split a UTF-8 sequence: back up over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
    title.resize(cut);
  }
  std::string name;
  bool leading = true;
  for (size_t i = 0; i < title.size();) {
    bool control = false;
    const size_t length = NextCharacter(title, i, control);
    leading = leading && title[i] == '.';
    if (control || title[i] == '/' || title[i] == '\\' || leading) {
      name.append(length, '_');
    } else {
      name.append(title, i, length);
    }
    i += length;
  }
  return name;
}

std::string MakeDefaultDemName(const std::string& cellPath, const ITransferSource& source) {
  std::string name = "New";
  TConversionState state;
  SelectTransfer(state.ModuleSet, cellPath, source);
  ReadIden(state);
  if (!state.Info.Title.empty()) name = PlainFileName(state.Info.Title);
  return name + ".dem";
}

void ReadSdtsTransfer(TConversionState& state, const std::string& cellPath, IProgress& progress,
                      const ITransferSource& source) {
  state.Reset();
  SelectTransfer(state.ModuleSet, cellPath, source);
  ReadDdsh(state);
  ReadIden(state);
  ReadDdom(state);
  ReadIref(state);
  ReadXref(state);
  ReadRsdf(state);
  ReadSpdm(state);
  ReadLdef(state);
  if (state.Grid.RowCount == 0 || state.Grid.ColCount == 0) Fail(kNoElevationsMessage);
  TProgressRange cellsRead(progress, 0, 50);
  const int64_t cells = ReadCells(state, cellsRead);
  // A grid needs every one of its cells from this transfer, and a grid
  // without rows or columns has nothing to write.
  const int64_t rows = state.Grid.RowCount, cols = state.Grid.ColCount;
  if (cells < rows * cols)
    Fail("The cell module " + ModuleFileName(state.ModuleSet, "CE" + state.ModuleSet.CellModuleSuffix) + " holds " +
         FormatInt(cells) + " cells, too few for a grid of " + FormatInt(rows) + " rows by " + FormatInt(cols) +
         " columns");
  if (state.Info.ActualMin > state.Info.ActualMax) Fail(kNoElevationsMessage);
}

void ConvertSdtsToDem(TConversionState& state, const std::string& cellPath, const std::string& demPath,
                      bool addNewLines, IInfoPane& pane, bool sync, const ITransferSource& source,
                      const TOutputFormat& format, bool backgroundWrite) {
  pane.ClearPane();
  pane.SetProgress(0);
  try {
    state.Grid.KeepRaw = format.KeepsRawCells;
    state.Grid.KeepGrid = !format.KeepsRawCells;
    ReadSdtsTransfer(state, cellPath, pane, source);
    // Before anything is written: the output must not be a file of the transfer.
    CheckNotTransferFile(state.ModuleSet, cellPath, demPath);
    ShowSdtsInfo(state, pane);
    TProgressRange written(pane, 50, 100);
    format.Write(state, demPath, TWriteOptions{sync, backgroundWrite, addNewLines}, written, pane);
  } catch (const std::bad_alloc&) {
    Fail("Out of memory while converting " + cellPath);
  }
}

namespace {

void ShowQuadBoundary(const TSdtsInfo& info, IInfoPane& pane) {
  pane.AppendLine("   Quad Boundary ");
  const std::pair<const char*, const TCornerPoint*> corners[] = {
      {"SW ", &info.SW}, {"NW ", &info.NW}, {"NE ", &info.NE}, {"SE ", &info.SE}};
  for (const auto& [label, corner] : corners)
    pane.AppendLine(label + FormatGeneralReal(corner->X) + " " + FormatGeneralReal(corner->Y));
}

}  // namespace

void ShowOutputSummary(const TConversionState& state, const TGridTotals& totals, IInfoPane& pane) {
  pane.AppendLine("Final Output USGS DEM:");
  pane.AppendLine("Min:           " + FormatInt(totals.Min));
  pane.AppendLine("Max:           " + FormatInt(totals.Max));
  pane.AppendLine("Missing Count: " + FormatInt(totals.Missing));
  pane.AppendLine("Rows:          " + FormatInt(state.Grid.RowCount));
  pane.AppendLine("Cols:          " + FormatInt(state.Grid.ColCount));
  ShowQuadBoundary(state.Info, pane);
}

void ShowGeoTiffSummary(const TConversionState& state, const std::string& kind, int levels, IInfoPane& pane) {
  const TElevationGrid::TRawTotals& totals = state.Grid.RawTotals;
  const std::string unit = state.Info.UnitsCode == 1 ? " ft" : " m";
  // A real cell as its shortest decimal text: 9.5, not 9.5000000000000000.
  auto value = [](double v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(v)).ptr;
    return FormatGeneralReal(std::strtod(std::string(text, end).c_str(), nullptr));
  };
  pane.AppendLine("Final Output " + kind + ":");
  pane.AppendLine("Min:           " + value(totals.Min) + unit);
  pane.AppendLine("Max:           " + value(totals.Max) + unit);
  pane.AppendLine("No Data Count: " + FormatInt(totals.NoData));
  pane.AppendLine("Rows:          " + FormatInt(state.Grid.RowCount));
  pane.AppendLine("Cols:          " + FormatInt(state.Grid.ColCount));
  pane.AppendLine("Levels:        " + FormatInt(levels));
  ShowQuadBoundary(state.Info, pane);
}

void CheckNotTransferOutput(const std::string& cellPath, const std::string& outputPath,
                            const ITransferSource& source) {
  TModuleSet modules;
  SelectTransfer(modules, cellPath, source);
  CheckNotTransferFile(modules, cellPath, outputPath);
}

void ShowSdtsInfo(const TConversionState& state, IInfoPane& pane) {
  const TSdtsInfo& i = state.Info;
  auto real = [](double v) { return FormatGeneralReal(v); };
  auto pair = [&](double a, double b) { return real(a) + "," + real(b); };
  pane.AppendLine("Units: " + std::string(i.UnitsCode == 1 ? "Feet" : "Meters"));
  pane.AppendLine("Vertical Scale: " + FormatInt(i.VerticalScale));
  pane.AppendLine("Title: " + i.Title);
  pane.AppendLine("Scale: " + FormatInt(i.Scale));
  pane.AppendLine("Data ID DAID: " + i.DataId);
  pane.AppendLine("Date (DCDT): " + i.DataDate);
  pane.AppendLine("Void Value: " + FormatInt(i.VoidValue));
  pane.AppendLine("Fill Value: " + FormatInt(i.FillValue));
  pane.AppendLine("Min Elevation: " + FormatInt(i.MinElevation));
  pane.AppendLine("Max Elevation: " + FormatInt(i.MaxElevation));
  pane.AppendLine("Actual Min Elevation: " + FormatInt(i.ActualMin));
  pane.AppendLine("Actual Max Elevation: " + FormatInt(i.ActualMax));
  pane.AppendLine("Scale Factors: " + pair(i.ScaleX, i.ScaleY));
  pane.AppendLine("Origins: " + pair(i.OriginX, i.OriginY));
  pane.AppendLine("Horizon Res: " + pair(i.ResolutionX, i.ResolutionY));
  pane.AppendLine("Ref Sys Name: " + i.RefSysName);
  pane.AppendLine("UTM Szone: " + FormatInt(i.Zone));
  pane.AppendLine("Datum: " + FormatInt(i.Datum));
  pane.AppendLine("SADR X: " + real(i.SadrX));
  pane.AppendLine("SADR Y: " + real(i.SadrY));
  pane.AppendLine("UpperLX: " + real(i.UpperLeftX));
  pane.AppendLine("UpperLY: " + real(i.UpperLeftY));
  pane.AppendLine("SW.X: " + real(i.SW.X));
  pane.AppendLine("SW.Y: " + real(i.SW.Y));
  pane.AppendLine("NW.X: " + real(i.NW.X));
  pane.AppendLine("NW.Y: " + real(i.NW.Y));
  pane.AppendLine("NE.X: " + real(i.NE.X));
  pane.AppendLine("NE.Y: " + real(i.NE.Y));
  pane.AppendLine("SE.X: " + real(i.SE.X));
  pane.AppendLine("SE.Y: " + real(i.SE.Y));
  pane.AppendLine("Row Count: " + FormatInt(state.Grid.RowCount));
  pane.AppendLine("Col Count: " + FormatInt(state.Grid.ColCount));
}

}  // namespace veloran
