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

inline constexpr const char* kNoElevationsMessage = "The transfer holds no elevations";

[[noreturn]] inline void Fail(const std::string& message) { throw TConvertError(message); }

// Runs `f`; a failure whose message does not already name `fileName` gets
// " in FILE" added, so that every message says which file it comes from.
template <class F>
void NameFileOnFailure(const std::string& fileName, F&& f) {
  try {
    f();
  } catch (const TConvertError& e) {
    const std::string message = e.what();
    if (message.find(fileName) != std::string::npos) throw;
    Fail(message + " in " + fileName);
  }
}

}  // namespace veloran
