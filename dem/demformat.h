// The USGS DEM as an output format: its writer, and the summary it lists
// once the file is written.
#pragma once

#include <string>

#include "sdts/writer.h"
#include "support/filesink.h"

namespace veloran {

inline constexpr const char* kDemName = "USGS DEM";

void WriteDemOutput(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                    IProgress& progress, IInfoPane& pane);

// The 11 summary lines of the DEM just written.
void ShowDemSummary(const TConversionState& state, const TGridTotals& totals, IInfoPane& pane);

}  // namespace veloran
