// The DEM field primitives: every character of the file goes through the
// 1024-character block buffer; a text that does not fit starts the next
// block and is never split.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "dem/demblock.h"
#include "support/filesink.h"

namespace veloran {

// The USGS DEM standard's value of a cell without an elevation.
inline constexpr int32_t kVoidElevation = -32767;

// The file being written together with the block being assembled; the
// writer owns the block.
struct TDemStream {
  IByteSink& Sink;
  TDemBlock Block{};
};

void FlushDemBlock(TDemStream& out);
// A text of at most 1023 characters; a longer one is cut to 1023.
void WriteDemText(TDemStream& out, std::string_view text);
void WriteRightField(TDemStream& out, std::string_view text, int width);
void WriteLeftField(TDemStream& out, std::string_view text, int width);
// Fixed-width number fields. A value whose text is wider than its field
// fails with a message naming `field` and the value: a DEM whose columns
// slide is read wrongly by every other program.
void WriteIntField(TDemStream& out, int32_t value, int width, std::string_view field);
void WriteD24Field(TDemStream& out, double value);
void WriteE12Field(TDemStream& out, double value, std::string_view field);

// The D24.15 and E12.6 texts, "." as decimal point whatever the locale.
// A non-finite value fails as the arithmetic that made it would have.
std::string FormatD24(double value);
std::string FormatE12(double value);

// The width-6 field of every grid cell: "-32767" for a void cell (0),
// otherwise its elevation (cell - 1000), a table in read-only data; the
// writer writes each elevation with one copy.
struct TCellFields {
  // Field of cell c at Text + 6 c; 2 bytes of slack after the last, which the
  // writer's 8-byte copy reads.
  char Text[65536 * 6 + 2];
  const char* Field(uint16_t cell) const { return Text + size_t{cell} * 6; }
};
const TCellFields& CellFields();

// Writes a run of cells as elevation fields in width 6, as WriteIntField
// would one by one, and counts the void ones. The hot loop of the writer:
// the block position stays in a register.
inline void WriteCellFields(TDemStream& out, const uint16_t* cells, int32_t count, int32_t& voidCount) {
  const TCellFields& fields = CellFields();
  TDemBlock& b = out.Block;
  char* const block = b.DemBlock.data();
  int32_t used = b.DemBlockUsed;
  int32_t voids = 0;
  while (count > 0) {
    // A field fits while it ends before the block's last character.
    if (used + 6 >= kDemBlockSize) {
      b.DemBlockUsed = used;
      FlushDemBlock(out);
      used = 0;
    }
    const int32_t room = (kDemBlockSize - 1 - used) / 6;
    const int32_t n = room < count ? room : count;
    for (int32_t i = 0; i < n; ++i) {
      // One 8-byte move instead of a 4- and a 2-byte one (see TDemBlock).
      std::memcpy(block + used, fields.Field(cells[i]), 8);
      voids += cells[i] == 0;
      used += 6;
    }
    cells += n;
    count -= n;
  }
  voidCount += voids;
  b.DemBlockUsed = used;
}

}  // namespace veloran
