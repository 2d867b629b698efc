// The DEM writer's block buffer: one 1024-character block being assembled.
#pragma once

#include <array>
#include <cstdint>

namespace veloran {

inline constexpr int kDemBlockSize = 1024;

struct TDemBlock {
  std::array<char, kDemBlockSize> DemBlock{};
  int32_t DemBlockUsed = 0;  // characters of DemBlock holding text, 0 to 1023
};

}  // namespace veloran
