// veloran-convert where data can be lost: output paths, inputs that are not
// what they claim, signals, standard output and locales.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "samplegen/ddf_writer.h"
#include "tests/support/locale.h"
#include "samplegen/sample.h"
#include "samplegen/transfer.h"
#include "tests/support/shell.h"

namespace veloran {
namespace {

namespace fs = std::filesystem;
using testing::Q;
using testing::ReadFileBytes;
using testing::TResult;
using testing::TShell;
using testing::TTransferSpec;
using testing::WriteFileBytes;

const std::string kConvert = VELORAN_CONVERT;
const std::string kPrevious = "an earlier DEM that must survive";

// Names in `dir` that a DEM writer's temporary file would have.
std::vector<std::string> TempFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind(".vlr", 0) == 0) names.push_back(e.path().filename());
  return names;
}

// A transfer in its own folder below the test's directory.
std::string Transfer(const testing::TTempDir& dir, const std::string& sub, const TTransferSpec& spec) {
  fs::create_directories(dir / sub);
  return testing::WriteTransfer(dir / sub, spec);
}

TEST(OutputPaths, EveryTargetIsWrittenAsTheUserExpects) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = Transfer(dir, "t", TTransferSpec{});
  ASSERT_EQ(sh.Run(kConvert + " -q -o ref.dem " + Q(cell)).Status, 0);
  const std::string reference = ReadFileBytes(dir / "ref.dem");
  const std::string longName = std::string(251, 'n') + ".dem";

  const struct {
    const char* name;
    std::function<void()> before;
    std::string target;                 // as given to -o
    std::string message;                // the start of the expected error, or empty
    std::function<void()> after;        // checks on success
  } cases[] = {
      {"the cell module", nullptr, cell, "Cannot create file " + cell + ": it is ", nullptr},
      {"another module", nullptr, dir / "t/1234CATD.DDF", "Cannot create file " + (dir / "t/1234CATD.DDF") + ": it is ",
       nullptr},
      {"a private DEM keeps its mode", [&] { WriteFileBytes(dir / "private.dem", kPrevious); chmod((dir / "private.dem").c_str(), 0600); },
       "private.dem", "",
       [&] {
         struct stat st {};
         stat((dir / "private.dem").c_str(), &st);
         EXPECT_EQ(st.st_mode & 07777, 0600u);
       }},
      {"a read-only DEM is refused", [&] { WriteFileBytes(dir / "ro.dem", kPrevious); chmod((dir / "ro.dem").c_str(), 0444); },
       "ro.dem", "Cannot create file ro.dem: Permission denied",
       [&] { EXPECT_EQ(ReadFileBytes(dir / "ro.dem"), kPrevious); }},
      {"a symbolic link stays a link",
       [&] {
         fs::create_directory(dir / "real");
         WriteFileBytes(dir / "real/x.dem", kPrevious);
         fs::create_symlink("real/x.dem", dir / "link.dem");
       },
       "link.dem", "",
       [&] {
         EXPECT_TRUE(fs::is_symlink(dir / "link.dem"));
         EXPECT_TRUE(ReadFileBytes(dir / "real/x.dem") == reference);
       }},
      {"a dangling link makes its file", [&] { fs::create_symlink("made.dem", dir / "dangling.dem"); },
       "dangling.dem", "",
       [&] {
         EXPECT_TRUE(fs::is_symlink(dir / "dangling.dem"));
         EXPECT_TRUE(ReadFileBytes(dir / "made.dem") == reference);
       }},
      {"a name of 255 bytes", nullptr, longName, "", [&] { EXPECT_TRUE(ReadFileBytes(dir / longName) == reference); }},
      {"a directory", [&] { fs::create_directory(dir / "d.dem"); }, "d.dem/", "", nullptr},
  };
  for (const auto& c : cases) {
    if (c.before) c.before();
    const std::string before = fs::is_regular_file(c.target) ? ReadFileBytes(c.target) : "";
    const TResult r = sh.Run(kConvert + " -q -o " + Q(c.target) + " " + Q(cell));
    if (c.message.empty()) {
      EXPECT_EQ(r.Status, 0) << c.name << ": " << r.Err;
    } else {
      EXPECT_EQ(r.Status, 1) << c.name;
      EXPECT_NE(r.Err.find(": " + c.message), std::string::npos) << c.name << ": " << r.Err;
      if (!before.empty()) {
        EXPECT_TRUE(ReadFileBytes(c.target) == before) << c.name;
      }
    }
    if (c.after) c.after();
    EXPECT_TRUE(TempFiles(dir.Path()).empty()) << c.name;
  }
}

TEST(OutputPaths, FifoAndStandardOutputAreWrittenDirectly) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = Transfer(dir, "t", TTransferSpec{});
  ASSERT_EQ(sh.Run(kConvert + " -q -o ref.dem " + Q(cell)).Status, 0);
  const std::string reference = ReadFileBytes(dir / "ref.dem");
  // Standard output.
  TResult r = sh.Run(kConvert + " -q -o /dev/stdout " + Q(cell));
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Out == reference);
  // A FIFO, read by another process.
  ASSERT_EQ(mkfifo((dir / "pipe.dem").c_str(), 0600), 0);
  r = sh.Run("timeout 20 cat pipe.dem > fromfifo & timeout 20 " + kConvert + " -q -o pipe.dem " + Q(cell) +
             "; status=$?; wait; exit $status");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(ReadFileBytes(dir / "fromfifo") == reference);
  EXPECT_TRUE(fs::is_fifo(dir / "pipe.dem"));
}

TEST(OutputPaths, SameTitlesInOneRunGetTheirOwnFiles) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  TTransferSpec ten, thirty, other;
  ten.Title = thirty.Title = "QUAD";
  thirty.Rows = {{5, 6, 7, 8}, {1, 2, 3, 4}, {5, 6, 7, 8}, {1, 2, 3, 4}};
  other.Title = "OTHER";
  const std::string a = Transfer(dir, "a", ten), b = Transfer(dir, "b", thirty), c = Transfer(dir, "c", ten);
  const std::string d = Transfer(dir, "d", other);
  WriteFileBytes(dir / "QUAD.dem", kPrevious);  // from an earlier run: replaced as usual
  for (int run = 0; run < 2; ++run) {           // a repeated run writes the same files
    const TResult r = sh.Run(kConvert + " -q " + Q(a) + " " + Q(b) + " " + Q(d) + " " + Q(c));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "veloran-convert: " + b + ": QUAD.dem was written earlier in this run; this DEM is QUAD (2).dem\n"
                     "veloran-convert: " + c + ": QUAD.dem was written earlier in this run; this DEM is QUAD (3).dem\n"
                     "veloran-convert: 4 converted, 0 failed\n");
    EXPECT_NE(ReadFileBytes(dir / "QUAD.dem"), ReadFileBytes(dir / "QUAD (2).dem"));
    EXPECT_EQ(ReadFileBytes(dir / "QUAD.dem"), ReadFileBytes(dir / "QUAD (3).dem"));
    EXPECT_TRUE(fs::exists(dir / "OTHER.dem"));
    EXPECT_FALSE(fs::exists(dir / "QUAD (4).dem"));
  }
}

// Inputs that would hang, take hours or take gigabytes fail at once.
TEST(BoundedInput, ModulesThatAreNotWhatTheyClaimFailQuickly) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const struct {
    const char* name;
    std::function<void(const std::string& t)> damage;
    std::string message;
  } cases[] = {
      {"a FIFO module", [](const std::string& t) { fs::remove(t + "/1234IREF.DDF"); mkfifo((t + "/1234IREF.DDF").c_str(), 0600); },
       "/1234IREF.DDF is not a regular file"},
      {"a FIFO cell file", [](const std::string& t) { fs::remove(t + "/1234CEL0.DDF"); mkfifo((t + "/1234CEL0.DDF").c_str(), 0600); },
       "/1234CEL0.DDF: it is not a regular file"},
      {"a sparse 1 TiB cell module with a zero-length walk",
       [](const std::string& t) {
         testing::TDdfWriter cells({{"CVLS", "CELL VALUES", "ELEVATION", "(B(16))"}});
         cells.Record({{"CVLS", ""}}, 'R');
         cells.WriteFile(t + "/1234CEL0.DDF");
         truncate((t + "/1234CEL0.DDF").c_str(), off_t{1} << 40);
       },
       "record 1 holds 0 cells, but LDEF declares 4 columns"},
      {"an LDEF claiming 100,000 rows of 1,000 cells",
       [](const std::string& t) {
         std::string ldef = ReadFileBytes(t + "/1234LDEF.DDF");
         const size_t at = ldef.find("\x1f" "4\x1f" "4\x1f");
         ldef.replace(at, 5, "\x1f" "100000\x1f" "100000\x1f");
         WriteFileBytes(t + "/1234LDEF.DDF", ldef);
       },
       "is too small for a grid of 100000 rows by"},
      {"a 512 MiB metadata module without terminators",
       [](const std::string& t) {
         testing::TDdfWriter iden({{"IDEN", "IDENTIFICATION", "MODN!RCID!TITL", "(A,I,A)"}});
         iden.SizeOfFieldLength = 9;
         std::string bytes = iden.Record({{"IDEN", "IDEN"}}).Bytes();
         const size_t record = iden.Ddr().size();
         bytes.replace(record, 5, "00000");                 // no record length: the file bounds it
         bytes.replace(record + 24 + 4, 9, "536870000");    // a field of 512 MiB
         bytes.pop_back();                                  // no terminator at all
         WriteFileBytes(t + "/1234IDEN.DDF", bytes);
         truncate((t + "/1234IDEN.DDF").c_str(), off_t{512} << 20);
       },
       "is malformed: a value of more than 65536 bytes"},
  };
  // The last line of GNU time's report: the peak memory in KiB.
  auto peakKiB = [&] {
    const std::string rss = ReadFileBytes(dir / "rss");
    return std::stol(rss.substr(rss.rfind('\n', rss.size() - 2) + 1));
  };
  // What the program takes to start at all (more under the sanitizers).
  ASSERT_EQ(sh.Run("/usr/bin/time -f %M -o rss " + kConvert + " --version").Status, 0);
  const long baseline = peakKiB();
  for (const auto& c : cases) {
    const std::string t = dir / c.name;
    fs::create_directories(t);
    const std::string cell = testing::WriteTransfer(t, TTransferSpec{});
    c.damage(t);
    // GNU time measures the converter alone.
    const TResult r = sh.Run("timeout 20 /usr/bin/time -f %M -o rss " + kConvert + " -q -o out.dem " + Q(cell));
    EXPECT_EQ(r.Status, 1) << c.name << ": " << r.Err;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << c.name << ": " << r.Err;
    EXPECT_LT(r.Seconds, 5) << c.name;
    EXPECT_LT(peakKiB() - baseline, 16 * 1024) << c.name;
    fs::remove_all(t);
  }
}

// A signal in the middle of writing removes the temporary file; the old DEM
// stays, and the program ends with the signal's usual status.
TEST(Signals, AnInterruptedConversionLeavesNothingBehind) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = testing::WriteTransfer(dir.Path(), testing::MakeSample("2000"));
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    WriteFileBytes(dir / "out.dem", kPrevious);
    bool caught = false;
    for (int attempt = 0; attempt < 40 && !caught; ++attempt) {
      const pid_t pid = sh.Start("exec " + kConvert + " -q -o out.dem " + Q(cell));
      // Wait for the temporary file, then interrupt the writer.
      while (!caught) {
        if (!TempFiles(dir.Path()).empty()) {
          kill(pid, signal);
          caught = true;
          break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (!caught) {
        WriteFileBytes(dir / "out.dem", kPrevious);
        continue;
      }
      const TResult r = sh.Wait(pid);
      EXPECT_EQ(r.Status, 128 + signal) << strsignal(signal);
      EXPECT_TRUE(TempFiles(dir.Path()).empty()) << strsignal(signal);
      EXPECT_EQ(ReadFileBytes(dir / "out.dem"), kPrevious) << strsignal(signal);
    }
    EXPECT_TRUE(caught) << "the conversion always ended before its temporary file was seen";
  }
  // A file-size limit: the writer gets SIGXFSZ half-way.
  WriteFileBytes(dir / "out.dem", kPrevious);
  const TResult r = sh.Run("ulimit -f 1024 && exec " + kConvert + " -q -o out.dem " + Q(cell));
  EXPECT_EQ(r.Status, 128 + SIGXFSZ);
  EXPECT_TRUE(TempFiles(dir.Path()).empty());
  EXPECT_EQ(ReadFileBytes(dir / "out.dem"), kPrevious);
}

TEST(StandardOutput, WriteErrorsEndTheRunWithStatusOne) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = testing::WriteTransfer(dir.Path(), TTransferSpec{});
  TResult r = sh.Run(kConvert + " -o a.dem " + Q(cell) + " >/dev/full");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "veloran-convert: standard output: No space left on device\n");
  // A closed pipe while SIGPIPE is ignored.
  r = sh.Run("trap '' PIPE; (" + kConvert + " -o b.dem " + Q(cell) + "; echo $? >status) | true");
  EXPECT_EQ(ReadFileBytes(dir / "status"), "1\n");
  EXPECT_EQ(r.Err, "veloran-convert: standard output: Broken pipe\n");
  // Quiet: nothing to write, nothing fails.
  EXPECT_EQ(sh.Run(kConvert + " -q -o c.dem " + Q(cell) + " >/dev/full").Status, 0);
}

// C0 and C1 controls, C1 as UTF-8 (U+009B, U+009D) or as single bytes,
// are shown escaped and named with "_"; other UTF-8 and Latin-1 letters stay.
TEST(TransferText, ControlCharactersAreShownAndNeverNamed) {
  const struct {
    const char* Title;
    const char* Shown;
    const char* Name;
  } cases[] = {
      {"EVIL\x1B]0;owned\x07", "EVIL\\x1B]0;owned\\x07", "EVIL_]0;owned_"},
      {"CSI\xC2\x9B" "31m OSC\xC2\x9D" "0;x", "CSI\\xC2\\x9B31m OSC\\xC2\\x9D0;x", "CSI__31m OSC__0;x"},
      {"RAW\x9B" "1m\x9D", "RAW\\x9B1m\\x9D", "RAW_1m_"},
      {"\xE2\x82\xAC \xC3\x89T\xC9", "\xE2\x82\xAC \xC3\x89T\xC9", "\xE2\x82\xAC \xC3\x89T\xC9"},
  };
  for (const auto& c : cases) {
    testing::TTempDir dir;
    const TShell sh(dir.Path());
    TTransferSpec spec;
    spec.Title = c.Title;
    const std::string cell = testing::WriteTransfer(dir.Path(), spec);
    const TResult r = sh.Run(kConvert + " " + Q(cell));
    EXPECT_EQ(r.Status, 0) << c.Shown;
    EXPECT_NE(r.Out.find("Title: " + std::string(c.Shown) + "\n"), std::string::npos) << r.Out;
    EXPECT_TRUE(fs::exists(dir / (std::string(c.Name) + ".dem"))) << c.Shown;
  }
}

TEST(Durability, NoSyncWritesTheSameBytes) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = testing::WriteTransfer(dir.Path(), TTransferSpec{});
  ASSERT_EQ(sh.Run(kConvert + " -q -o synced.dem " + Q(cell)).Status, 0);
  ASSERT_EQ(sh.Run(kConvert + " -q --no-sync -o fast.dem " + Q(cell)).Status, 0);
  EXPECT_TRUE(ReadFileBytes(dir / "synced.dem") == ReadFileBytes(dir / "fast.dem"));
}

// The DEM is ASCII: a short date that is not, or too long, becomes MM/DD/YY.
TEST(DemDate, AsciiInEveryLocale) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = testing::WriteTransfer(dir.Path(), TTransferSpec{});
  for (const std::string locale : {"ja_JP.UTF-8", "de_DE.UTF-8"}) {
    if (!testing::UseLocale(locale)) GTEST_SKIP() << locale << " cannot be built here";
    const std::string locpath = getenv("LOCPATH");
    testing::RestoreLocale();
    const TResult r = sh.Run("LOCPATH=" + locpath + " LC_ALL=" + locale +
                             " LSAN_OPTIONS=suppressions=" VELORAN_SOURCE_DIR "/tests/lsan.supp " + kConvert +
                             " -q -o d.dem " + Q(cell));
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string header = ReadFileBytes(dir / "d.dem").substr(0, 144);
    EXPECT_NE(header.find(locale[0] == 'j' ? "Conversion on 09/09/01" : "Conversion on 09.09.2001"), std::string::npos)
        << header;
    for (const char ch : ReadFileBytes(dir / "d.dem")) ASSERT_TRUE(ch >= ' ' && ch <= '~') << locale;
  }
}

}  // namespace
}  // namespace veloran
