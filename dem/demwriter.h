// Writes the USGS DEM file from the metadata record and the grid: record A,
// one south-to-north profile per grid column from west to east, record C;
// then lists the output summary.
#pragma once

#include <string>

#include "support/filesink.h"
#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {


// value - step * trunc(value / step), in extended precision. Fails with the
// runtime's messages for a zero step.
double RealRemainder(double value, double step);

// Writes the whole file to `sink` and moves the progress from 0 towards 100.
void WriteDemRecords(const TConversionState& state, IByteSink& sink, bool addNewLines, IProgress& progress,
                     const std::string& date);

// Writes `demFileName` safely (see TFileSink; `sync` makes it durable,
// `background` may write its buffers on a free thread)
// and returns what its profiles hold. A grid that does not fit the cell
// store, or has no rows or no columns, is refused before any file is
// created.
TGridTotals WriteDemFile(const TConversionState& state, const std::string& demFileName, bool addNewLines,
                         IProgress& progress, bool sync = true, TExecutor* background = nullptr);

}  // namespace veloran
