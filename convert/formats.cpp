#include "convert/formats.h"

#include "convert/driver.h"

#include "dem/demwriter.h"
#include "gtiff/gtiffwriter.h"

namespace veloran {

namespace {

void WriteDem(const TConversionState& state, const std::string& path, const TWriteOptions& options, IInfoPane& pane) {
  const TGridTotals totals = WriteDemFile(state, path, options.AddNewLines, pane, options.Sync, options.Background);
  ShowOutputSummary(state, totals, pane);
}

template <TTiffLayout Layout>
void WriteTiff(const TConversionState& state, const std::string& path, const TWriteOptions& options, IInfoPane& pane) {
  const int levels = WriteGeoTiff(state, path, Layout, options.Sync, pane);
  ShowGeoTiffSummary(state, Layout == TTiffLayout::Tiled ? "GeoTIFF" : "Cloud Optimized GeoTIFF", levels, pane);
}

}  // namespace

const std::vector<TOutputFormat>& OutputFormats() {
  static const std::vector<TOutputFormat> formats = {
      {"dem", ".dem", false, WriteDem},
      {"gtiff", ".tif", true, WriteTiff<TTiffLayout::Tiled>},
      {"cog", ".tif", true, WriteTiff<TTiffLayout::CloudOptimized>},
  };
  return formats;
}

const TOutputFormat* FindOutputFormat(std::string_view name) {
  for (const TOutputFormat& format : OutputFormats())
    if (name == format.Name) return &format;
  return nullptr;
}

const TOutputFormat& DemFormat() { return OutputFormats().front(); }

}  // namespace veloran
