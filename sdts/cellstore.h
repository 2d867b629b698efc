// Cell stores: zero-filled arrays in memory mapped for them alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veloran {

// Bytes mapped anonymously, from 2 MiB on in whole, aligned 2 MiB pieces
// (below that in plain pages): the kernel hands
// out zeroed pages only when a cell lands on them, as huge pages where it
// can, so room a small grid never touches costs nothing and needs no
// memset.
class TMappedBytes {
 public:
  TMappedBytes() = default;
  ~TMappedBytes();
  TMappedBytes(const TMappedBytes&) = delete;
  TMappedBytes& operator=(const TMappedBytes&) = delete;

  void* get() const { return Data; }
  // Room for at least `bytes`. A larger room is a new, zeroed one; a
  // smaller request keeps the room and what it holds.
  void Reserve(size_t bytes);

 private:
  void* Data = nullptr;  // within Mapping
  size_t Capacity = 0;   // bytes from Data on
  void* Mapping = nullptr;
  size_t MappedBytes = 0;
};

template <class T>
class TMappedArray {
 public:
  explicit TMappedArray(size_t count = 0) { Resize(count); }

  T* get() const { return static_cast<T*>(Room.get()); }
  T* data() const { return get(); }
  T& operator[](size_t i) const { return get()[i]; }
  size_t size() const { return Count; }
  bool empty() const { return Count == 0; }
  // Room for at least `count` cells, as TMappedBytes::Reserve.
  void Resize(size_t count) {
    if (count <= Count) return;
    if (count > SIZE_MAX / sizeof(T)) Room.Reserve(SIZE_MAX);  // fails
    Room.Reserve(count * sizeof(T));
    Count = count;
  }
  // No cells, the room kept for the next grid.
  void Clear() { Count = 0; }

 private:
  TMappedBytes Room;
  size_t Count = 0;  // cells asked for
};

using TCellStore = TMappedArray<uint16_t>;

}  // namespace veloran
