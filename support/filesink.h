// Where the bytes of an output file go: a file written safely, or memory
// for tests. Every output (DEM, picture) is written through TFileSink.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veloran {

// The system calls by which TFileSink makes a file durable, so that tests
// can make each one fail and count them. Each returns what the system call
// returns and sets errno on failure.
class IFileCalls {
 public:
  virtual ~IFileCalls() = default;
  virtual int CreateAt(int dirFd, const char* name, mode_t mode);  // openat, O_CREAT | O_EXCL
  virtual ssize_t Write(int fd, const void* bytes, size_t count);
  virtual int Fsync(int fd);
  virtual int RenameAt(int dirFd, const char* from, const char* to);
  virtual int FsyncDirectory(int dirFd);
};
// The real system calls.
IFileCalls& SystemFileCalls();

class IByteSink {
 public:
  virtual ~IByteSink() = default;
  virtual void Write(const char* bytes, size_t count) = 0;
};

// Whether two output paths name the same file: the same file where both
// exist, otherwise the same place once links and "." or ".." are resolved.
bool SameOutputFile(const std::string& a, const std::string& b);

// Whether `path` is where standard output goes ("-" included).
bool IsStandardOutput(const std::string& path);

class TStringSink final : public IByteSink {
 public:
  void Write(const char* bytes, size_t count) override { Bytes.append(bytes, count); }
  std::string Bytes;
};

// Writes a file so that a failure never loses or harms an existing one.
// A regular file (or a path that does not exist yet) is written to a
// temporary file beside it and renamed over it on Commit: the existing
// file's permission bits and group are kept, a symbolic link keeps pointing
// to the new file, and with `sync` the data and the directory reach the disk
// before Commit returns, so a power loss leaves the old file or the new one.
// Without Commit the temporary file is removed, also by a fatal signal. A
// FIFO or a device (such as /dev/stdout) is written to directly. Full
// buffers are written by a thread of the executor while the caller fills
// the next one.
class TBackgroundWriter;
class TExecutor;
class TFileSink final : public IByteSink {
 public:
  // Fails with "Cannot create file %s: <reason>" naming the target. Full
  // buffers are written by a free thread of `background`; without one, by
  // the caller, which is better where every processor already runs a
  // conversion, or where the bytes come in one piece.
  TFileSink(std::string targetPath, bool sync, TExecutor* background = nullptr,
            IFileCalls& calls = SystemFileCalls());
  ~TFileSink() override;
  TFileSink(const TFileSink&) = delete;
  TFileSink& operator=(const TFileSink&) = delete;

  void Write(const char* bytes, size_t count) override;
  // The file will hold `bytes`: a new file gets them in one allocation
  // (fallocate) instead of one per page as they come, which makes the
  // writes several times cheaper; Commit cuts off what is left. Only a
  // hint: nothing happens where the file system cannot do it, or has no
  // room for it (the writes then tell whether the file fits).
  void Reserve(uint64_t bytes);
  // Flushes, syncs, closes and renames; fails with a message naming the target.
  void Commit();

 private:
  // The buffers and the thread that writes them (see TBackgroundWriter).
  void StartWriter(bool startWriteback, TExecutor* background);
  void FlushBuffer();
  [[noreturn]] void CreateFailed(int error) const;
  [[noreturn]] void WriteFailed(int error);
  void Discard();

  std::string TargetPath;  // as the user gave it, for messages
  std::string FinalName;   // the name, in DirFd's folder, of the file replaced (TargetPath with its links followed)
  std::string TempName;    // in DirFd's folder; empty when writing directly
  bool Sync;
  TExecutor* Background;
  IFileCalls& Calls;
  int DirFd = -1;  // the folder of the file replaced
  int Fd = -1;
  int Slot = -1;  // the temporary file's signal-cleanup slot
  std::vector<char> Buffer;  // being filled
  std::vector<char> Spare;   // being written by Writer
  size_t Used = 0;
  uint64_t Total = 0;     // bytes given to Write
  bool Reserved = false;  // Reserve was asked: Commit cuts the file to Total
  std::unique_ptr<TBackgroundWriter> Writer;
};

}  // namespace veloran
