// The DEM field primitives: every character of the file goes through the
// 1024-character block buffer; a text that does not fit starts the next
// block and is never split.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "dem/demblock.h"
#include "dem/output.h"

namespace veloran {

// The file being written together with the block being assembled.
struct TDemStream {
  IByteSink& Sink;
  TDemBlock& Block;
};

void FlushDemBlock(TDemStream& out);
// A text of at most 1023 characters; a longer one is cut to 1023.
void WriteDemText(TDemStream& out, std::string_view text);
void WriteRightField(TDemStream& out, std::string_view text, int width);
void WriteLeftField(TDemStream& out, std::string_view text, int width);
void WriteIntField(TDemStream& out, int32_t value, int width);  // inline below
void WriteIntFieldText(TDemStream& out, int32_t value, int width);
void WriteD24Field(TDemStream& out, double value);
void WriteE12Field(TDemStream& out, double value);

// The D24.15 and E12.6 texts, "." as decimal point whatever the locale.
// A non-finite value fails as the arithmetic that made it would have.
std::string FormatD24(double value);
std::string FormatE12(double value);

// Two-character forms of 0 to 99, zero-padded ("07") and blank-padded
// (" 7"), small enough to stay in the first-level cache.
struct TDigitPairs {
  char Zero[100][2]{};
  char Blank[100][2]{};
  constexpr TDigitPairs() {
    for (int v = 0; v < 100; ++v) {
      Zero[v][0] = static_cast<char>('0' + v / 10);
      Zero[v][1] = static_cast<char>('0' + v % 10);
      Blank[v][0] = v < 10 ? ' ' : Zero[v][0];
      Blank[v][1] = Zero[v][1];
    }
  }
};
inline constexpr TDigitPairs kDigitPairs{};

// 0 to 99,999 right-aligned in 6 characters at p.
inline void FormatElevation(char* p, int32_t value) {
  p[0] = ' ';
  if (value < 10000) {
    const int32_t high = value / 100, low = value % 100;
    p[1] = ' ';
    if (high == 0) {
      p[2] = p[3] = ' ';
      std::memcpy(p + 4, kDigitPairs.Blank[low], 2);
    } else {
      std::memcpy(p + 2, kDigitPairs.Blank[high], 2);
      std::memcpy(p + 4, kDigitPairs.Zero[low], 2);
    }
  } else {
    const int32_t rest = value % 10000;
    p[1] = static_cast<char>('0' + value / 10000);
    std::memcpy(p + 2, kDigitPairs.Zero[rest / 100], 2);
    std::memcpy(p + 4, kDigitPairs.Zero[rest % 100], 2);
  }
}

inline void WriteIntField(TDemStream& out, int32_t value, int width) {
  // Elevations take this path: 0 to 99,999 and the void value in width 6,
  // formatted straight into the block.
  if (width != 6 || !((value >= 0 && value < 100000) || value == -9999)) {
    WriteIntFieldText(out, value, width);
    return;
  }
  TDemBlock& b = out.Block;
  if (b.DemBlockUsed + 6 >= kDemBlockSize) FlushDemBlock(out);
  char* p = b.DemBlock.data() + b.DemBlockUsed;
  if (value == -9999) {
    std::memcpy(p, " -9999", 6);
  } else {
    FormatElevation(p, value);
  }
  b.DemBlockUsed += 6;
}

// Writes a run of elevations in width 6, as WriteIntField does one by one,
// and counts the void ones. The hot loop of the writer: the block position
// stays in a register.
inline void WriteElevationFields(TDemStream& out, const int32_t* values, int32_t count, int32_t voidValue,
                                 int32_t& voidCount) {
  TDemBlock& b = out.Block;
  int32_t used = b.DemBlockUsed;
  char* const block = b.DemBlock.data();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t value = values[i];
    voidCount += value == voidValue;
    if (used + 6 >= kDemBlockSize) {
      b.DemBlockUsed = used;
      FlushDemBlock(out);
      used = 0;
    }
    if (value >= 0 && value < 100000) {
      FormatElevation(block + used, value);
    } else if (value == -9999) {
      std::memcpy(block + used, " -9999", 6);
    } else {
      b.DemBlockUsed = used;
      WriteIntFieldText(out, value, 6);
      used = b.DemBlockUsed;
      continue;
    }
    used += 6;
  }
  b.DemBlockUsed = used;
}

}  // namespace veloran
