// The cell store of the elevation grid: zero-filled 16-bit cells in memory
// of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veloran {

// The store is mapped anonymously: the kernel hands out zeroed pages only
// when a cell lands on them, so room a small grid never touches costs
// nothing, and needs no memset.
class TCellStore {
 public:
  explicit TCellStore(size_t count = 0);
  ~TCellStore();
  TCellStore(const TCellStore&) = delete;
  TCellStore& operator=(const TCellStore&) = delete;

  uint16_t* get() const { return Data; }
  uint16_t& operator[](size_t i) const { return Data[i]; }
  size_t size() const { return Count; }
  // Room for at least `count` cells. A larger store is a new, zeroed one;
  // a smaller request keeps the store and what it holds.
  void Resize(size_t count);

 private:
  uint16_t* Data = nullptr;  // within Mapping
  size_t Count = 0;     // cells asked for
  size_t Capacity = 0;  // cells the mapping holds from Data on
  void* Mapping = nullptr;
  size_t MappedBytes = 0;
};

}  // namespace veloran
