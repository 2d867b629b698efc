#include "dem/output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "support/errors.h"
#include "support/tempfiles.h"

namespace veloran {

namespace {

constexpr size_t kSinkBufferSize = 256 * 1024;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

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

}  // namespace

// Writes one buffer at a time on a thread of its own: the kernel's copy and
// block allocation then overlap the formatting of the next buffer. With
// `startWriteback`, what is written is handed to the disk as it comes
// (sync_file_range), so that the final fsync waits for the tail only.
class TBackgroundWriter {
 public:
  TBackgroundWriter(int fd, bool startWriteback)
      : Fd(fd), StartWriteback(startWriteback), Thread([this] { Run(); }) {}
  ~TBackgroundWriter() {
    {
      std::lock_guard lock(Mutex);
      Stop = true;
    }
    Changed.notify_all();
    Thread.join();
  }
  TBackgroundWriter(const TBackgroundWriter&) = delete;
  TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

  // Waits until the buffer in flight is written; the errno of a failed
  // write, 0 when all went well.
  int Wait() {
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [this] { return Data == nullptr; });
    return Error;
  }
  // Starts writing `count` bytes at `data`, which must stay untouched until
  // Wait returns. Call only after Wait.
  void Start(const char* data, size_t count) {
    {
      std::lock_guard lock(Mutex);
      Data = data;
      Count = count;
    }
    Changed.notify_all();
  }

 private:
  void Run() {
    std::unique_lock lock(Mutex);
    for (;;) {
      Changed.wait(lock, [this] { return Data != nullptr || Stop; });
      if (Data == nullptr) return;
      const char* data = Data;
      const size_t count = Count;
      lock.unlock();
      const int error = Error != 0 ? Error : WriteAll(data, count);
      lock.lock();
      Error = error;
      Data = nullptr;
      Changed.notify_all();
    }
  }
  int WriteAll(const char* data, size_t count) {
    for (size_t done = 0; done < count;) {
      const ssize_t n = ::write(Fd, data + done, count - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += static_cast<size_t>(n);
      Offset += n;
    }
    // Handed to the disk a megabyte at a time: smaller ranges make more,
    // smaller requests, larger ones start the disk later.
    if (StartWriteback && Offset - Started >= kWritebackStep) {
      ::sync_file_range(Fd, Started, Offset - Started, SYNC_FILE_RANGE_WRITE);  // a hint only
      Started = Offset;
    }
    return 0;
  }

  const int Fd;
  const bool StartWriteback;
  static constexpr off_t kWritebackStep = 1 << 20;
  off_t Offset = 0;   // bytes written so far
  off_t Started = 0;  // bytes whose writeback has been started
  std::mutex Mutex;
  std::condition_variable Changed;
  const char* Data = nullptr;  // the buffer in flight, if any
  size_t Count = 0;
  int Error = 0;
  bool Stop = false;
  std::thread Thread;  // last: starts once the rest is set
};

TDemFileSink::TDemFileSink(std::string targetPath, bool sync)
    : TargetPath(std::move(targetPath)), FinalPath(TargetPath), Sync(sync) {
  if (TargetPath.empty()) CreateFailed(ENOENT);
  struct stat st {};
  const bool exists = stat(TargetPath.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) CreateFailed(errno);
  if (exists && S_ISDIR(st.st_mode)) CreateFailed(EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    // A FIFO, a terminal or another device takes the bytes as they come.
    Fd = ::open(TargetPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (Fd < 0) CreateFailed(errno);
    StartWriter(false);
    return;
  }
  if (const int error = FollowLinks(FinalPath)) CreateFailed(error);
  if (exists)
    if (const int error = WriteDenied(FinalPath, st)) CreateFailed(error);

  // A short fixed prefix and a random part: the temporary name is never
  // longer than any valid target name.
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  const std::string dir = DirectoryOf(FinalPath);
  for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
    std::string name = ".vlr";
    for (int i = 0; i < 8; ++i) name += kAlphabet[random() % (sizeof kAlphabet - 1)];
    TempPath = dir + name;
    Slot = RegisterTempFile(TempPath.c_str());
    // Mode 0666 under the umask: the permissions of a newly created file.
    Fd = ::open(TempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd < 0) {
      const int error = errno;
      UnregisterTempFile(Slot);
      Slot = -1;
      if (error != EEXIST) CreateFailed(error);
    }
  }
  if (Fd < 0) CreateFailed(EEXIST);
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
  StartWriter(Sync);
}

TDemFileSink::~TDemFileSink() { Discard(); }

void TDemFileSink::StartWriter(bool startWriteback) {
  Buffer.resize(kSinkBufferSize);
  Spare.resize(kSinkBufferSize);
  Writer = std::make_unique<TBackgroundWriter>(Fd, startWriteback);
}

void TDemFileSink::Discard() {
  Writer.reset();  // joins the writing thread before its file is closed
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  if (!TempPath.empty()) ::unlink(TempPath.c_str());
  TempPath.clear();
  UnregisterTempFile(Slot);
  Slot = -1;
}

void TDemFileSink::Write(const char* bytes, size_t count) {
  if (Used + count > Buffer.size()) FlushBuffer();
  if (count > Buffer.size()) Buffer.resize(count);
  std::memcpy(Buffer.data() + Used, bytes, count);
  Used += count;
  Total += count;
}

void TDemFileSink::Reserve(uint64_t bytes) {
  if (TempPath.empty() || bytes == 0) return;  // a FIFO or a device
  // Beyond the file size limit, fallocate would raise SIGXFSZ for a DEM
  // that may well fit: only the writes may meet the limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && bytes > limit.rlim_cur) return;
  Reserved = true;
  if (::fallocate(Fd, 0, 0, static_cast<off_t>(bytes)) != 0) {
    // Not supported here, or no room for the upper bound: the writes will
    // tell whether the file fits.
  }
}

void TDemFileSink::FlushBuffer() {
  if (const int error = Writer->Wait()) WriteFailed(error);
  std::swap(Buffer, Spare);
  Writer->Start(Spare.data(), Used);
  Used = 0;
}

void TDemFileSink::CreateFailed(int error) const {
  Fail("Cannot create file " + TargetPath + ": " + std::strerror(error));
}

void TDemFileSink::WriteFailed(int error) {
  Discard();
  Fail("Cannot write file " + TargetPath + ": " + std::strerror(error));
}

void TDemFileSink::Commit() {
  FlushBuffer();
  if (const int error = Writer->Wait()) WriteFailed(error);
  Writer.reset();
  if (Reserved && ::ftruncate(Fd, static_cast<off_t>(Total)) != 0) WriteFailed(errno);
  if (!TempPath.empty() && Sync && ::fsync(Fd) != 0) WriteFailed(errno);
  const int fd = Fd;
  Fd = -1;
  if (::close(fd) != 0) WriteFailed(errno);
  if (TempPath.empty()) return;  // written directly
  if (::rename(TempPath.c_str(), FinalPath.c_str()) != 0) {
    const int error = errno;
    Discard();
    CreateFailed(error);
  }
  TempPath.clear();
  UnregisterTempFile(Slot);
  Slot = -1;
  if (Sync) {
    // The rename itself reaches the disk with its directory.
    const std::string dir = DirectoryOf(FinalPath);
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }
}

}  // namespace veloran
