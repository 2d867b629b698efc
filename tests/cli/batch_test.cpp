// Transfers as users hold them: folders, .tar.gz archives (built here with
// libarchive) and batches converted several at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

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

const std::string kConvert = VELORAN_CONVERT;

// Writes a tar archive of `files` (name, bytes) with tar and a filter:
// "none", "gzip", "compress", "bzip2" or "xz"; or, with "zip", a zip.
void WriteArchive(const std::string& path, const std::string& filter,
                  const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string stage = path + ".stage";
  fs::remove_all(stage);
  std::string names;
  for (const auto& [name, bytes] : files) {
    fs::create_directories(fs::path(stage + "/" + name).parent_path());
    testing::WriteFileBytes(stage + "/" + name, bytes);
    names += " " + Q(name);
  }
  const std::string tar = "tar -cf - --format=ustar -C " + Q(stage) + names;
  const std::string filtered = filter == "none" ? "" : " | " + filter + " -c";
  const std::string zip = "cd " + Q(stage) + " && python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], \"w\", "
                          "zipfile.ZIP_DEFLATED); [z.write(n) for n in sys.argv[2:]]; z.close()' " + Q(path) + names;
  ASSERT_EQ(std::system((filter == "zip" ? zip : tar + filtered + " > " + Q(path)).c_str()), 0) << path;
  fs::remove_all(stage);
}

// The files of a transfer folder, named below `folder` in the archive.
std::vector<std::pair<std::string, std::string>> FilesOf(const std::string& dir, const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : fs::directory_iterator(dir))
    files.push_back({folder + e.path().filename().string(), ReadFileBytes(e.path())});
  return files;
}

class Archives : public ::testing::Test {
 protected:
  // Converts the transfer in `dir` from the folder, as the reference.
  std::string FromFolder(const std::string& dir) {
    fs::create_directories(Dir / "ref");
    const TResult r = Sh.Run(kConvert + " -q -o ref/x.dem " + Q(dir + "/" + CellName(dir)));
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ReadFileBytes(Dir / "ref/x.dem");
  }
  static std::string CellName(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().size() == 12 && (e.path().filename().string().substr(4, 2) == "CE" ||
                                                         e.path().filename().string().substr(4, 2) == "ce"))
        return e.path().filename();
    return "";
  }
  testing::TTempDir Dir;
  TShell Sh{Dir.Path()};
};

TEST_F(Archives, EveryKindOfArchiveGivesTheSameDemsAsTheFolder) {
  TTransferSpec upper;
  upper.Title = "UPPER";
  TTransferSpec lower;
  lower.Title = "LOWER";
  lower.LowerCaseNames = true;
  lower.Rows = {{7, 8, 9, 10}, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
  TTransferSpec second;
  second.Prefix = "5678";
  second.Title = "SECOND";
  second.Fmt = "BFP32";
  second.FloatRows = {{1.5f, 2.5f, 3.5f, 4.5f}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  const std::string u = Dir / "u", l = Dir / "l", s = Dir / "s";
  for (const auto& [dir, spec] : {std::pair{u, upper}, std::pair{l, lower}, std::pair{s, second}}) {
    fs::create_directories(dir);
    testing::WriteTransfer(dir, spec);
  }
  const std::string refU = FromFolder(u), refL = FromFolder(l), refS = FromFolder(s);
  const struct {
    std::string archive, filter;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> dems;  // DEM name, reference bytes
  } cases[] = {
      {"plain.tar", "none", FilesOf(u, ""), {{"UPPER.dem", refU}}},
      {"lower.tar.gz", "gzip", FilesOf(l, "quad/"), {{"LOWER.dem", refL}}},
      {"7172.DEM.SDTS.TAR.GZ", "gzip", FilesOf(u, "./7172/"), {{"UPPER.dem", refU}}},
      {"two.tgz", "gzip",
       [&] {
         auto files = FilesOf(u, "a/");
         for (auto& f : FilesOf(s, "b/")) files.push_back(f);
         return files;
       }(),
       {{"UPPER.dem", refU}, {"SECOND.dem", refS}}},
      {"old.TAR.Z", "compress", FilesOf(s, ""), {{"SECOND.dem", refS}}},
      {"repacked.zip", "zip", FilesOf(l, "quad/"), {{"LOWER.dem", refL}}},
      {"b.tar.bz2", "bzip2", FilesOf(u, ""), {{"UPPER.dem", refU}}},
      {"x.TXZ", "xz", FilesOf(s, "7172/"), {{"SECOND.dem", refS}}},
  };
  for (const auto& c : cases) {
    WriteArchive(Dir / c.archive, c.filter, c.files);
    fs::remove_all(Dir / "out");
    fs::create_directory(Dir / "out");
    const TResult r = Sh.Run(kConvert + " -q -o out " + Q(c.archive));
    EXPECT_EQ(r.Status, 0) << c.archive << ": " << r.Err;
    for (const auto& [name, reference] : c.dems) EXPECT_TRUE(ReadFileBytes(Dir / ("out/" + name)) == reference) << c.archive << " " << name;
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(Dir / "out"), fs::directory_iterator())), c.dems.size());
  }
  // A folder argument: every cell module directly in it.
  fs::remove_all(Dir / "out");
  fs::create_directory(Dir / "out");
  fs::copy(s, u);  // a second transfer beside the first
  EXPECT_EQ(Sh.Run(kConvert + " -q -o out " + Q(u)).Status, 0);
  EXPECT_TRUE(ReadFileBytes(Dir / "out/UPPER.dem") == refU);
  EXPECT_TRUE(ReadFileBytes(Dir / "out/SECOND.dem") == refS);
}

// GNU tar stores a file met a second time as a hard link to the first;
// transfers also share modules through symbolic links. Both read as the
// member they lead to. And two transfers whose names differ only in case
// stay two transfers, in a folder as in an archive.
TEST_F(Archives, LinksAndCaseDistinctTransfers) {
  TTransferSpec a;
  a.Title = "ALPHA";
  fs::create_directories(Dir / "stage/a");
  testing::WriteTransfer(Dir / "stage/a", a);
  TTransferSpec b = a;
  b.Title = "BRAVO";
  fs::create_directories(Dir / "stage/b");
  fs::create_directories(Dir / "stage/c");
  for (const auto& e : fs::directory_iterator(Dir / "stage/a")) {
    const std::string name = e.path().filename();
    if (name != "1234IDEN.DDF") fs::create_hard_link(e.path(), Dir / ("stage/b/" + name));
    fs::create_symlink("../a/" + name, Dir / ("stage/c/" + name));
  }
  fs::create_directories(Dir / "bravo");
  testing::WriteTransfer(Dir / "bravo", b);
  fs::copy_file(Dir / "bravo/1234IDEN.DDF", Dir / "stage/b/1234IDEN.DDF");
  const std::string refA = FromFolder(Dir / "stage/a"), refB = FromFolder(Dir / "bravo");
  ASSERT_EQ(std::system(("tar -czf " + Q(Dir / "links.tar.gz") + " -C " + Q(Dir / "stage") + " a b c").c_str()), 0);
  fs::create_directory(Dir / "out");
  TResult r = Sh.Run(kConvert + " -q -o out links.tar.gz");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(ReadFileBytes(Dir / "out/ALPHA.dem") == refA);
  EXPECT_TRUE(ReadFileBytes(Dir / "out/BRAVO.dem") == refB);
  EXPECT_TRUE(ReadFileBytes(Dir / "out/ALPHA (2).dem") == refA);  // c, through its links

  TTransferSpec lower = b;
  lower.LowerCaseNames = true;
  fs::create_directories(Dir / "both");
  testing::WriteTransfer(Dir / "both", a);
  testing::WriteTransfer(Dir / "both", lower);
  fs::remove_all(Dir / "out");
  fs::create_directory(Dir / "out");
  r = Sh.Run(kConvert + " -o out both");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "both/1234CEL0.DDF -> out/ALPHA.dem\nboth/1234cel0.ddf -> out/BRAVO.dem\n"
                   "veloran-convert: 2 converted, 0 failed\n");
  EXPECT_TRUE(ReadFileBytes(Dir / "out/ALPHA.dem") == refA);
  EXPECT_TRUE(ReadFileBytes(Dir / "out/BRAVO.dem") == refB);
  EXPECT_EQ(Sh.Run(kConvert + " -q -o lower.dem both/1234cel0.ddf").Status, 0);
  EXPECT_TRUE(ReadFileBytes(Dir / "lower.dem") == refB);
}

// A folder of folders and archives: without -r it says where to look; with
// -r every transfer below it converts, each report headed by its input and
// each DEM named on standard error; --name-from=input names them after
// their folder or archive.
TEST_F(Archives, RecursiveSearchAndWhatEachRunWrote) {
  TTransferSpec a, b, c;
  a.Title = "ALPHA";
  b.Title = "BRAVO";
  c.Title = "CHARLIE";
  fs::create_directories(Dir / "real/quad-a");
  fs::create_directories(Dir / "real/deeper/quad-b");
  fs::create_directories(Dir / "stage/quad-c");
  testing::WriteTransfer(Dir / "real/quad-a", a);
  testing::WriteTransfer(Dir / "real/deeper/quad-b", b);
  testing::WriteTransfer(Dir / "stage/quad-c", c);
  ASSERT_EQ(std::system(("tar czf " + Q(Dir / "real/deeper/c.tar.gz") + " -C " + Q(Dir / "stage") + " quad-c").c_str()), 0);
  fs::create_directory(Dir / "out");
  TResult r = Sh.Run(kConvert + " -o out real");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "veloran-convert: real: no transfer (no cell module ????CE??.DDF) in this folder; use -r to search "
                   "its sub-folders\n");
  r = Sh.Run(kConvert + " real -r -o out");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "real/deeper/quad-b/1234CEL0.DDF -> out/BRAVO.dem\n"
                   "real/quad-a/1234CEL0.DDF -> out/ALPHA.dem\n"
                   "real/deeper/c.tar.gz/quad-c/1234CEL0.DDF -> out/CHARLIE.dem\n"
                   "veloran-convert: 3 converted, 0 failed\n");
  EXPECT_EQ(r.Out.rfind("==> real/deeper/quad-b/1234CEL0.DDF <==\nUnits: Meters\n", 0), 0u);
  EXPECT_NE(r.Out.find("\n==> real/deeper/c.tar.gz/quad-c/1234CEL0.DDF <==\nUnits: Meters\n"), std::string::npos);
  r = Sh.Run(kConvert + " -q -r --name-from=input -o out real real/quad-a/1234CATD.DDF");
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* name : {"quad-a.dem", "quad-b.dem", "c.dem", "1234.dem"}) EXPECT_TRUE(fs::exists(Dir / ("out/" + std::string(name)))) << name;
}

TEST_F(Archives, ADamagedArchiveFailsAloneWithItsName) {
  TTransferSpec spec;
  spec.Title = "GOOD";
  fs::create_directories(Dir / "t");
  const std::string cell = testing::WriteTransfer(Dir / "t", spec);
  WriteArchive(Dir / "whole.tar.gz", "gzip", FilesOf(Dir / "t", ""));
  WriteArchive(Dir / "whole.tar", "none", FilesOf(Dir / "t", ""));
  const std::string gz = ReadFileBytes(Dir / "whole.tar.gz"), tar = ReadFileBytes(Dir / "whole.tar");
  std::string badHeader = tar;
  badHeader[148] ^= 0x55;  // the first header's checksum
  const struct {
    std::string name, bytes;
  } cases[] = {
      {"cut.tar.gz", gz.substr(0, gz.size() / 2)},
      {"header.tar", badHeader},
      {"member.tar", tar.substr(0, 512 + 100)},  // a member's header, then 100 of its bytes
      {"empty.tgz", ""},
  };
  for (const auto& c : cases) {
    testing::WriteFileBytes(Dir / c.name, c.bytes);
    fs::remove(Dir / "GOOD.dem");
    const TResult r = Sh.Run(kConvert + " -q " + Q(c.name) + " " + Q(cell));
    EXPECT_EQ(r.Status, 1) << c.name;
    EXPECT_EQ(r.Err.rfind("veloran-convert: " + c.name + ": Cannot read archive " + c.name + ": ", 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("veloran-convert: 1 converted, 1 failed (1 malformed)\n"), std::string::npos) << r.Err;
    EXPECT_TRUE(fs::exists(Dir / "GOOD.dem")) << c.name;  // the next argument went on
  }
}

// A sub-folder that cannot be read is named, and every transfer beside it
// converted; every kind of archive is read on the way.
TEST_F(Archives, RecursiveSearchGoesOnPastAFolderItCannotRead) {
  fs::create_directories(Dir / "tree/locked");
  fs::create_directories(Dir / "tree/open");
  TTransferSpec a, b;
  a.Title = "ALPHA";
  b.Title = "BRAVO";
  testing::WriteTransfer(Dir / "tree/locked", a);
  testing::WriteTransfer(Dir / "tree/open", b);
  WriteArchive(Dir / "tree/open/c.zip", "zip", FilesOf(Dir / "tree/open", "q/"));
  fs::create_directory(Dir / "out");
  fs::permissions(Dir / "tree/locked", fs::perms::none);
  for (const char* open : {"", "/out"}) fs::permissions(Dir.Path() + open, fs::perms::all);
  // Root reads any folder: the program then runs as nobody.
  const std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const TResult r = Sh.Run(as + kConvert + " -q -r -o out tree");
  fs::permissions(Dir / "tree/locked", fs::perms::owner_all);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(r.Err, "veloran-convert: tree/locked: Cannot open folder tree/locked: Permission denied\n"
                   "veloran-convert: 2 converted, 1 failed (1 not found)\n");
  EXPECT_TRUE(fs::exists(Dir / "out/BRAVO.dem"));
  EXPECT_TRUE(fs::exists(Dir / "out/BRAVO (2).dem"));
}

// -j 2 gives what -j 1 gives: the same DEMs, output text and exit status,
// failures included.
TEST_F(Archives, ABatchInParallelMatchesOneAtATime) {
  std::vector<std::string> args;
  for (int i = 0; i < 6; ++i) {
    TTransferSpec spec;
    spec.Title = i % 3 == 2 ? "SAME" : "Q" + std::to_string(i);
    spec.Rows[0][0] = static_cast<int16_t>(100 + i);
    const std::string dir = Dir / ("t" + std::to_string(i));
    fs::create_directories(dir);
    args.push_back(testing::WriteTransfer(dir, spec));
    if (i == 3) fs::remove(dir + "/1234DDOM.DDF");  // fails
  }
  args.push_back(Dir / "missing/1234CEL0.DDF");  // fails
  std::string list;
  for (const std::string& a : args) list += " " + Q(a);
  std::map<std::string, std::string> dems[2];
  TResult runs[2];
  for (int j = 0; j < 2; ++j) {
    const std::string out = Dir / ("j" + std::to_string(j + 1));
    fs::create_directory(out);
    runs[j] = Sh.Run(kConvert + " -j " + std::to_string(j + 1) + " -o " + Q(out) + list);
    for (const auto& e : fs::directory_iterator(out)) dems[j][e.path().filename()] = ReadFileBytes(e.path());
  }
  EXPECT_EQ(runs[0].Status, 1);
  EXPECT_EQ(runs[1].Status, runs[0].Status);
  EXPECT_EQ(runs[1].Out, runs[0].Out);
  std::string err0 = runs[0].Err, err1 = runs[1].Err;
  for (std::string* e : {&err0, &err1}) {
    for (size_t at; (at = e->find("/j1/")) != std::string::npos;) e->replace(at, 4, "/jN/");
    for (size_t at; (at = e->find("/j2/")) != std::string::npos;) e->replace(at, 4, "/jN/");
  }
  EXPECT_EQ(err1, err0);
  EXPECT_NE(err0.find("5 converted, 2 failed"), std::string::npos) << err0;
  EXPECT_EQ(dems[1], dems[0]);
  EXPECT_EQ(dems[0].size(), 5u);
  EXPECT_EQ(dems[0].count("SAME (2).dem"), 1u);
}

}  // namespace
}  // namespace veloran
