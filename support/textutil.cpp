#include "support/textutil.h"

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "support/errors.h"

namespace veloran {

TIndeSystemData TIndeSystemData::FromEnvironment() {
  char sep = '.';
  if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", locale_t(0))) {
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    // Only single-byte separators can stand in a byte string of digits.
    if (radix && radix[0] != '\0' && radix[1] == '\0') sep = radix[0];
    freelocale(loc);
  }
  return TIndeSystemData(sep);
}

const TIndeSystemData& IndeSystemData() {
  static const TIndeSystemData instance = TIndeSystemData::FromEnvironment();
  return instance;
}

size_t NextCharacter(std::string_view text, size_t i, bool& control) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    control = lead < 0x20 || lead == 0x7F;
    return 1;
  }
  const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  bool valid = length > 0 && i + length <= text.size();
  for (size_t k = 1; valid && k < length; ++k) valid = (byte(i + k) & 0xC0) == 0x80;
  if (!valid) {
    control = lead <= 0x9F;
    return 1;
  }
  control = lead == 0xC2 && byte(i + 1) <= 0x9F;
  return length;
}

std::time_t ConversionTime(bool& fixed) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  char* end = nullptr;
  errno = 0;
  const long long seconds = epoch ? std::strtoll(epoch, &end, 10) : 0;
  // Only dates of years 1970 to 9999 fit the DEM's date; another value is
  // ignored like one that is no number.
  constexpr long long kLastSecondOf9999 = 253402300799;
  fixed = epoch && *epoch && end && *end == '\0' && errno == 0 && seconds >= 0 && seconds <= kLastSecondOf9999;
  return fixed ? static_cast<std::time_t>(seconds) : std::time(nullptr);
}

std::tm ConversionDate() {
  bool fixed = false;
  const std::time_t when = ConversionTime(fixed);
  std::tm parts{};
  if (fixed) {
    gmtime_r(&when, &parts);
  } else {
    localtime_r(&when, &parts);
  }
  return parts;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && SameIgnoringCase(text.substr(text.size() - end.size()), end);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListFolder(const std::string& dir, std::vector<std::string>& names) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (const dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(d);
  return true;
}

std::string InFolder(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string PadLeftWith(std::string_view text, int width, char fill) {
  const int n = width - static_cast<int>(text.size());
  std::string result;
  if (n > 0) result.assign(static_cast<size_t>(n), fill);
  result.append(text);
  return result;
}

std::string PadRightWith(std::string_view text, int width, char fill) {
  const int n = width - static_cast<int>(text.size());
  std::string result(text);
  if (n > 0) result.append(static_cast<size_t>(n), fill);
  return result;
}

namespace {

// Converts the number text collected by ScanNumber: optional "-", digits with
// at most one `sep`, optional exponent letter with optional "-" and digits
// (no digits counts as exponent 0).
double ConvertNumberText(const std::string& number, char sep) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  std::string text;
  text.reserve(number.size() + 1);
  for (char c : number) text.push_back(c == sep ? '.' : c);
  // "1E" or "1E-": an exponent without digits is exponent 0.
  while (!text.empty() && (text.back() == '-' || text.back() == 'E' || text.back() == 'e')) text.pop_back();
  const double value = strtod_l(text.c_str(), nullptr, cLocale);
  if (std::isinf(value)) Fail("'" + number + "' is beyond the range of a real number");
  return value;
}

}  // namespace

bool ScanNumber(std::string_view s, int& p, double& value, char sep) {
  value = 0;
  std::string number;
  bool sepSeen = false;
  const int len = static_cast<int>(s.size());
  if (len == 0) return false;
  if (p < 1) p = 1;

  bool found = false;
  while (p <= len) {
    const char c = s[static_cast<size_t>(p - 1)];
    if (c == '-') {
      if (number.empty()) number.push_back(c);
    } else if (c == sep && !sepSeen) {
      number.push_back(c);
      sepSeen = true;
    } else if (IsDigitChar(c)) {
      found = true;
      break;
    } else {
      number.clear();
      sepSeen = false;
    }
    ++p;
  }
  if (!found) return false;

  while (p <= len) {
    const char c = s[static_cast<size_t>(p - 1)];
    if (IsDigitChar(c)) {
      number.push_back(c);
    } else if (c == sep) {
      if (sepSeen) break;
      sepSeen = true;
      number.push_back(c);
    } else {
      break;
    }
    ++p;
  }

  if (p <= len && (s[static_cast<size_t>(p - 1)] == 'E' || s[static_cast<size_t>(p - 1)] == 'e')) {
    number.push_back(s[static_cast<size_t>(p - 1)]);
    ++p;
    while (p <= len && s[static_cast<size_t>(p - 1)] == '-') {
      if (number.back() != '-') number.push_back('-');
      ++p;
    }
    while (p <= len && IsDigitChar(s[static_cast<size_t>(p - 1)])) {
      number.push_back(s[static_cast<size_t>(p - 1)]);
      ++p;
    }
  }

  value = ConvertNumberText(number, sep);
  return true;
}

double FirstNumber(std::string_view text, char sep) {
  int p = 1;
  double value = 0;
  return ScanNumber(text, p, value, sep) ? value : 0.0;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigitChar(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  const int64_t v = negative ? -magnitude : magnitude;
  if (v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) Fail("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool TryStrToReal(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || !(IsDigitChar(text[0]) || text[0] == '-' || text[0] == '.')) return false;
#if defined(__cpp_lib_to_chars)
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
#else
  // A library without floating-point from_chars (emscripten's libc++, whose
  // C locale always reads a point).
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtod(copy.c_str(), &end);
  return errno == 0 && end == copy.c_str() + copy.size() && std::isfinite(value);
#endif
}

std::tm FileDate(const std::string& fileName) {
  struct stat st {};
  if (stat(fileName.c_str(), &st) != 0) Fail("Invalid argument to date encode");
  std::tm local{};
  localtime_r(&st.st_mtime, &local);
  return local;
}

}  // namespace veloran
