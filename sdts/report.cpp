#include "sdts/report.h"

#include "support/numfmt.h"

namespace veloran {

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

void ShowQuadBoundary(const TSdtsInfo& info, IInfoPane& pane) {
  pane.AppendLine("   Quad Boundary ");
  const std::pair<const char*, const TCornerPoint*> corners[] = {
      {"SW ", &info.SW}, {"NW ", &info.NW}, {"NE ", &info.NE}, {"SE ", &info.SE}};
  for (const auto& [label, corner] : corners)
    pane.AppendLine(label + FormatGeneralReal(corner->X) + " " + FormatGeneralReal(corner->Y));
}


}  // namespace veloran
