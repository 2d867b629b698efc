#include "support/filesink.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "support/errors.h"
#include "support/tempfiles.h"
#include "support/backgroundwriter.h"
#include "support/platform.h"

namespace veloran {

int IFileCalls::CreateAt(int dirFd, const char* name, mode_t mode) {
  return ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
ssize_t IFileCalls::Write(int fd, const void* bytes, size_t count) { return ::write(fd, bytes, count); }
int IFileCalls::Fsync(int fd) { return ::fsync(fd); }
int IFileCalls::RenameAt(int dirFd, const char* from, const char* to) { return ::renameat(dirFd, from, dirFd, to); }
int IFileCalls::FsyncDirectory(int dirFd) { return ::fsync(dirFd); }

IFileCalls& SystemFileCalls() {
  static IFileCalls calls;
  return calls;
}

namespace {

constexpr size_t kSinkBufferSize = 256 * 1024;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The path that a chain of symbolic links ends in, whether or not that file
// exists; 0 or the errno of the failure (ELOOP for a loop).
int FollowLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st.st_mode)) return 0;
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return errno;
    const std::string link(target, static_cast<size_t>(n));
    path = link.front() == '/' ? link : DirectoryOf(path) + link;
  }
  return ELOOP;
}

// Whether the user may write the existing file: as `access` says, and, for
// root, only when the file has a write permission bit at all, so that a
// read-only DEM is never replaced without a word.
int WriteDenied(const std::string& path, const struct stat& st) {
  if (access(path.c_str(), W_OK) != 0) return errno;
  if ((st.st_mode & 0222) == 0) return EACCES;
  return 0;
}

// The place a path names, links followed and its folder made absolute.
std::string ResolvedPlace(std::string path) {
  FollowLinks(path);
  const std::string dir = DirectoryOf(path);
  char resolved[PATH_MAX];
  if (!realpath(dir.empty() ? "." : dir.c_str(), resolved)) return path;
  return std::string(resolved) + "/" + NameOf(path);
}

}  // namespace

bool SameOutputFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return ResolvedPlace(a) == ResolvedPlace(b);
}

bool IsStandardOutput(const std::string& path) {
  if (path == "-") return true;
  struct stat out {}, st {};
  return fstat(STDOUT_FILENO, &out) == 0 && stat(path.c_str(), &st) == 0 && out.st_dev == st.st_dev &&
         out.st_ino == st.st_ino;
}

TFileSink::TFileSink(std::string targetPath, bool sync, TExecutor* background, IFileCalls& calls)
    : TargetPath(std::move(targetPath)), Sync(sync), Background(background), Calls(calls) {
  if (TargetPath.empty()) CreateFailed(ENOENT);
  struct stat st {};
  const bool exists = stat(TargetPath.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) CreateFailed(errno);
  if (exists && S_ISDIR(st.st_mode)) CreateFailed(EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    // A FIFO, a terminal or another device takes the bytes as they come.
    Fd = ::open(TargetPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (Fd < 0) CreateFailed(errno);
    StartWriter(false, Background);
    return;
  }
  std::string finalPath = TargetPath;
  if (const int error = FollowLinks(finalPath)) CreateFailed(error);
  if (exists)
    if (const int error = WriteDenied(finalPath, st)) CreateFailed(error);
  FinalName = NameOf(finalPath);
  // The temporary file is named within its folder's descriptor, so that a
  // target path as long as the system takes never fails for the longer
  // temporary name.
  const std::string dir = DirectoryOf(finalPath);
  DirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (DirFd < 0) CreateFailed(errno);

  // A short fixed prefix and a random part.
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
    std::string name = ".vlr";
    for (int i = 0; i < 8; ++i) name += kAlphabet[random() % (sizeof kAlphabet - 1)];
    // Registered before it exists: a signal can never miss it.
    Slot = RegisterTempFile(DirFd, name.c_str());
    if (Slot < 0) {
      Discard();
      Fail(TErrorKind::OutputIo, "Cannot create file " + TargetPath + ": no temporary file can be registered now");
    }
    TempName = name;
    // Mode 0666 under the umask: the permissions of a newly created file.
    Fd = Calls.CreateAt(DirFd, name.c_str(), 0666);
    if (Fd >= 0) TempFileCreated(Slot);
    if (Fd < 0) {
      const int error = errno;
      TempName.clear();
      UnregisterTempFile(Slot);
      Slot = -1;
      if (error != EEXIST) {
        Discard();
        CreateFailed(error);
      }
    }
  }
  if (Fd < 0) {
    Discard();
    CreateFailed(EEXIST);
  }
  if (exists) {
    // The replacement keeps the permissions and, where allowed, the group.
    if (fchown(Fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not a member of the group: the file keeps the user's own group.
    }
    if (fchmod(Fd, st.st_mode & 07777) != 0) {
      const int error = errno;
      Discard();
      CreateFailed(error);
    }
  }
  StartWriter(Sync, Background);
}

TFileSink::~TFileSink() { Discard(); }

void TFileSink::StartWriter(bool startWriteback, TExecutor* background) {
  try {
    Writer = std::make_unique<TBackgroundWriter>(Fd, startWriteback, Calls, background);
  } catch (...) {
    Discard();
    throw;
  }
}

void TFileSink::Discard() {
  Writer.reset();  // joins the writing thread before its file is closed
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  if (!TempName.empty()) ::unlinkat(DirFd, TempName.c_str(), 0);
  TempName.clear();
  UnregisterTempFile(Slot);
  Slot = -1;
  if (DirFd >= 0) ::close(DirFd);
  DirFd = -1;
}

void TFileSink::Write(const char* bytes, size_t count) {
  // Bytes that come in one large piece (a GeoTIFF) are written from where
  // they are: the buffers, faulted in for nothing, cost a 1201 x 1201 COG
  // 1.5 ms of its 45.
  if (Used == 0 && count >= kSinkBufferSize) {
    if (const int error = Writer->Wait()) WriteFailed(error);
    Writer->Start(bytes, count);
    if (const int error = Writer->Wait()) WriteFailed(error);
    Total += count;
    return;
  }
  // Otherwise through the buffers, a piece at a time.
  if (Buffer.empty()) {
    Buffer.resize(kSinkBufferSize);
    Spare.resize(kSinkBufferSize);
  }
  while (count > 0) {
    if (Used == Buffer.size()) FlushBuffer();
    const size_t piece = std::min(count, Buffer.size() - Used);
    std::memcpy(Buffer.data() + Used, bytes, piece);
    Used += piece;
    Total += piece;
    bytes += piece;
    count -= piece;
  }
}

void TFileSink::Reserve(uint64_t bytes) {
  if (TempName.empty() || bytes == 0) return;  // a FIFO or a device
  // Beyond the file size limit, fallocate would raise SIGXFSZ for a file
  // that may well fit: only the writes may meet the limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && bytes > limit.rlim_cur) return;
  // Without room for all of it, nothing is held back from other files.
  if (PlatformReserve(Fd, static_cast<off_t>(bytes))) Reserved = true;
}

void TFileSink::FlushBuffer() {
  if (const int error = Writer->Wait()) WriteFailed(error);
  std::swap(Buffer, Spare);
  Writer->Start(Spare.data(), Used);
  Used = 0;
}

void TFileSink::CreateFailed(int error) const {
  Fail(TErrorKind::OutputIo, "Cannot create file " + TargetPath + ": " + std::strerror(error));
}

void TFileSink::WriteFailed(int error) {
  Discard();
  Fail(TErrorKind::OutputIo, "Cannot write file " + TargetPath + ": " + std::strerror(error));
}

void TFileSink::Commit() {
  FlushBuffer();
  if (const int error = Writer->Wait()) WriteFailed(error);
  Writer.reset();
  if (Reserved && ::ftruncate(Fd, static_cast<off_t>(Total)) != 0) WriteFailed(errno);
  if (!TempName.empty() && Sync && Calls.Fsync(Fd) != 0) WriteFailed(errno);
  const int fd = Fd;
  Fd = -1;
  if (::close(fd) != 0) WriteFailed(errno);
  if (TempName.empty()) return;  // written directly
  if (Calls.RenameAt(DirFd, TempName.c_str(), FinalName.c_str()) != 0) {
    const int error = errno;
    Discard();
    CreateFailed(error);
  }
  TempName.clear();
  UnregisterTempFile(Slot);
  Slot = -1;
  // The rename itself reaches the disk with its folder.
  const int error = Sync && Calls.FsyncDirectory(DirFd) != 0 ? errno : 0;
  Discard();
  if (error) Fail(TErrorKind::OutputIo, "Cannot write file " + TargetPath + ": its folder could not be flushed to the disk: " + std::strerror(error));
}

}  // namespace veloran
