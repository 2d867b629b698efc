#include "sdts/sdtsinfo.h"

#include <algorithm>

namespace veloran {

void TConversionState::Reset() {
  ModuleSet = TModuleSet();
  Info = TSdtsInfo();
  SwapFloatBytes = false;
  std::fill_n(Grid.Cells.get(), Grid.CellsStored, uint16_t{0});
  Grid.RowCount = Grid.ColCount = 0;
  Grid.FirstRowIndex = Grid.FirstColumnIndex = 1;
  Grid.CellsStored = 0;
  Grid.RawInt16.Clear();
  Grid.RawFloat.Clear();
  Grid.RawTotals = {};
  Grid.RowsRead = 0;
  Grid.KeepGrid = true;
  Grid.KeepRaw = false;
}

TColumnEdges ColumnEdges(const TElevationGrid& grid) {
  const int32_t rows = grid.RowCount, cols = grid.ColCount;
  TColumnEdges edges{std::vector<int32_t>(static_cast<size_t>(cols), -1),
                     std::vector<int32_t>(static_cast<size_t>(cols), -1)};
  // The first elevation met in each column from either end: for a full
  // grid, one row from each end settles every column.
  auto settle = [&](std::vector<int32_t>& edge, int32_t from, int32_t step) {
    int32_t open = cols;
    for (int32_t r = from; open > 0 && r >= 0 && r < rows; r += step) {
      const uint16_t* row = grid.Cells.get() + int64_t{r} * cols;
      for (int32_t c = 0; c < cols; ++c)
        if (edge[static_cast<size_t>(c)] < 0 && row[c] != 0) {
          edge[static_cast<size_t>(c)] = r;
          --open;
        }
    }
  };
  settle(edges.North, 0, 1);
  settle(edges.South, rows - 1, -1);
  return edges;
}

}  // namespace veloran
