// Reads the cell module's CVLS values into the elevation grid.
#pragma once

#include <cstdint>
#include <functional>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

// Fills Cells row by row, each record at the row its CELL field names
// (ROWI, counted from LDEF's SORI; in the records' order where the module
// gives none), tracks ActualMin and ActualMax, and moves the progress from
// 0 to at most 100. Returns the number of cells read. A record naming a
// row outside the grid, or one filled already, is refused.
// What the reader keeps of the cells (the grid records it), and where a
// writer starts on them.
struct TCellRequest {
  bool KeepGrid = true;   // the grid of cells a DEM is written from
  bool KeepRaw = false;   // the transfer's own cells, as a GeoTIFF holds them
  std::function<void()> OnSized;  // called once the grid is sized, before its rows are read
};
int64_t ReadCells(TConversionState& state, IProgress& progress, const TCellRequest& request = {});

// Fills the grid from the raw cells when the reader kept only those
// (TElevationGrid::KeepGrid unset), as the reader would have filled it.
void EnsureGrid(TConversionState& state);

}  // namespace veloran
