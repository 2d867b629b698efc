#include "sdts/cellstore.h"

#include "sdts/sdtsinfo.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <utility>

namespace veloran {

TCellStore::TCellStore(size_t count) : Count(count) {
  if (count == 0) return;
  void* p = mmap(nullptr, count * sizeof(uint16_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Fewer page faults for large grids where the kernel offers huge pages.
  madvise(p, count * sizeof(uint16_t), MADV_HUGEPAGE);
#endif
  Data = static_cast<uint16_t*>(p);
}

TCellStore::~TCellStore() {
  if (Data) munmap(Data, Count * sizeof(uint16_t));
}

TCellStore::TCellStore(TCellStore&& other) noexcept
    : Data(std::exchange(other.Data, nullptr)), Count(std::exchange(other.Count, 0)) {}

TCellStore& TCellStore::operator=(TCellStore&& other) noexcept {
  if (this != &other) {
    if (Data) munmap(Data, Count * sizeof(uint16_t));
    Data = std::exchange(other.Data, nullptr);
    Count = std::exchange(other.Count, 0);
  }
  return *this;
}

void TConversionState::Reset() {
  ModuleSet = TModuleSet();
  Info = TSdtsInfo();
  SwapFloatBytes = false;
  std::fill_n(Grid.Cells.get(), Grid.CellsStored, uint16_t{0});
  Grid.RowCount = Grid.ColCount = 0;
  Grid.CellsStored = 0;
}

}  // namespace veloran
