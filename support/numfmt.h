// Decimal forms of numbers: exact rounding to significant digits, and the
// integer and general real formats of the information pane.
#pragma once

#include <cstdint>
#include <string>

namespace veloran {

// A finite double rounded to n significant decimal digits, halves away from
// zero, judged on the exact binary value.
struct TDecimalDigits {
  bool Negative = false;
  bool Zero = false;     // the value is zero; Digits and Exponent are unused
  std::string Digits;    // exactly n digits, the first non-zero
  int Exponent = 0;      // value = d1.d2d3... x 10^Exponent
};
TDecimalDigits RoundToSignificant(double value, int n);

// Integer format: decimal, "-" for negatives, nothing else.
std::string FormatInt(int64_t value);

// General real format: 15 significant digits without trailing zeros, fixed
// notation from 1E-4 up to below 1E15, otherwise d.dddE[-]x; `sep` is the
// decimal separator. Non-finite values are written "NAN", "INF" or "-INF".
std::string FormatGeneralReal(double value, char sep);
std::string FormatGeneralReal(double value);  // with the user's separator
// The shortest decimal that reads back as `value`, as a double: 9.5f gives
// 9.5, not 9.5000000000000000. The same in every locale.
double ShortestDecimal(float value);

}  // namespace veloran
