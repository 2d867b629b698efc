// A TIFF assembled in memory with libtiff, then written through the safe
// file output; libtiff knows the GeoTIFF tags and GDAL's no-data tag.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "sdts/cellstore.h"

namespace veloran {

inline constexpr ttag_t kGdalNoDataTag = 42113;

// The TIFF is assembled in memory (libtiff seeks back to finish its
// directories), then written through the safe file output. Its room is
// mapped for the largest file the grid can give, so that it never moves
// and only the pages written are faulted in: on this kind of machine a
// page fault costs microseconds, and a string grown by appending cost a
// 1201 x 1201 COG 2,900 faults.
class TMemoryFile {
 public:
  explicit TMemoryFile(size_t capacity) { Grow(capacity); }
  const char* data() const { return static_cast<const char*>(Room->get()); }
  size_t size() const { return Size; }
  size_t Position = 0;

  void WriteAt(size_t at, const void* bytes, size_t n) {
    if (at + n > Capacity) Grow(std::max(at + n, 2 * Capacity));
    std::memcpy(static_cast<char*>(Room->get()) + at, bytes, n);
    Size = std::max(Size, at + n);
  }
  void Append(const void* bytes, size_t n) { WriteAt(Size, bytes, n); }

 private:
  void Grow(size_t capacity) {
    auto larger = std::make_unique<TMappedBytes>();
    larger->Reserve(capacity);
    if (Room) std::memcpy(larger->get(), Room->get(), Size);
    Room = std::move(larger);
    Capacity = capacity;
  }
  std::unique_ptr<TMappedBytes> Room;
  size_t Capacity = 0, Size = 0;
};

// Opens `file` for writing a TIFF named `name` in messages; libtiff's first
// complaint lands in `error`. Null when libtiff cannot.
TIFF* OpenMemoryTiff(const std::string& name, TMemoryFile& file, std::string& error);

}  // namespace veloran
