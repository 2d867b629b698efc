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

// Four-character forms of 0 to 9999, zero-padded and blank-padded, built
// at compile time: elevations are formatted by table, not by division.
struct TDigitTables {
  char Zero[10000][4]{};
  char Blank[10000][4]{};
  constexpr TDigitTables() {
    for (int v = 0; v < 10000; ++v) {
      int x = v;
      for (int k = 3; k >= 0; --k, x /= 10) {
        Zero[v][k] = static_cast<char>('0' + x % 10);
        Blank[v][k] = (x == 0 && k < 3) ? ' ' : Zero[v][k];
      }
    }
  }
};
inline constexpr TDigitTables kDigitTables{};

inline void WriteIntField(TDemStream& out, int32_t value, int width) {
  // Every elevation takes this path: 0 to 99,999 and the void value in
  // width 6, formatted straight into the block.
  if (width != 6 || !((value >= 0 && value < 100000) || value == -9999)) {
    WriteIntFieldText(out, value, width);
    return;
  }
  TDemBlock& b = out.Block;
  if (b.DemBlockUsed + 6 >= kDemBlockSize) FlushDemBlock(out);
  char* p = b.DemBlock.data() + b.DemBlockUsed;
  if (value == -9999) {
    std::memcpy(p, " -9999", 6);
  } else if (value < 10000) {
    p[0] = p[1] = ' ';
    std::memcpy(p + 2, kDigitTables.Blank[value], 4);
  } else {
    p[0] = ' ';
    p[1] = static_cast<char>('0' + value / 10000);
    std::memcpy(p + 2, kDigitTables.Zero[value % 10000], 4);
  }
  b.DemBlockUsed += 6;
}

// Writes a run of elevations in width 6, as WriteIntField does one by one,
// and counts the void ones. The hot loop of the writer: the block position
// stays in a register.
inline void WriteElevationFields(TDemStream& out, const int32_t* values, int32_t count, int32_t voidValue,
                                 int32_t& voidCount) {
  TDemBlock& b = out.Block;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t value = values[i];
    if (value == voidValue) ++voidCount;
    if (value < 0 || value >= 100000) {
      WriteIntField(out, value, 6);
      continue;
    }
    int32_t used = b.DemBlockUsed;
    if (used + 6 >= kDemBlockSize) {
      FlushDemBlock(out);
      used = 0;
    }
    // Stored straight into the block: a field assembled on the stack and
    // copied would stall on store forwarding.
    char* p = b.DemBlock.data() + used;
    p[0] = ' ';
    if (value < 10000) {
      p[1] = ' ';
      std::memcpy(p + 2, kDigitTables.Blank[value], 4);
    } else {
      p[1] = static_cast<char>('0' + value / 10000);
      std::memcpy(p + 2, kDigitTables.Zero[value % 10000], 4);
    }
    b.DemBlockUsed = used + 6;
  }
}

}  // namespace veloran
