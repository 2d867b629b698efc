// A seekable, read-only byte stream with 64-bit positions, buffered, over a
// file or over memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veloran {

class TStream {
 public:
  virtual ~TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to n bytes at the position and advances it; fewer at the end.
  int64_t Read(void* dst, int64_t n);
  // The next byte, or -1 at the end.
  int ReadByte() {
    if (BufPos < BufLen) {
      ++Pos;
      return static_cast<unsigned char>(Buffer[static_cast<size_t>(BufPos++)]);
    }
    unsigned char c;
    return Read(&c, 1) == 1 ? c : -1;
  }
  int64_t Position() const { return Pos; }
  // Any position from 0 on, also beyond the end; a negative one fails.
  void Seek(int64_t pos);
  int64_t Size() const { return FileSize; }
  const std::string& Name() const { return StreamName; }

 protected:
  TStream(std::string name, int64_t size) : StreamName(std::move(name)), FileSize(size) {}
  // Reads up to n bytes at an absolute position; returns the count read.
  virtual int64_t ReadAt(int64_t pos, void* dst, int64_t n) = 0;

 private:
  static constexpr int64_t kBufferSize = 64 * 1024;
  std::string StreamName;
  int64_t FileSize;
  int64_t Pos = 0;
  // Buffer holds the bytes from BufStart; BufPos indexes the one at Pos.
  std::vector<char> Buffer;
  int64_t BufStart = 0, BufPos = 0, BufLen = 0;
};

// A file opened read-only. Fails with "Cannot open file %s".
class TFileStream final : public TStream {
 public:
  explicit TFileStream(const std::string& fileName);
  ~TFileStream() override;

 protected:
  int64_t ReadAt(int64_t pos, void* dst, int64_t n) override;

 private:
  // An open descriptor and the file's size.
  TFileStream(const std::string& fileName, std::pair<int, int64_t> file);
  int Fd;
};

// Bytes held in memory: its own copy, or bytes that outlive the stream
// (an archive member).
class TMemoryStream final : public TStream {
 public:
  explicit TMemoryStream(std::string bytes, std::string name = "(memory)")
      : TStream(std::move(name), static_cast<int64_t>(bytes.size())), Owned(std::move(bytes)), Bytes(Owned) {}
  // A stream over bytes that outlive it, without a copy.
  static std::unique_ptr<TMemoryStream> Borrow(std::string_view bytes, std::string name) {
    return std::unique_ptr<TMemoryStream>(new TMemoryStream(TBorrowed{}, bytes, std::move(name)));
  }

 protected:
  int64_t ReadAt(int64_t pos, void* dst, int64_t n) override;

 private:
  struct TBorrowed {};
  TMemoryStream(TBorrowed, std::string_view bytes, std::string name)
      : TStream(std::move(name), static_cast<int64_t>(bytes.size())), Bytes(bytes) {}
  std::string Owned;
  std::string_view Bytes;
};

}  // namespace veloran
