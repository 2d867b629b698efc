// The safe file output, step by step: each system call it makes can fail,
// and whatever fails, the old file stays whole (or, once renamed, the new
// one) and no temporary file is left.
#include "support/filesink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "samplegen/transfer.h"
#include "support/errors.h"
#include "support/threads.h"

namespace veloran {
namespace {

// The real system calls, but the one named `FailAt` fails with `Error`;
// every call is logged.
class TFailingCalls final : public IFileCalls {
 public:
  std::string FailAt;
  int Error = 0;
  std::vector<std::string> Log;

  int CreateAt(int dirFd, const char* name, mode_t mode) override {
    return Step("create") ? IFileCalls::CreateAt(dirFd, name, mode) : -1;
  }
  ssize_t Write(int fd, const void* bytes, size_t count) override {
    return Step("write") ? IFileCalls::Write(fd, bytes, count) : -1;
  }
  int Fsync(int fd) override { return Step("fsync") ? IFileCalls::Fsync(fd) : -1; }
  int RenameAt(int dirFd, const char* from, const char* to) override {
    return Step("rename") ? IFileCalls::RenameAt(dirFd, from, to) : -1;
  }
  int FsyncDirectory(int dirFd) override { return Step("fsync folder") ? IFileCalls::FsyncDirectory(dirFd) : -1; }

 private:
  bool Step(const std::string& name) {
    if (Log.empty() || Log.back() != name) Log.push_back(name);
    if (name != FailAt) return true;
    errno = Error;
    return false;
  }
};

TEST(FileSink, EachFailingStepLeavesNoTemporaryFile) {
  TExecutor writer(1);
  const struct {
    const char* Step;
    int Error;
    const char* Message;  // after "PATH: "
    bool Renamed;         // the new file is in place when the step fails
  } cases[] = {
      {"", 0, "", true},
      {"create", EACCES, "Cannot create file %: Permission denied", false},
      {"write", ENOSPC, "Cannot write file %: No space left on device", false},
      {"fsync", EIO, "Cannot write file %: Input/output error", false},
      {"rename", EIO, "Cannot create file %: Input/output error", false},
      {"fsync folder", EIO, "Cannot write file %: its folder could not be flushed to the disk: Input/output error", true},
  };
  // In one piece (written from where it is) and in small pieces (through
  // the buffers, more than one of them).
  const std::string content(600000, 'n');
  for (const size_t piece : {content.size(), size_t{1000}}) {
    for (const auto& c : cases) {
      testing::TTempDir dir;
      const std::string path = dir / "out.dem";
      testing::WriteFileBytes(path, "old");
      TFailingCalls calls;
      calls.FailAt = c.Step;
      calls.Error = c.Error;
      std::string message;
      try {
        TFileSink sink(path, true, &writer, calls);
        for (size_t at = 0; at < content.size(); at += piece)
          sink.Write(content.data() + at, std::min(piece, content.size() - at));
        sink.Commit();
      } catch (const TConvertError& e) {
        message = e.what();
      }
      std::string expected = c.Message;
      if (const size_t at = expected.find('%'); at != std::string::npos) expected.replace(at, 1, path);
      EXPECT_EQ(message, expected) << c.Step << " " << piece;
      EXPECT_TRUE(testing::ReadFileBytes(path) == (c.Renamed ? content : "old")) << c.Step << " " << piece;
      size_t files = 0;
      for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
      EXPECT_EQ(files, 1u) << c.Step;
    }
  }
}

// The file reaches the disk before it replaces the old one, and the rename
// with its folder; without sync, neither is asked.
TEST(FileSink, FlushesTheFileBeforeTheRenameAndTheFolderAfter) {
  TExecutor writer(1);
  for (const bool sync : {true, false}) {
    testing::TTempDir dir;
    TFailingCalls calls;
    TFileSink sink(dir / "out.dem", sync, &writer, calls);
    sink.Write("DEM", 3);
    sink.Commit();
    const std::vector<std::string> expected =
        sync ? std::vector<std::string>{"create", "write", "fsync", "rename", "fsync folder"}
             : std::vector<std::string>{"create", "write", "rename"};
    EXPECT_EQ(calls.Log, expected);
  }
}

}  // namespace
}  // namespace veloran
