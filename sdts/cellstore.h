// The cell store of the elevation grid: zero-filled 16-bit cells in memory
// of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veloran {

// The store is mapped anonymously: the kernel hands out zeroed pages only
// when a cell lands on them, so a 4,000,001-cell store costs nothing for
// the cells a small grid never touches, and needs no memset.
class TCellStore {
 public:
  explicit TCellStore(size_t count);
  ~TCellStore();
  TCellStore(const TCellStore&) = delete;
  TCellStore& operator=(const TCellStore&) = delete;

  uint16_t* get() const { return Data; }
  uint16_t& operator[](size_t i) const { return Data[i]; }
  size_t size() const { return Count; }

 private:
  uint16_t* Data = nullptr;
  size_t Count = 0;
};

}  // namespace veloran
