#include "convert/formats.h"

#include "dem/demformat.h"
#include "gtiff/gtiffformat.h"
#include "support/textutil.h"

namespace veloran {

const std::vector<TOutputFormat>& OutputFormats() {
  static const std::vector<TOutputFormat> formats = {
      {"dem", kDemName, ".dem", nullptr, "DEM Files (*.dem)", false, {"add-new-lines"}, WriteDemOutput, nullptr},
      {"gtiff", kGeoTiffName, ".tif", ".tiff", "GeoTIFF (*.tif)", true, {}, WriteGeoTiffOutput, BeginGeoTiff},
      {"cog", kCogName, ".tif", ".tiff", "Cloud Optimized GeoTIFF (*.tif)", true, {}, WriteCogOutput, BeginCog},
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

const TOutputFormat* OptionOwner(std::string_view option) {
  for (const TOutputFormat& format : OutputFormats())
    for (std::string_view own : format.Options)
      if (own == option) return &format;
  return nullptr;
}

std::string OutputFormatNames(std::string_view separator, std::string_view last) {
  const std::vector<TOutputFormat>& formats = OutputFormats();
  std::string names;
  for (size_t i = 0; i < formats.size(); ++i)
    names += std::string(i == 0 ? "" : i + 1 == formats.size() ? last : separator) + formats[i].Name;
  return names;
}

}  // namespace veloran
