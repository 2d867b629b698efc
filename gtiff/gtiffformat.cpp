#include "gtiff/gtiffformat.h"

#include "gtiff/gtiffwriter.h"
#include "sdts/report.h"
#include "support/numfmt.h"

namespace veloran {

namespace {

// A GeoTIFF's tiles are compressed while the rows are read: the reading
// of a 1201 x 1201 transfer no longer stands before the whole compression.
class TTiffSession final : public TFormatSession {
 public:
  TTiffSession(const TConversionState& state, const TWriteOptions& options, TTiffLayout layout)
      : Tiff(state, layout, options.Threads), Kind(layout == TTiffLayout::Tiled ? kGeoTiffName : kCogName) {}
  void Finish(const TConversionState& state, const std::string& path, const TWriteOptions& options,
              IProgress& progress, IInfoPane& pane) override {
    const int levels = Tiff.Write(path, options.Sync, progress);
    ShowGeoTiffSummary(state, Kind, levels, pane);
  }

 private:
  TGeoTiff Tiff;
  const char* Kind;
};

}  // namespace

std::unique_ptr<TFormatSession> BeginGeoTiff(const TConversionState& state, const TWriteOptions& options) {
  return std::make_unique<TTiffSession>(state, options, TTiffLayout::Tiled);
}

std::unique_ptr<TFormatSession> BeginCog(const TConversionState& state, const TWriteOptions& options) {
  return std::make_unique<TTiffSession>(state, options, TTiffLayout::CloudOptimized);
}

void WriteGeoTiffOutput(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                        IProgress& progress, IInfoPane& pane) {
  TTiffSession(state, options, TTiffLayout::Tiled).Finish(state, path, options, progress, pane);
}

void WriteCogOutput(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                    IProgress& progress, IInfoPane& pane) {
  TTiffSession(state, options, TTiffLayout::CloudOptimized).Finish(state, path, options, progress, pane);
}

void ShowGeoTiffSummary(const TConversionState& state, const std::string& kind, int levels, IInfoPane& pane) {
  const TElevationGrid::TRawTotals& totals = state.Grid.RawTotals;
  const std::string unit = state.Info.UnitsCode == 1 ? " ft" : " m";
  // A real cell as its shortest decimal text: 9.5, not 9.5000000000000000.
  auto value = [](double v) { return FormatGeneralReal(ShortestDecimal(static_cast<float>(v))); };
  pane.AppendLine("Final Output " + kind + ":");
  pane.AppendLine("Min:           " + value(totals.Min) + unit);
  pane.AppendLine("Max:           " + value(totals.Max) + unit);
  pane.AppendLine("No Data Count: " + FormatInt(totals.NoData));
  pane.AppendLine("Rows:          " + FormatInt(state.Grid.RowCount));
  pane.AppendLine("Cols:          " + FormatInt(state.Grid.ColCount));
  pane.AppendLine("Levels:        " + FormatInt(levels));
  ShowQuadBoundary(state.Info, pane);
}

}  // namespace veloran
