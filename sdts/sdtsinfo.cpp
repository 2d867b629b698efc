#include "sdts/sdtsinfo.h"

#include <algorithm>

namespace veloran {

void TConversionState::Reset() {
  ModuleSet = TModuleSet();
  Info = TSdtsInfo();
  SwapFloatBytes = false;
  std::fill_n(Grid.Cells.get(), Grid.CellsStored, uint16_t{0});
  Grid.RowCount = Grid.ColCount = 0;
  Grid.CellsStored = 0;
}

}  // namespace veloran
