// Where the DEM bytes go: a file written atomically, or memory for tests.
#pragma once

#include <cstddef>
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

// Writes to a temporary file beside the target and renames it over the
// target on Commit, so a failed conversion never leaves a partial DEM and
// never harms an existing file. Without Commit the temporary file is removed.
class TAtomicFileSink final : public IByteSink {
 public:
  // Fails with "Cannot create file %s" naming the target.
  explicit TAtomicFileSink(std::string targetPath);
  ~TAtomicFileSink() override;
  TAtomicFileSink(const TAtomicFileSink&) = delete;
  TAtomicFileSink& operator=(const TAtomicFileSink&) = delete;

  void Write(const char* bytes, size_t count) override;
  // Flushes, closes and renames; fails with a message naming the target.
  void Commit();

 private:
  void FlushBuffer();
  [[noreturn]] void WriteFailed(int error);

  std::string TargetPath;
  std::string TempPath;
  int Fd = -1;
  std::vector<char> Buffer;
  size_t Used = 0;
};

}  // namespace veloran
