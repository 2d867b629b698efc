// The command-line converter, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/locale.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

const std::string kGolden = VELORAN_SOURCE_DIR "/tests/golden/";
const std::string kConvert = VELORAN_CONVERT;

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

class Cli : public ::testing::Test {
 protected:
  // Runs veloran-convert in the temporary directory with a fixed date.
  TRun Run(const std::string& args, const std::string& env = "LC_ALL=C") {
    const std::string err = Dir / ".stderr";
    const std::string command = "cd '" + Dir.Path() + "' && env SOURCE_DATE_EPOCH=1000000000 " + env + " " +
                                kConvert + " " + args + " 2>'" + err + "'";
    TRun run;
    FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) run.Out.append(buf, n);
    const int status = pclose(p);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Err = testing::ReadFileBytes(err);
    std::filesystem::remove(err);
    return run;
  }
  static std::string Quote(const std::string& s) { return "'" + s + "'"; }
  testing::TTempDir Dir;
  const std::string Cell = kGolden + "small/1234CEL0.DDF";
  const std::string GoldenDem = testing::ReadFileBytes(kGolden + "small.dem");
};

TEST_F(Cli, ConvertsIntoTheCurrentDirectoryUnderTheTitle) {
  const TRun run = Run(Quote(Cell));
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, testing::ReadFileBytes(kGolden + "small.txt"));
  // No progress bar: standard error is no terminal.
  EXPECT_EQ(run.Err, Cell + " -> VELORAN TEST CORNER, WA.dem\n");
  EXPECT_TRUE(testing::ReadFileBytes(Dir / "VELORAN TEST CORNER, WA.dem") == GoldenDem);
}

TEST_F(Cli, OutputFileOrDirectory) {
  std::filesystem::create_directory(Dir / "out");
  EXPECT_EQ(Run("-q -o named.dem " + Quote(Cell)).Status, 0);
  EXPECT_TRUE(testing::ReadFileBytes(Dir / "named.dem") == GoldenDem);
  const TRun quiet = Run("-q -o out " + Quote(Cell));
  EXPECT_EQ(quiet.Status, 0);
  EXPECT_EQ(quiet.Out, "");
  EXPECT_TRUE(std::filesystem::exists(Dir / "out/VELORAN TEST CORNER, WA.dem"));
  EXPECT_EQ(Run("--add-new-lines -q -o lines.dem " + Quote(Cell)).Status, 0);
  EXPECT_EQ(std::filesystem::file_size(Dir / "lines.dem"), GoldenDem.size() / 1024 * 1026);
}

TEST_F(Cli, UsageErrors) {
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"", "veloran-convert: no MODULE, FOLDER or ARCHIVE given\n"},
      {"--bogus x", "veloran-convert: unknown option --bogus\n"},
      {"-o", "veloran-convert: option -o needs a PATH\n"},
      {"-o nodir a b", "veloran-convert: -o nodir is no existing folder, but there are 2 transfers\n"},
      // Checked once folders are counted, before anything is written.
      {"-o one.dem three", "veloran-convert: -o one.dem is no existing folder, but there are 3 transfers\n"},
      {"three --preview=out/prev", "veloran-convert: --preview out/prev is no existing folder, but there are 3 transfers\n"},
      {"-o out/ t1/1234CEL0.DDF", "veloran-convert: there is no folder out/\n"},
      {"--name-from=date x", "veloran-convert: option --name-from takes title or input: date\n"},
      {"-o a.dem --output=b.dem x", "veloran-convert: option -o/--output given more than once\n"},
      {"-j 2 --jobs 3 x", "veloran-convert: option -j/--jobs given more than once\n"},
      {"-j many x", "veloran-convert: option -j needs a number of jobs from 0 to 1024: many\n"},
      {"-x a", "veloran-convert: unknown option -x\n"},
      {"--output", "veloran-convert: option --output needs a PATH\n"},
      // Another format's option; -o NAME.tif chooses the format as --format does.
      {"--format=cog --add-new-lines x", "veloran-convert: --add-new-lines applies to the USGS DEM format only\n"},
      {"--add-new-lines -o a.tif x", "veloran-convert: --add-new-lines applies to the USGS DEM format only\n"},
  };
  std::filesystem::create_directories(Dir / "three");
  std::filesystem::create_directories(Dir / "t1");
  testing::WriteTransfer(Dir / "t1", testing::TTransferSpec{});
  for (const char* prefix : {"1111", "2222", "3333"}) {
    testing::TTransferSpec spec;
    spec.Prefix = prefix;
    testing::WriteTransfer(Dir / "three", spec);
  }
  for (const auto& c : cases) {
    const TRun run = Run(c.args);
    EXPECT_EQ(run.Status, 2) << c.args;
    EXPECT_EQ(run.Err.substr(0, c.message.size()), c.message) << c.args;
    EXPECT_FALSE(std::filesystem::exists(Dir / "TEST QUAD.dem")) << c.args;
  }
  const TRun help = Run("--help");
  EXPECT_EQ(help.Status, 0);
  for (const char* option : {"-o, --output=PATH", "-j, --jobs=N", "--add-new-lines", "--no-sync", "-q, --quiet",
                             "-r, --recursive", "--name-from=title|input", "--preview=PATH", "-h, --help", "-V, --version"})
    EXPECT_NE(help.Out.find(option), std::string::npos) << option;
  EXPECT_EQ(Run("--version").Out, "veloran-convert 1.0\nCopyright (C) 2026 Belvaret. Licence: all rights reserved.\n");
}

// The usual option syntax: long options with "=", bundled short options,
// "--" before a file name that starts with "-".
TEST_F(Cli, LongBundledAndEndedOptions) {
  std::filesystem::create_directory(Dir / "out");
  EXPECT_EQ(Run("--quiet --output=named.dem " + Quote(Cell)).Status, 0);
  EXPECT_TRUE(testing::ReadFileBytes(Dir / "named.dem") == GoldenDem);
  const TRun bundled = Run("-qo out " + Quote(Cell));
  EXPECT_EQ(bundled.Status, 0);
  EXPECT_EQ(bundled.Out, "");
  EXPECT_TRUE(std::filesystem::exists(Dir / "out/VELORAN TEST CORNER, WA.dem"));
  std::filesystem::copy(kGolden + "small", Dir / "-t");
  EXPECT_EQ(Run("-q -j1 -o dash.dem -- -t/1234CEL0.DDF").Status, 0);
  EXPECT_TRUE(testing::ReadFileBytes(Dir / "dash.dem") == GoldenDem);
  // Options after the operands, as GNU programs take them; the folder of
  // one transfer selects it.
  std::filesystem::copy(kGolden + "small", Dir / "base");
  EXPECT_EQ(Run("base -o out/x2.dem -q").Status, 0);
  EXPECT_TRUE(testing::ReadFileBytes(Dir / "out/x2.dem") == GoldenDem);
}

TEST_F(Cli, AFailureIsReportedAndTheNextTransferConverted) {
  const std::string missing = Dir / "none/1234CEL0.DDF";
  const TRun run = Run("-q -o . " + Quote(missing) + " " + Quote(Cell));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "veloran-convert: " + missing + ": Cannot open file " + missing +
                         ": No such file or directory\nveloran-convert: 1 converted, 1 failed (1 not found)\n");
  EXPECT_TRUE(std::filesystem::exists(Dir / "VELORAN TEST CORNER, WA.dem"));
}

// What cannot be converted says why, in the system's words, and never
// names a module made up from a file that is none.
TEST_F(Cli, MessagesSayWhatIsWrong) {
  std::filesystem::copy(kGolden + "small", Dir / "t");
  for (const char* name : {"c.tar.bz2", "c.zip", "old.dem", "notes.txt", "README"})
    testing::WriteFileBytes(Dir / name, "not a transfer");
  std::filesystem::copy(kGolden + "small", Dir / "four");
  for (const char* code : {"DDSH", "DDOM", "IREF", "XREF", "RSDF"})
    std::filesystem::remove(Dir / ("four/1234" + std::string(code) + ".DDF"));
  std::filesystem::create_directories(Dir / "folders/a");
  const struct {
    std::string Args;
    std::string Err;  // after "veloran-convert: "
  } cases[] = {
      {"c.tar.bz2", "c.tar.bz2: Cannot read archive c.tar.bz2: Unrecognized archive format"},
      {"c.zip", "c.zip: Cannot read archive c.zip: Unrecognized archive format"},
      {"gone.tgz", "gone.tgz: Cannot open file gone.tgz: No such file or directory"},
      {"old.dem", "old.dem: old.dem is not a module of an SDTS transfer"},
      {"notes.txt", "notes.txt: notes.txt is not a module of an SDTS transfer"},
      {"README", "README: README is not a module of an SDTS transfer"},
      {"nonexistent/path", "nonexistent/path: Cannot open file nonexistent/path: No such file or directory"},
      {"four/1234CATD.DDF",
       "four/1234CATD.DDF: The transfer 1234 in four is incomplete: its DDSH module (four/1234DDSH.DDF) is missing"},
      {"folders", "folders: no transfer (no cell module ????CE??.DDF) in this folder; use -r to search its sub-folders"},
  };
  for (const auto& c : cases) {
    const TRun run = Run("-q -o out.dem " + c.Args);
    EXPECT_EQ(run.Status, 1) << c.Args;
    EXPECT_EQ(run.Err, "veloran-convert: " + c.Err + "\n") << c.Args;
    EXPECT_FALSE(std::filesystem::exists(Dir / "out.dem")) << c.Args;
  }
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizers' own checks need descriptors
  // Too many open files (one left beside the standard streams and the
  // libraries): the reason is given.
  const TRun run = Run("-q -o out.dem t/1234CEL0.DDF", "LC_ALL=C sh -c 'exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; ulimit -n 4; exec \"$0\" \"$@\"'");
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find(": Too many open files"), std::string::npos) << run.Err;
#endif
  // An output path as long as the system takes, in folders of at most 250
  // characters, with a short name: the temporary name is longer.
  std::string folder = Dir.Path();
  while (4084 - folder.size() > 251) folder += "/" + std::string(250, 'd');
  folder += "/" + std::string(4084 - folder.size() - 1, 'e');
  std::filesystem::create_directories(folder);
  const std::string longPath = folder + "/x.dem";
  ASSERT_EQ(longPath.size(), 4090u);
  const TRun long_ = Run("-q -o '" + longPath + "' t/1234CEL0.DDF");
  EXPECT_EQ(long_.Status, 0) << long_.Err;
  EXPECT_TRUE(testing::ReadFileBytes(longPath) == GoldenDem);
}

TEST_F(Cli, TitlesCannotSendTheOutputElsewhere) {
  testing::TTempDir transfer;
  testing::TTransferSpec spec;
  spec.Title = "../../etc/x";
  const std::string cell = testing::WriteTransfer(transfer.Path(), spec);
  EXPECT_EQ(Run("-q " + Quote(cell)).Status, 0);
  EXPECT_TRUE(std::filesystem::exists(Dir / "___.._etc_x.dem"));
  spec.Title = "";
  testing::WriteTransfer(transfer.Path(), spec);
  EXPECT_EQ(Run("-q " + Quote(cell)).Status, 0);
  EXPECT_TRUE(std::filesystem::exists(Dir / "New.dem"));
}

TEST_F(Cli, PaneUsesTheUserSeparatorAndTheDemDoesNot) {
  if (!testing::UseLocale("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 cannot be built here";
  const std::string locpath = getenv("LOCPATH");
  testing::RestoreLocale();
  // Under the sanitizers, glibc's own hold on LOCPATH is no leak of ours.
  const TRun run = Run("-o de.dem " + Quote(Cell), "LOCPATH=" + locpath + " LC_ALL=de_DE.UTF-8" +
                                                       " LSAN_OPTIONS=suppressions=" VELORAN_SOURCE_DIR "/tests/lsan.supp");
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("NE 601160,75 5040910\n"), std::string::npos);
  EXPECT_NE(run.Out.find("SE.Y: 5040045,25\n"), std::string::npos);
  const std::string dem = testing::ReadFileBytes(Dir / "de.dem");
  ASSERT_EQ(dem.size(), GoldenDem.size());
  EXPECT_NE(dem.substr(0, 144).find("09.09.2001"), std::string::npos);
  EXPECT_TRUE(dem.substr(144) == GoldenDem.substr(144));
}

}  // namespace
}  // namespace veloran
