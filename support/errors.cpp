#include "support/errors.h"

#include <new>
#include <system_error>

namespace veloran {

namespace {

// Made at start-up: copying it takes no memory, so that a failure can be
// told when memory has run out (a batch of 64 jobs under `ulimit -v` was
// ended by std::terminate while its message was being made).
const TConvertError kOutOfMemory(TErrorKind::OutOfMemory, "Out of memory");

TConvertError DescribeCurrentFailure(const std::string& converting) {
  try {
    throw;
  } catch (const TConvertError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return converting.empty() ? kOutOfMemory
                              : TConvertError(TErrorKind::OutOfMemory, "Out of memory while converting " + converting);
  } catch (const std::system_error& e) {
    // What std::thread throws when no thread can start: the process's
    // threads, like its memory, have run out.
    if (e.code() == std::errc::resource_unavailable_try_again || e.code() == std::errc::not_enough_memory)
      return TConvertError(TErrorKind::OutOfMemory, e.code().message());
    return TConvertError(TErrorKind::Malformed, e.what());
  } catch (const std::exception& e) {
    return TConvertError(TErrorKind::Malformed, e.what());
  }
}

}  // namespace

TConvertError CurrentFailure(const std::string& converting) noexcept {
  try {
    return DescribeCurrentFailure(converting);
  } catch (...) {
    return kOutOfMemory;
  }
}

const char* KindName(TErrorKind kind) {
  switch (kind) {
    case TErrorKind::NotFound: return "not found";
    case TErrorKind::NotATransfer: return "not a transfer";
    case TErrorKind::Malformed: return "malformed";
    case TErrorKind::Unsupported: return "not supported";
    case TErrorKind::OutputIo: return "not written";
    case TErrorKind::OutOfMemory: return "out of memory";
    case TErrorKind::Cancelled: return "canceled";
  }
  return "failed";
}

}  // namespace veloran
