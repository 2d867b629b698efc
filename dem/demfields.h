// The DEM field primitives: every character of the file goes through the
// 1024-character block buffer; a text that does not fit starts the next
// block and is never split.
#pragma once

#include <cstdint>
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
void WriteIntField(TDemStream& out, int32_t value, int width);
void WriteD24Field(TDemStream& out, double value);
void WriteE12Field(TDemStream& out, double value);

// The D24.15 and E12.6 texts, "." as decimal point whatever the locale.
// A non-finite value fails as the arithmetic that made it would have.
std::string FormatD24(double value);
std::string FormatE12(double value);

}  // namespace veloran
