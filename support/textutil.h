// Text and number utilities shared by the reader and the writer.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace veloran {

// The user's regional decimal separator, read once from the environment
// (LC_ALL / LC_NUMERIC / LANG) without touching the process locale.
class TIndeSystemData {
 public:
  explicit TIndeSystemData(char decimalSeparator) : Separator(decimalSeparator) {}
  static TIndeSystemData FromEnvironment();
  char DecimalSeparator() const { return Separator; }

 private:
  char Separator;
};

// The single instance, created on first use and only read afterwards.
const TIndeSystemData& IndeSystemData();

std::string PadLeftWith(std::string_view text, int width, char fill);
std::string PadRightWith(std::string_view text, int width, char fill);
inline std::string PadLeft(std::string_view text, int width) { return PadLeftWith(text, width, ' '); }
inline std::string PadRight(std::string_view text, int width) { return PadRightWith(text, width, ' '); }

inline bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// Scans the next number of `text` from the 1-based position `p`; leaves `p`
// on the first character not taken. Returns false when no digit follows.
// Throws TConvertError for a number beyond the range of a double.
bool ScanNumber(std::string_view text, int& p, double& value, char sep);

// The first number in `text`, or 0 when there is none.
double FirstNumber(std::string_view text, char sep);

// Strict decimal text to 32-bit integer: leading blanks and one sign, then
// digits to the end. Returns false for anything else or on overflow.
bool TryStrToInt(std::string_view text, int32_t& value);
// The same, failing with "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
// The text without the blanks around it.
std::string_view TrimBlanks(std::string_view text);
// A whole text as a finite real written with "." (blanks around it
// allowed, nothing else): false for an empty text, "12abc" or "NaN".
bool TryStrToReal(std::string_view text, double& value);

// The length in bytes of the character of `text` at `i`, a whole UTF-8
// sequence when one starts there; `control` tells whether it is a control
// character: C0 (below 0x20), DEL, or C1 (U+0080 to U+009F), as UTF-8 or
// as a single byte 0x80 to 0x9F outside any UTF-8 sequence.
size_t NextCharacter(std::string_view text, size_t i, bool& control);

// Byte strings equal, or ending in `end`, ignoring the case of A to Z.
bool SameIgnoringCase(std::string_view a, std::string_view b);
bool EndsWithIgnoringCase(std::string_view text, std::string_view end);

// The names in a folder (the current one when `dir` is empty), without "."
// and ".."; false when it cannot be read.
bool ListFolder(const std::string& dir, std::vector<std::string>& names);
// Whether `path` is a folder (a link to one included).
bool IsFolder(const std::string& path);

// The path of `name` in the folder `dir`: "dir/name", or `name` alone when
// `dir` is empty.
std::string InFolder(const std::string& dir, const std::string& name);

// The time a conversion is dated: the instant in SOURCE_DATE_EPOCH (with
// `fixed` set, to be shown in UTC) when it holds seconds of the years 1970
// to 9999, so that a conversion can be repeated byte for byte; otherwise now.
std::time_t ConversionTime(bool& fixed);
// The same as broken-down time: in UTC when fixed, else local.
std::tm ConversionDate();

// A file's last-modification time as local broken-down time.
// Fails with "Invalid argument to date encode" when the file is missing.
std::tm FileDate(const std::string& fileName);

}  // namespace veloran
