#include "app/driver.h"

#include <algorithm>

#include "dem/demwriter.h"
#include "sdts/cells.h"
#include "sdts/metadata.h"
#include "sdts/moduleset.h"
#include "support/errors.h"
#include "support/numfmt.h"

namespace veloran {

std::string MakeDefaultDemName(TConversionState& state, const std::string& cellPath) {
  std::string name = "New";
  SplitCellFileName(state.ModuleSet, cellPath);
  ReadIden(state);
  if (!state.Info.Title.empty()) name = state.Info.Title;
  return name + ".dem";
}

int64_t ReadSdtsTransfer(TConversionState& state, const std::string& cellPath, IProgress& progress) {
  SplitCellFileName(state.ModuleSet, cellPath);
  ReadDdsh(state);
  ReadIden(state);
  ReadDdom(state);
  ReadIref(state);
  ReadXref(state);
  ReadRsdf(state);
  ReadSpdm(state);
  ReadLdef(state);
  return ReadCells(state, progress);
}

void ConvertSdtsToDem(TConversionState& state, const std::string& cellPath, const std::string& demPath,
                      bool addNewLines, IInfoPane& pane) {
  pane.ClearPane();
  pane.SetProgress(0);
  const int64_t cells = ReadSdtsTransfer(state, cellPath, pane);
  // A grid needs every one of its cells from this transfer: cells left from
  // an earlier conversion must never reach the DEM. Each column costs a
  // block of the DEM, so a grid without rows still needs a cell per column;
  // a few bytes can then never announce a DEM of gigabytes.
  const int64_t rows = state.Grid.RowCount, cols = state.Grid.ColCount;
  if (cells < std::max(rows * cols, cols))
    Fail("The cell module " + ModuleFileName(state.ModuleSet, "CE" + state.ModuleSet.CellModuleSuffix) + " holds " +
         FormatInt(cells) + " cells, too few for a grid of " + FormatInt(rows) + " rows by " + FormatInt(cols) +
         " columns");
  ShowSdtsInfo(state, pane);
  WriteDemFile(state, demPath, addNewLines, pane);
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
  pane.AppendLine("SADR X: " + FormatInt(i.SadrX));
  pane.AppendLine("SADR Y: " + FormatInt(i.SadrY));
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
