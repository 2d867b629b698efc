// Reads the cell module's CVLS values into the elevation grid.
#pragma once

#include <cstdint>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

// Fills Cells from index 0 in the order the module delivers them, tracks
// ActualMin and ActualMax, and moves the progress from 0 to at most 100.
// Returns the number of cells read.
int64_t ReadCells(TConversionState& state, IProgress& progress);

// Fills the grid from the raw cells when the reader kept only those
// (TElevationGrid::KeepGrid unset), as the reader would have filled it.
void EnsureGrid(TConversionState& state);

}  // namespace veloran
