// One conversion from a chosen cell module file to a DEM file, and the DEM
// name proposed for it. Used by the desktop program and the command line.
#pragma once

#include <cstdint>
#include <string>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

// The transfer's IDEN title followed by ".dem", or New.dem without a title.
std::string MakeDefaultDemName(TConversionState& state, const std::string& cellPath);

// Reads the eight metadata modules and the cell module of the transfer whose
// cell file is `cellPath`; the progress runs to 50. Returns the cells read.
int64_t ReadSdtsTransfer(TConversionState& state, const std::string& cellPath, IProgress& progress);

// Reads the eight metadata modules and the cells, lists the report in the
// pane and writes the DEM. A failure ends the conversion with its message;
// the DEM path is never left holding a partial file.
void ConvertSdtsToDem(TConversionState& state, const std::string& cellPath, const std::string& demPath,
                      bool addNewLines, IInfoPane& pane);

// The 32 report lines describing the transfer just read.
void ShowSdtsInfo(const TConversionState& state, IInfoPane& pane);

}  // namespace veloran
