// Where the DEM bytes go: a file written safely, or memory for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veloran {

class IByteSink {
 public:
  virtual ~IByteSink() = default;
  virtual void Write(const char* bytes, size_t count) = 0;
};

class TStringSink final : public IByteSink {
 public:
  void Write(const char* bytes, size_t count) override { Bytes.append(bytes, count); }
  std::string Bytes;
};

// Writes a DEM file so that a failure never loses or harms an existing one.
// A regular file (or a path that does not exist yet) is written to a
// temporary file beside it and renamed over it on Commit: the existing
// file's permission bits and group are kept, a symbolic link keeps pointing
// to the new file, and with `sync` the data and the directory reach the disk
// before Commit returns, so a power loss leaves the old DEM or the new one.
// Without Commit the temporary file is removed, also by a fatal signal. A
// FIFO or a device (such as /dev/stdout) is written to directly. Full
// buffers are written by a thread of the sink's own while the caller fills
// the next one.
class TBackgroundWriter;
class TDemFileSink final : public IByteSink {
 public:
  // Fails with "Cannot create file %s: <reason>" naming the target.
  TDemFileSink(std::string targetPath, bool sync);
  ~TDemFileSink() override;
  TDemFileSink(const TDemFileSink&) = delete;
  TDemFileSink& operator=(const TDemFileSink&) = delete;

  void Write(const char* bytes, size_t count) override;
  // The file will hold at most `bytes`: a new file gets them in one
  // allocation (fallocate) instead of one per page as they come, which
  // makes the writes several times cheaper; Commit cuts off what is left.
  // Only a hint: nothing happens where the file system cannot do it.
  void Reserve(uint64_t bytes);
  // Flushes, syncs, closes and renames; fails with a message naming the target.
  void Commit();

 private:
  // The buffers and the thread that writes them (see TBackgroundWriter).
  void StartWriter(bool startWriteback);
  void FlushBuffer();
  [[noreturn]] void CreateFailed(int error) const;
  [[noreturn]] void WriteFailed(int error);
  void Discard();

  std::string TargetPath;  // as the user gave it, for messages
  std::string FinalPath;   // the file replaced: TargetPath with its links followed
  std::string TempPath;    // empty when writing directly
  bool Sync;
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
