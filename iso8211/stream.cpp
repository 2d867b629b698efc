#include "iso8211/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/errors.h"

namespace veloran {

int64_t TStream::Read(void* dst, int64_t n) {
  auto* out = static_cast<char*>(dst);
  int64_t done = 0;
  while (done < n) {
    if (BufPos < BufLen) {
      const int64_t take = std::min(n - done, BufLen - BufPos);
      std::memcpy(out + done, Buffer.data() + BufPos, static_cast<size_t>(take));
      BufPos += take;
      Pos += take;
      done += take;
      continue;
    }
    if (Pos >= FileSize) break;
    const int64_t want = n - done;
    if (want >= kBufferSize) {
      // Large reads go straight to the caller.
      const int64_t got = ReadAt(Pos, out + done, want);
      if (got <= 0) break;
      Pos += got;
      done += got;
      continue;
    }
    if (Buffer.empty()) Buffer.resize(static_cast<size_t>(kBufferSize));
    const int64_t got = ReadAt(Pos, Buffer.data(), kBufferSize);
    if (got <= 0) break;
    BufStart = Pos;
    BufPos = 0;
    BufLen = got;
  }
  return done;
}

void TStream::Seek(int64_t pos) {
  if (pos < 0) Fail("'" + std::to_string(pos) + "' is not a valid stream position in " + StreamName);
  if (pos >= BufStart && pos < BufStart + BufLen) {
    BufPos = pos - BufStart;
  } else {
    BufLen = BufPos = 0;
  }
  Pos = pos;
}

namespace {

// Opens a regular file read-only and takes its size, or fails with
// "Cannot open file %s: <reason>". O_NONBLOCK keeps a FIFO from hanging the open; a
// FIFO, a device or a directory is refused: only a regular file has a size
// to bound every read.
std::pair<int, int64_t> OpenForReading(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    Fail(TErrorKind::NotFound, "Cannot open file " + fileName + ": " + std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(TErrorKind::NotFound, fileName + " is not a regular file");
  }
  return {fd, static_cast<int64_t>(st.st_size)};
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName) : TFileStream(fileName, OpenForReading(fileName)) {}

TFileStream::TFileStream(const std::string& fileName, std::pair<int, int64_t> file)
    : TStream(fileName, file.second), Fd(file.first) {}

TFileStream::~TFileStream() { ::close(Fd); }

int64_t TFileStream::ReadAt(int64_t pos, void* dst, int64_t n) {
  for (;;) {
    const ssize_t got = ::pread(Fd, dst, static_cast<size_t>(n), static_cast<off_t>(pos));
    if (got >= 0) return got;
    if (errno != EINTR) Fail(TErrorKind::NotFound, "Cannot read file " + Name() + ": " + std::strerror(errno));
  }
}

int64_t TMemoryStream::ReadAt(int64_t pos, void* dst, int64_t n) {
  const int64_t size = static_cast<int64_t>(Bytes.size());
  if (pos >= size) return 0;
  const int64_t take = std::min(n, size - pos);
  std::memcpy(dst, Bytes.data() + pos, static_cast<size_t>(take));
  return take;
}

}  // namespace veloran
