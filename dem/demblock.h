// The DEM writer's block buffer: one 1024-character block being assembled.
#pragma once

#include <array>
#include <cstdint>

namespace veloran {

inline constexpr int kDemBlockSize = 1024;

struct TDemBlock {
  // Two characters of slack after the block: a 6-character field is copied
  // as 8 bytes, and the 2 past its end are overwritten by what follows.
  std::array<char, kDemBlockSize + 2> DemBlock{};
  int32_t DemBlockUsed = 0;  // characters of DemBlock holding text, 0 to 1023
};

}  // namespace veloran
