// veloran-convert where data can be lost: output paths, inputs that are not
// what they claim, signals, standard output and locales.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
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
    const TResult r = sh.Run(kConvert + " " + Q(a) + " " + Q(b) + " " + Q(d) + " " + Q(c));
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Err.find("veloran-convert: " + b + ": QUAD.dem was written earlier in this run; this DEM is QUAD (2).dem\n"),
              std::string::npos);
    EXPECT_NE(r.Err.find("veloran-convert: " + c + ": QUAD.dem was written earlier in this run; this DEM is QUAD (3).dem\n"),
              std::string::npos);
    EXPECT_NE(r.Err.find("veloran-convert: 4 converted, 0 failed\n"), std::string::npos);
    // Quiet, nothing but errors.
    EXPECT_EQ(sh.Run(kConvert + " -q " + Q(a) + " " + Q(b) + " " + Q(d) + " " + Q(c)).Err, "");
    EXPECT_NE(ReadFileBytes(dir / "QUAD.dem"), ReadFileBytes(dir / "QUAD (2).dem"));
    EXPECT_EQ(ReadFileBytes(dir / "QUAD.dem"), ReadFileBytes(dir / "QUAD (3).dem"));
    EXPECT_TRUE(fs::exists(dir / "OTHER.dem"));
    EXPECT_FALSE(fs::exists(dir / "QUAD (4).dem"));
  }
}

// Inputs that would hang, take hours or take gigabytes fail at once.
// The picture is an output like the DEM: never the DEM itself, a file of
// the transfer or the archive it comes from, all refused before anything is
// written; a picture that cannot be written leaves its DEM converted.
TEST(Outputs, ThePictureNeverTakesTheDemOrTheInput) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  const std::string cell = Transfer(dir, "t", TTransferSpec{});
  ASSERT_EQ(sh.Run(kConvert + " -q -o ref.dem " + Q(cell)).Status, 0);
  const std::string reference = ReadFileBytes(dir / "ref.dem");
  ASSERT_EQ(sh.Run("tar czf t.tar.gz t").Status, 0);
  const std::string iden = ReadFileBytes(dir / "t/1234IDEN.DDF"), archive = ReadFileBytes(dir / "t.tar.gz");
  fs::create_symlink("x.dem", dir / "link.png");
  const struct {
    const char* Args;
    const char* Message;
    const char* Kept;  // a file that must be as it was
  } cases[] = {
      {"-o x.dem --preview x.dem t/1234CEL0.DDF", "Cannot create file x.dem: it is also the DEM being written", "x.dem"},
      {"-o x.dem --preview ./t/../x.dem t/1234CEL0.DDF", "it is also the DEM being written", "x.dem"},
      {"-o x.dem --preview link.png t/1234CEL0.DDF", "Cannot create file link.png: it is also the DEM", "x.dem"},
      {"-o y.dem --preview t/1234IDEN.DDF t/1234CEL0.DDF", "a file of the transfer being converted", "t/1234IDEN.DDF"},
      {"-o y.dem --preview t.tar.gz t.tar.gz", "Cannot create file t.tar.gz: it is t.tar.gz", "t.tar.gz"},
  };
  for (const auto& c : cases) {
    WriteFileBytes(dir / "x.dem", kPrevious);
    const TResult r = sh.Run(kConvert + " -q " + c.Args);
    EXPECT_EQ(r.Status, 1) << c.Args;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << c.Args << ": " << r.Err;
    EXPECT_EQ(ReadFileBytes(dir / "x.dem"), kPrevious) << c.Args;
    EXPECT_FALSE(fs::exists(dir / "y.dem")) << c.Args;
    EXPECT_TRUE(ReadFileBytes(dir / "t/1234IDEN.DDF") == iden && ReadFileBytes(dir / "t.tar.gz") == archive) << c.Args;
    EXPECT_TRUE(TempFiles(dir.Path()).empty() && TempFiles(dir / "t").empty()) << c.Args;
  }
  const TResult r = sh.Run(kConvert + " -q -o z.dem --preview no/such/p.png " + Q(cell));
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "veloran-convert: " + cell +
                       ": converted; the picture failed: Cannot create file no/such/p.png: No such file or directory\n");
  EXPECT_TRUE(ReadFileBytes(dir / "z.dem") == reference);
}

// Standard output never receives a report inside a DEM, nor a DEM with a
// report after it: closed descriptors are taken by /dev/null, and a DEM
// sent to standard output sends the report to standard error.
TEST(Descriptors, StandardOutputIsNeverADemNorTheReportInADem) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  std::string cells;
  for (const char* t : {"a", "b", "c"}) {
    TTransferSpec spec;
    spec.Title = t;
    cells += " " + Q(Transfer(dir, t, spec));
  }
  ASSERT_EQ(sh.Run(kConvert + " -q -o ref.dem a/1234CEL0.DDF").Status, 0);
  const std::string reference = ReadFileBytes(dir / "ref.dem");
  fs::create_directory(dir / "out");
  for (const char* closed : {"exec >&-;", "exec <&- 2>&-;", "exec >&- 2>&-;"}) {
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    const TResult r = sh.Run(std::string("(") + closed + " exec " + kConvert + " -j 3 -o out" + cells + ")");
    EXPECT_EQ(r.Status, 0) << closed;
    EXPECT_TRUE(ReadFileBytes(dir / "out/a.dem") == reference) << closed;
    for (const char* t : {"b", "c"})
      EXPECT_EQ(ReadFileBytes(dir / ("out/" + std::string(t) + ".dem")).size(), reference.size()) << closed;
  }
  for (const char* target : {"/dev/stdout", "-"}) {
    const TResult r = sh.Run(kConvert + " -o " + target + " a/1234CEL0.DDF | cat > p.dem");
    EXPECT_EQ(r.Status, 0) << target;
    EXPECT_TRUE(ReadFileBytes(dir / "p.dem") == reference) << target;
    EXPECT_NE(r.Err.find("Units: Meters\n"), std::string::npos) << target;
  }
}

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
    // GNU time measures the converter alone; a conversion that waits on a
    // FIFO or walks the whole sparse file is ended by timeout (status 124).
    const TResult r = sh.Run("timeout 20 /usr/bin/time -f %M -o rss " + kConvert + " -q -o out.dem " + Q(cell));
    EXPECT_EQ(r.Status, 1) << c.name << ": " << r.Err;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << c.name << ": " << r.Err;
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

// Batches under load: a closed pipe, signals at any moment, more jobs than
// the old table of temporary files held, a memory limit, a small disk.
// Whatever happens, no temporary file stays behind.
TEST(Signals, BatchesUnderSignalsAndLimitsLeaveNothingBehind) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  fs::create_directory(dir / "out");
  const auto clean = [&] {
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
  };
  const testing::TTransferSpec medium = testing::MakeSample("400");
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += " " + Q(Transfer(dir, "m" + std::to_string(i), medium));

  // A pipe closed by its reader ends the run like SIGTERM. The reader is
  // gone before the program starts: one that read a byte and left could
  // be outrun on a loaded machine by a run whose reports all fit in the pipe.
  for (int attempt = 0; attempt < 3; ++attempt) {
    clean();
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    ASSERT_LT(pipeEnds[1], 10);  // the shell's redirections take one digit
    const TResult r = sh.Run("{ " + kConvert + " -j 2 --no-sync -o out" + eight + "; echo $? > status; } >&" +
                             std::to_string(pipeEnds[1]));
    close(pipeEnds[1]);
    EXPECT_EQ(ReadFileBytes(dir / "status"), std::to_string(128 + SIGPIPE) + "\n") << r.Err;
    EXPECT_TRUE(TempFiles(dir / "out").empty());
  }
  // SIGTERM at varied moments of a -j 4 batch.
  for (int attempt = 0; attempt < 8; ++attempt) {
    clean();
    const pid_t pid = sh.Start("exec " + kConvert + " -q -j 4 --no-sync -o out" + eight);
    // The shell has opened its outputs before the clock starts.
    for (int waited = 0; waited < 5000 && !fs::exists(dir / ".err"); ++waited)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + 7 * attempt));
    kill(pid, SIGTERM);
    sh.Wait(pid);
    EXPECT_TRUE(TempFiles(dir / "out").empty()) << attempt;
  }
  // 300 conversions at once, interrupted while their files are open.
  std::string many;
  const testing::TTransferSpec small = testing::MakeSample("150");
  for (int i = 0; i < 300; ++i) many += " " + Q(Transfer(dir, "s" + std::to_string(i), small));
  clean();
  const pid_t pid = sh.Start("exec " + kConvert + " -q -j 300 --no-sync -o out" + many);
  for (int waited = 0; waited < 5000 && !fs::exists(dir / ".err"); ++waited)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  for (int waited = 0; waited < 5000 && TempFiles(dir / "out").empty(); ++waited)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  kill(pid, SIGTERM);
  sh.Wait(pid);
  EXPECT_TRUE(TempFiles(dir / "out").empty());
#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer maps far more than the limit
  // Too little memory for 64 threads: converted, or a clean message.
  clean();
  const TResult r = sh.Run("ulimit -v 250000 && exec " + kConvert + " -q -j 64 --no-sync -o out" + eight);
  EXPECT_TRUE(r.Status == 0 || (r.Status == 1 && !r.Err.empty())) << r.Status << r.Err;
  EXPECT_EQ(r.Err.find("terminate"), std::string::npos) << r.Err;
  EXPECT_TRUE(TempFiles(dir / "out").empty());
#endif
}

// Each DEM holds back the room it needs, not the most it could need: on a
// disk where four DEMs fit one after the other, four at once fit too.
TEST(Durability, ParallelDemsFitWhereSequentialOnesFit) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  // Elevations in the 20 northern rows of 400: one block per profile, where
  // the longest possible profile takes three.
  TTransferSpec spec;
  spec.Rows.assign(400, std::vector<int16_t>(40, -32767));
  for (int r = 0; r < 20; ++r) spec.Rows[static_cast<size_t>(r)].assign(40, 100);
  std::string four;
  for (int i = 0; i < 4; ++i) four += " " + Q(Transfer(dir, "t" + std::to_string(i), spec));
  fs::create_directory(dir / "disk");
  const size_t dem = (2 + 40) * 1024;
  const std::string options = "size=" + std::to_string(4 * dem + 32 * 1024);
  if (mount("tmpfs", (dir / "disk").c_str(), "tmpfs", 0, options.c_str()) != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root in a mount namespace)";
  for (const char* jobs : {"1", "4"}) {
    for (const auto& e : fs::directory_iterator(dir / "disk")) fs::remove(e.path());
    const TResult r = sh.Run(kConvert + " -q -j " + jobs + " -o disk" + four);
    EXPECT_EQ(r.Status, 0) << jobs << ": " << r.Err;
    EXPECT_EQ(fs::file_size(dir / "disk/TEST QUAD (4).dem"), dem) << jobs;
  }
  umount((dir / "disk").c_str());
}

// On a terminal the bar shows the share of the batch, n of N and the
// transfer under way; the share never goes back, and the last state stays.
TEST(Terminal, TheProgressBarGoesForwardAndStays) {
  testing::TTempDir dir;
  const TShell sh(dir.Path());
  std::string four;
  for (int i = 0; i < 4; ++i) four += " " + Q(Transfer(dir, "t" + std::to_string(i), testing::MakeSample("500")));
  fs::create_directory(dir / "out");
  // The program's own status, kept in a file: script's may tell of script.
  const TResult r =
      sh.Run("script -qfec " + Q(kConvert + " -j 2 -o out" + four + " >/dev/null; echo $? >status") + " /dev/null");
  ASSERT_EQ(ReadFileBytes(dir / "status"), "0\n") << r.Status << r.Out << r.Err;
  int last = -1;
  size_t bars = 0;
  for (size_t at = r.Out.find("] "); at != std::string::npos; at = r.Out.find("] ", at + 1)) {
    const int share = std::stoi(r.Out.substr(at + 2));
    EXPECT_GE(share, last) << r.Out;
    last = share;
    ++bars;
  }
  EXPECT_GE(bars, 2u);
  EXPECT_NE(r.Out.find("[####################] 100% 4/4 done\r\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("t2/1234CEL0.DDF -> out/CASCADE RIDGE, WA (3).dem"), std::string::npos) << r.Out;
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
