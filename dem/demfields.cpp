#include "dem/demfields.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "sdts/sdtsinfo.h"
#include "support/errors.h"
#include "support/numfmt.h"
#include "support/textutil.h"

namespace veloran {

void FlushDemBlock(TDemStream& out) {
  TDemBlock& b = out.Block;
  std::memset(b.DemBlock.data() + b.DemBlockUsed, ' ', static_cast<size_t>(kDemBlockSize - b.DemBlockUsed));
  out.Sink.Write(b.DemBlock.data(), kDemBlockSize);
  b.DemBlockUsed = 0;
}

void WriteDemText(TDemStream& out, std::string_view text) {
  if (text.empty()) return;
  if (text.size() >= kDemBlockSize) text = text.substr(0, kDemBlockSize - 1);
  TDemBlock& b = out.Block;
  if (b.DemBlockUsed + static_cast<int32_t>(text.size()) >= kDemBlockSize) FlushDemBlock(out);
  std::memcpy(b.DemBlock.data() + b.DemBlockUsed, text.data(), text.size());
  b.DemBlockUsed += static_cast<int32_t>(text.size());
}

void WriteRightField(TDemStream& out, std::string_view text, int width) { WriteDemText(out, PadLeft(text, width)); }

void WriteLeftField(TDemStream& out, std::string_view text, int width) { WriteDemText(out, PadRight(text, width)); }

namespace {

[[noreturn]] void DoesNotFit(std::string_view field, const std::string& value, int width) {
  Fail(TErrorKind::Unsupported, "The " + std::string(field) + " " + value + " does not fit its DEM field of " + std::to_string(width) +
       " characters");
}

}  // namespace

void WriteIntField(TDemStream& out, int32_t value, int width, std::string_view field) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const std::string_view text(digits, static_cast<size_t>(end - digits));
  if (static_cast<int>(text.size()) > width) DoesNotFit(field, std::string(text), width);
  WriteRightField(out, text, width);
}

namespace {

// The table is computed by the compiler and lies in the program's read-only
// data: no process builds it, and its pages are shared by every process.
constexpr TCellFields MakeCellFields() {
  TCellFields table{};
  for (int cell = 0; cell < 65536; ++cell) {
    int value = cell == 0 ? kVoidElevation : cell - kCellOffset;
    const bool negative = value < 0;
    value = negative ? -value : value;
    int at = 5;
    do {
      table.Text[cell * 6 + at--] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0);
    if (negative) table.Text[cell * 6 + at--] = '-';
    while (at >= 0) table.Text[cell * 6 + at--] = ' ';
  }
  return table;
}

constexpr TCellFields kCellFields = MakeCellFields();

}  // namespace

const TCellFields& CellFields() { return kCellFields; }

namespace {

void CheckFinite(double value) {
  if (std::isnan(value)) Fail(kInvalidOpMessage);
  if (std::isinf(value)) Fail(kOverflowMessage);
}

// d.ddd...<letter><sign><exponent of at least expDigits digits>
std::string Scientific(double value, int digits, char letter, int expDigits) {
  const TDecimalDigits d = RoundToSignificant(value, digits);
  std::string text;
  text.reserve(static_cast<size_t>(digits) + 8);
  if (d.Negative) text += '-';
  text += d.Digits[0];
  text += '.';
  text.append(d.Digits, 1, std::string::npos);
  text += letter;
  text += d.Exponent < 0 ? '-' : '+';
  const std::string exponent = std::to_string(std::abs(d.Exponent));
  if (static_cast<int>(exponent.size()) < expDigits) text.append(static_cast<size_t>(expDigits) - exponent.size(), '0');
  text += exponent;
  return text;
}

}  // namespace

std::string FormatD24(double value) {
  CheckFinite(value);
  if (value == 0) return "  0.000000000000000D+000";
  const std::string text = Scientific(value, 16, 'D', 3);
  return (text[0] == '-' ? " " : "  ") + text;
}

std::string FormatE12(double value) {
  CheckFinite(value);
  if (value == 0) return "0.0         ";
  return Scientific(value, 7, 'E', 2);
}

void WriteD24Field(TDemStream& out, double value) { WriteDemText(out, FormatD24(value)); }

void WriteE12Field(TDemStream& out, double value, std::string_view field) {
  const std::string text = FormatE12(value);
  if (text.size() > 12) DoesNotFit(field, FormatGeneralReal(value, '.'), 12);
  WriteDemText(out, text);
}

}  // namespace veloran
