// The one exception type of the conversion core: it carries the exact text
// the user is shown, and a kind that callers branch on, never parsing the
// text: a batch counts its failures by kind, the desktop shows no box for
// what the user canceled, the GDAL plugin gives GDAL the kind's error
// number.
#pragma once

#include <stdexcept>
#include <string>

namespace veloran {

enum class TErrorKind {
  NotFound,      // an input that is not there or cannot be opened
  NotATransfer,  // a file or folder that is no SDTS transfer
  Malformed,     // a transfer (or archive) whose content is damaged
  Unsupported,   // a transfer the outputs cannot hold (cell format, datum, unit...)
  OutputIo,      // an output that cannot be created or written
  OutOfMemory,   // memory or threads ran out
  Cancelled,     // the user stopped it
};

class TConvertError : public std::runtime_error {
 public:
  TConvertError(TErrorKind kind, const std::string& message) : std::runtime_error(message), ErrorKind(kind) {}
  TErrorKind Kind() const { return ErrorKind; }

 private:
  TErrorKind ErrorKind;
};

// The failure being handled (to be called within a catch block) as the
// user is told it, with its kind: a TConvertError as it is; memory that
// runs out as "Out of memory", or "Out of memory while converting X" with
// `converting`; a thread that cannot start, out of memory too, with the
// system's reason; any other exception as its text. It never throws: where
// even the message finds no memory, the failure is "Out of memory".
TConvertError CurrentFailure(const std::string& converting = {}) noexcept;

// The kind as a batch's count names it: "not found", "malformed"...
const char* KindName(TErrorKind kind);

// Messages of floating-point faults, as the user knows them.
inline constexpr const char* kDivByZeroMessage = "Floating point division by zero";
inline constexpr const char* kInvalidOpMessage = "Invalid floating point operation";
inline constexpr const char* kOverflowMessage = "Floating point overflow";

inline constexpr const char* kNoElevationsMessage = "The transfer holds no elevations";

[[noreturn]] inline void Fail(TErrorKind kind, const std::string& message) { throw TConvertError(kind, message); }
// A damaged input: what the readers find wrong.
[[noreturn]] inline void Fail(const std::string& message) { Fail(TErrorKind::Malformed, message); }

// Runs `f`; a failure whose message does not already name `fileName` gets
// " in FILE" added, so that every message says which file it comes from.
template <class F>
void NameFileOnFailure(const std::string& fileName, F&& f) {
  try {
    f();
  } catch (const TConvertError& e) {
    const std::string message = e.what();
    if (message.find(fileName) != std::string::npos) throw;
    Fail(e.Kind(), message + " in " + fileName);
  }
}

}  // namespace veloran
