#include "convert/formats.h"

#include "convert/driver.h"
#include "dem/demwriter.h"
#include "gtiff/gtiffwriter.h"

namespace veloran {

namespace {

void WriteDem(const TConversionState& state, const std::string& path, const TWriteOptions& options,
              IProgress& progress, IInfoPane& pane) {
  const TGridTotals totals = WriteDemFile(state, path, options.AddNewLines, progress, options.Sync, options.Background);
  ShowOutputSummary(state, totals, pane);
}

const TOutputFormat& FormatOf(TTiffLayout layout);

template <TTiffLayout Layout>
void WriteTiff(const TConversionState& state, const std::string& path, const TWriteOptions& options,
               IProgress& progress, IInfoPane& pane) {
  const int levels = WriteGeoTiff(state, path, Layout, options.Sync, progress);
  ShowGeoTiffSummary(state, FormatOf(Layout).LongName, levels, pane);
}

}  // namespace

const std::vector<TOutputFormat>& OutputFormats() {
  static const std::vector<TOutputFormat> formats = {
      {"dem", "USGS DEM", ".dem", "DEM Files (*.dem)", false, WriteDem},
      {"gtiff", "GeoTIFF", ".tif", "GeoTIFF (*.tif)", true, WriteTiff<TTiffLayout::Tiled>},
      {"cog", "Cloud Optimized GeoTIFF", ".tif", "Cloud Optimized GeoTIFF (*.tif)", true,
       WriteTiff<TTiffLayout::CloudOptimized>},
  };
  return formats;
}

const TOutputFormat* FindOutputFormat(std::string_view name) {
  for (const TOutputFormat& format : OutputFormats())
    if (name == format.Name) return &format;
  return nullptr;
}

const TOutputFormat& DemFormat() { return OutputFormats().front(); }

namespace {

const TOutputFormat& FormatOf(TTiffLayout layout) {
  return *FindOutputFormat(layout == TTiffLayout::Tiled ? "gtiff" : "cog");
}

}  // namespace

std::string OutputFormatNames(std::string_view separator, std::string_view last) {
  const std::vector<TOutputFormat>& formats = OutputFormats();
  std::string names;
  for (size_t i = 0; i < formats.size(); ++i)
    names += std::string(i == 0 ? "" : i + 1 == formats.size() ? last : separator) + formats[i].Name;
  return names;
}

}  // namespace veloran
