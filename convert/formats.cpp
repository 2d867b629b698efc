#include "convert/formats.h"

#include "convert/driver.h"
#include "dem/demwriter.h"
#include "gtiff/gtiffwriter.h"
#include "support/textutil.h"

namespace veloran {

namespace {

void WriteDem(const TConversionState& state, const std::string& path, const TWriteOptions& options,
              IProgress& progress, IInfoPane& pane) {
  // A thread of its own writes the DEM's buffers while the next is filled,
  // where the budget has one spare: where every processor already runs a
  // conversion it would only compete with them (8 DEMs of 1201 x 1201 at
  // -j 2 took 68 ms with one, 58 ms without).
  const TBorrowedThreads writer(options.Threads, 1);
  const TGridTotals totals = WriteDemFile(state, path, options.AddNewLines, progress, options.Sync, writer.Count() > 0);
  ShowOutputSummary(state, totals, pane);
}

const TOutputFormat& FormatOf(TTiffLayout layout);

// A GeoTIFF's tiles are compressed while the rows are read: the reading
// of a 1201 x 1201 transfer no longer stands before the whole compression.
template <TTiffLayout Layout>
class TTiffSession final : public TFormatSession {
 public:
  TTiffSession(const TConversionState& state, const TWriteOptions& options) : Tiff(state, Layout, options.Threads) {}
  void Finish(const TConversionState& state, const std::string& path, const TWriteOptions& options,
              IProgress& progress, IInfoPane& pane) override {
    const int levels = Tiff.Write(path, options.Sync, progress);
    ShowGeoTiffSummary(state, FormatOf(Layout).LongName, levels, pane);
  }

 private:
  TGeoTiff Tiff;
};

template <TTiffLayout Layout>
std::unique_ptr<TFormatSession> BeginTiff(const TConversionState& state, const TWriteOptions& options) {
  return std::make_unique<TTiffSession<Layout>>(state, options);
}

template <TTiffLayout Layout>
void WriteTiff(const TConversionState& state, const std::string& path, const TWriteOptions& options,
               IProgress& progress, IInfoPane& pane) {
  TTiffSession<Layout>(state, options).Finish(state, path, options, progress, pane);
}

}  // namespace

const std::vector<TOutputFormat>& OutputFormats() {
  static const std::vector<TOutputFormat> formats = {
      {"dem", "USGS DEM", ".dem", nullptr, "DEM Files (*.dem)", false, WriteDem, nullptr},
      {"gtiff", "GeoTIFF", ".tif", ".tiff", "GeoTIFF (*.tif)", true, WriteTiff<TTiffLayout::Tiled>,
       BeginTiff<TTiffLayout::Tiled>},
      {"cog", "Cloud Optimized GeoTIFF", ".tif", ".tiff", "Cloud Optimized GeoTIFF (*.tif)", true,
       WriteTiff<TTiffLayout::CloudOptimized>, BeginTiff<TTiffLayout::CloudOptimized>},
  };
  return formats;
}

const TOutputFormat* FindOutputFormat(std::string_view name) {
  for (const TOutputFormat& format : OutputFormats())
    if (name == format.Name) return &format;
  return nullptr;
}

const TOutputFormat& DemFormat() { return OutputFormats().front(); }

const TOutputFormat& FormatForName(std::string_view path, const TOutputFormat& chosen) {
  const auto endsIn = [path](const TOutputFormat& format) {
    return EndsWithIgnoringCase(path, format.Extension) ||
           (format.AlsoTyped && EndsWithIgnoringCase(path, format.AlsoTyped));
  };
  if (endsIn(chosen)) return chosen;
  for (const TOutputFormat& format : OutputFormats())
    if (endsIn(format)) return format;
  return chosen;
}

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
