// GeoTIFF and Cloud Optimized GeoTIFF as output formats: a file begun
// while the transfer is read (its tiles compressed as the rows come), or
// written at once, and the summary each lists once written.
#pragma once

#include <memory>
#include <string>

#include "sdts/writer.h"

namespace veloran {

inline constexpr const char* kGeoTiffName = "GeoTIFF";
inline constexpr const char* kCogName = "Cloud Optimized GeoTIFF";

std::unique_ptr<TFormatSession> BeginGeoTiff(const TConversionState& state, const TWriteOptions& options);
std::unique_ptr<TFormatSession> BeginCog(const TConversionState& state, const TWriteOptions& options);
void WriteGeoTiffOutput(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                        IProgress& progress, IInfoPane& pane);
void WriteCogOutput(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                    IProgress& progress, IInfoPane& pane);

// The 12 summary lines of a GeoTIFF (named as `kind`) of `levels` levels:
// its extremes in the transfer's own units, its cells without data, its
// size and the quadrangle.
void ShowGeoTiffSummary(const TConversionState& state, const std::string& kind, int levels, IInfoPane& pane);

}  // namespace veloran
