#include "support/numfmt.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/textutil.h"

namespace veloran {

namespace {

// Digits of |value| in "d.ddd...e+x" form with `precision` digits after the
// point. glibc prints the exact binary value correctly rounded.
int PrintScientific(double magnitude, int precision, char* buf, int size) {
  return std::snprintf(buf, static_cast<size_t>(size), "%.*e", precision, magnitude);
}

// Splits "d.dddde+x" into its digit string and exponent.
void SplitScientific(const char* text, std::string& digits, int& exponent) {
  digits.clear();
  const char* c = text;
  // Digits only: the decimal point printf writes follows the process locale.
  for (; *c && *c != 'e'; ++c)
    if (*c >= '0' && *c <= '9') digits.push_back(*c);
  exponent = (*c == 'e') ? std::atoi(c + 1) : 0;
}

}  // namespace

TDecimalDigits RoundToSignificant(double value, int n) {
  TDecimalDigits result;
  if (value == 0) {
    result.Zero = true;
    return result;
  }
  result.Negative = std::signbit(value);
  const double magnitude = std::fabs(value);

  // Whole numbers below 2^53 have at most 16 digits and need no printf.
  if (magnitude < 9007199254740992.0 && magnitude == std::trunc(magnitude)) {
    char whole[24];
    const auto end = std::to_chars(whole, whole + sizeof whole, static_cast<uint64_t>(magnitude)).ptr;
    const int length = static_cast<int>(end - whole);
    if (length <= n) {
      result.Digits.assign(whole, static_cast<size_t>(length));
      result.Digits.append(static_cast<size_t>(n - length), '0');
      result.Exponent = length - 1;
      return result;
    }
  }

  // 24 guard digits decide the rounding except when they show an exact half,
  // which the full expansion (at most 767 significant digits) confirms.
  char buf[1100];
  PrintScientific(magnitude, n + 23, buf, sizeof buf);
  std::string digits;
  int exponent = 0;
  SplitScientific(buf, digits, exponent);

  bool roundUp = false;
  const char guard = digits[static_cast<size_t>(n)];
  if (guard > '5') {
    roundUp = true;
  } else if (guard == '5') {
    bool restZero = digits.find_first_not_of('0', static_cast<size_t>(n) + 1) == std::string::npos;
    if (!restZero) {
      roundUp = true;
    } else {
      // Either an exact half (round away from zero) or just below it: the
      // exact expansion tells. Rounding the guard digits up to ...5000 can
      // only have come from ...4999, so the leading n digits are the same.
      std::string exact;
      int exactExponent = 0;
      PrintScientific(magnitude, 800, buf, sizeof buf);
      SplitScientific(buf, exact, exactExponent);
      roundUp = exact[static_cast<size_t>(n)] >= '5';
    }
  }
  digits.resize(static_cast<size_t>(n));
  if (roundUp) {
    int i = n - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++digits[static_cast<size_t>(i)];
    } else {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    }
  }
  result.Digits = std::move(digits);
  result.Exponent = exponent;
  return result;
}

std::string FormatInt(int64_t value) { return std::to_string(value); }

std::string FormatGeneralReal(double value, char sep) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  const TDecimalDigits d = RoundToSignificant(value, 15);
  if (d.Zero) return "0";
  std::string digits = d.Digits;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int e = d.Exponent;
  std::string out = d.Negative ? "-" : "";
  if (e >= -4 && e < 15) {
    if (e >= 0) {
      const size_t intLen = static_cast<size_t>(e) + 1;
      if (digits.size() <= intLen) {
        out += digits;
        out.append(intLen - digits.size(), '0');
      } else {
        out += digits.substr(0, intLen);
        out += sep;
        out += digits.substr(intLen);
      }
    } else {
      out += '0';
      out += sep;
      out.append(static_cast<size_t>(-e - 1), '0');
      out += digits;
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += sep;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(e);
  }
  return out;
}

std::string FormatGeneralReal(double value) { return FormatGeneralReal(value, IndeSystemData().DecimalSeparator()); }

double ShortestDecimal(float value) {
  char text[32];
#if defined(__cpp_lib_to_chars)
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  double shortest = 0;
  std::from_chars(text, end, shortest);
  return shortest;
#else
  // A library without floating-point to_chars (emscripten's libc++, whose C
  // locale always reads a point): the fewest significant digits that read
  // back as the value.
  for (int digits = 1; digits < 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) return std::strtod(text, nullptr);
  }
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return std::strtod(text, nullptr);
#endif
}

}  // namespace veloran
