#include "convert/formats.h"

#include "dem/demwriter.h"
#include "gtiff/gtiffwriter.h"

namespace veloran {

namespace {

TGridTotals WriteDem(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                     IProgress& progress) {
  return WriteDemFile(state, path, options.AddNewLines, progress, options.Sync, options.Background);
}

template <TTiffLayout Layout>
TGridTotals WriteTiff(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                      IProgress& progress) {
  WriteGeoTiff(state, path, Layout, options.Sync, progress);
  return ProfileTotals(state.Grid);
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
