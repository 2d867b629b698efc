// The one exception type of the conversion core: it carries the exact text
// the user is shown.
#pragma once

#include <stdexcept>
#include <string>

namespace veloran {

class TConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Messages of floating-point faults, as the user knows them.
inline constexpr const char* kDivByZeroMessage = "Floating point division by zero";
inline constexpr const char* kInvalidOpMessage = "Invalid floating point operation";
inline constexpr const char* kOverflowMessage = "Floating point overflow";

[[noreturn]] inline void Fail(const std::string& message) { throw TConvertError(message); }

}  // namespace veloran
