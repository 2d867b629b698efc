#include "sdts/cellstore.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace veloran {

TCellStore::TCellStore(size_t count) { Resize(count); }

void TCellStore::Resize(size_t count) {
  if (count <= Count) return;
  if (count > SIZE_MAX / sizeof(uint16_t)) throw std::bad_alloc();
  void* p = mmap(nullptr, count * sizeof(uint16_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Fewer page faults for large grids where the kernel offers huge pages.
  madvise(p, count * sizeof(uint16_t), MADV_HUGEPAGE);
#endif
  if (Data) munmap(Data, Count * sizeof(uint16_t));
  Data = static_cast<uint16_t*>(p);
  Count = count;
}

TCellStore::~TCellStore() {
  if (Data) munmap(Data, Count * sizeof(uint16_t));
}

}  // namespace veloran
