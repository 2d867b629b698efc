#include "dem/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "support/errors.h"

namespace veloran {

namespace {
constexpr size_t kSinkBufferSize = 256 * 1024;
}

TAtomicFileSink::TAtomicFileSink(std::string targetPath) : TargetPath(std::move(targetPath)) {
  struct stat st {};
  if (TargetPath.empty() || (stat(TargetPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    Fail("Cannot create file " + TargetPath);
  const size_t slash = TargetPath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : TargetPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? TargetPath : TargetPath.substr(slash + 1);
  std::random_device random;
  for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
    TempPath = dir + "." + name + "." + std::to_string(random() % 1000000000u) + ".tmp";
    // Mode 0666 under the umask: the permissions of a newly created file.
    Fd = ::open(TempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd < 0 && errno != EEXIST) break;
  }
  if (Fd < 0) Fail("Cannot create file " + TargetPath);
  Buffer.resize(kSinkBufferSize);
}

TAtomicFileSink::~TAtomicFileSink() {
  if (Fd >= 0) {
    ::close(Fd);
    ::unlink(TempPath.c_str());
  }
}

void TAtomicFileSink::Write(const char* bytes, size_t count) {
  if (Used + count > Buffer.size()) FlushBuffer();
  if (count > Buffer.size()) {
    Buffer.resize(count);
  }
  std::memcpy(Buffer.data() + Used, bytes, count);
  Used += count;
}

void TAtomicFileSink::FlushBuffer() {
  size_t done = 0;
  while (done < Used) {
    const ssize_t n = ::write(Fd, Buffer.data() + done, Used - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      WriteFailed(errno);
    }
    done += static_cast<size_t>(n);
  }
  Used = 0;
}

void TAtomicFileSink::WriteFailed(int error) { Fail("Cannot write file " + TargetPath + ": " + std::strerror(error)); }

void TAtomicFileSink::Commit() {
  FlushBuffer();
  const int fd = Fd;
  Fd = -1;
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(TempPath.c_str());
    WriteFailed(error);
  }
  if (::rename(TempPath.c_str(), TargetPath.c_str()) != 0) {
    ::unlink(TempPath.c_str());
    Fail("Cannot create file " + TargetPath);
  }
}

}  // namespace veloran
