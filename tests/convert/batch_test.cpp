// The batch engine in-process: what it finds, how it names, in what order
// it tells, and how it fails and stops.
#include "convert/batch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "convert/transfers.h"
#include "samplegen/transfer.h"
#include "sdts/transfer.h"
#include "support/errors.h"
#include "support/threads.h"
#include "tests/support/recorder.h"

namespace veloran {
namespace {

namespace fs = std::filesystem;
using testing::TTransferSpec;

// Keeps what the batch told, and may cancel it at a given count of
// finished transfers.
class TRecord final : public IBatchObserver {
 public:
  bool Finished(const TBatchItem& item, size_t) override {
    Items.push_back(item);
    if (Items.size() == CancelAt && Batch) {
      // Transfers the worker ended before the cancel are told whenever the
      // telling thread gets to them.
      // A listing made while the worker renames a file into place may miss
      // it: the most of three listings counts it.
      for (int listing = 0; listing < 3; ++listing) {
        size_t written = 0;
        for (const auto& e : std::filesystem::directory_iterator(Out))
          written += e.path().filename().string().rfind(".vlr", 0) != 0;
        WrittenAtCancel = std::max(WrittenAtCancel, written);
      }
      Batch->Cancel();
    }
    return true;
  }
  void Progress(int percent, size_t, size_t, const std::string&) override {
    EXPECT_GE(percent, LastPercent);
    LastPercent = percent;
    if (percent < 100) Shares.push_back({Items.size(), percent});
  }
  std::vector<std::pair<size_t, int>> Shares;  // (transfers told, share) before the end
  std::vector<TBatchItem> Items;
  int LastPercent = 0;
  size_t CancelAt = 0;
  std::string Out;             // the folder written into, looked at on canceling
  size_t WrittenAtCancel = 0;  // the outputs it held then
  TBatch* Batch = nullptr;
};

TTransferSpec Spec(const std::string& title) {
  TTransferSpec spec;
  spec.Title = title;
  return spec;
}

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two transfers with one title in a folder, one of another title alone,
    // an archive of two, a file that is no transfer, and nothing at all.
    fs::create_directories(Dir / "quads/a");
    fs::create_directories(Dir / "quads/b");
    testing::WriteTransfer(Dir / "quads/a", Spec("TWIN"));
    testing::WriteTransfer(Dir / "quads/b", Spec("TWIN"));
    fs::create_directories(Dir / "lone");
    Lone = testing::WriteTransfer(Dir / "lone", Spec("LONE"));
    fs::create_directories(Dir / "stage/x");
    fs::create_directories(Dir / "stage/y");
    testing::WriteTransfer(Dir / "stage/x", Spec("ARCHIVED X"));
    TTransferSpec y = Spec("ARCHIVED Y");
    y.Prefix = "5678";
    testing::WriteTransfer(Dir / "stage/y", y);
    ASSERT_EQ(std::system(("tar -czf '" + Dir / "both.tar.gz" + "' -C '" + Dir / "stage" + "' x y").c_str()), 0);
    testing::WriteFileBytes(Dir / "junk.DDF", "not a module");
    // A twin that fails once read: its name stays free for the next.
    fs::create_directories(Dir / "failing");
    TTransferSpec failing = Spec("TWIN");
    failing.Nrow = "9";
    testing::WriteTransfer(Dir / "failing", failing);
    Args = {Dir / "failing", Dir / "quads/a", Dir / "quads/b", Lone, Dir / "junk.DDF", Dir / "both.tar.gz",
            Dir / "missing"};
  }

  // Options writing every transfer into the folder `out`, made here.
  static TBatchOptions IntoFolder(const std::string& out) {
    fs::create_directories(out);
    TBatchOptions options;
    options.HaveOutput = options.OutputIsDir = true;
    options.Output = out;
    options.Sync = false;
    return options;
  }

  TBatchResult RunBatch(TBatchOptions options, const std::vector<std::string>& args, TRecord& record) {
    TBatch batch(options, args, record);
    record.Batch = &batch;
    return batch.Run();
  }

  testing::TTempDir Dir;
  std::string Lone;
  std::vector<std::string> Args;
};

// Every transfer of every argument, told in the order of the arguments,
// named after its title (the second twin "TWIN (2)"), each failure alone;
// one worker, three, and none (no thread to be had: the thread that tells
// converts) give the same files and the same story.
TEST_F(Batch, ExpandsNamesAndTellsInOrderWhateverTheWorkers) {
  std::map<std::string, std::string> first;
  TExecutor none(0);
  for (const unsigned jobs : {1u, 3u, 0u}) {
    const std::string out = Dir / ("out" + std::to_string(jobs));
    TBatchOptions options = IntoFolder(out);
    options.Jobs = std::max(jobs, 1u);
    if (jobs == 0) options.Executor = &none;
    TRecord record;
    const TBatchResult result = RunBatch(options, Args, record);
    EXPECT_EQ(result.Transfers, 8u);
    EXPECT_EQ(result.Converted, 5u);
    EXPECT_TRUE(result.Fatal.empty());
    EXPECT_EQ(record.LastPercent, 100);
    // The share counts the arguments not read yet: with one worker reading
    // little ahead, it stays near the transfers told out of the 8.
    for (const auto& [told, share] : record.Shares)
      EXPECT_TRUE(jobs > 1 || share <= 100 * static_cast<int>(told + 1) / 7) << told << ": " << share << " %";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "too few for a grid of 9 rows"},
        {"TWIN.dem", ""},
        {"TWIN (2).dem", ""},
        {"LONE.dem", ""},
        {"", "junk.DDF is not a module of an SDTS transfer"},
        {"ARCHIVED X.dem", ""},
        {"ARCHIVED Y.dem", ""},
        {"", "No such file or directory"}};
    ASSERT_EQ(record.Items.size(), expected.size()) << jobs;
    for (size_t i = 0; i < expected.size(); ++i) {
      const TBatchItem& item = record.Items[i];
      const auto& [name, error] = expected[i];
      EXPECT_EQ(item.Ok, error.empty()) << i << " " << item.Error;
      EXPECT_NE(item.Error.find(error), std::string::npos) << item.Error;
      if (name.empty()) continue;
      EXPECT_EQ(item.Output, out + "/" + name);
      EXPECT_EQ(item.Notice.empty(), name != "TWIN (2).dem") << item.Notice;
      EXPECT_EQ(item.Archive.empty(), i < 5);
      EXPECT_FALSE(item.Report.empty());
      const std::string bytes = testing::ReadFileBytes(item.Output);
      if (jobs == 1) first[name] = bytes;
      EXPECT_EQ(bytes, first[name]) << name;
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(out)) ++files;
    EXPECT_EQ(files, 5u) << "no temporary file left";
  }
}

// Canceled after the first transfer told: no other starts (the one under
// way ends whole), the rest are counted as canceled, and no file is partial;
// arguments, and the archives a folder holds, are not read any further.
// Those the worker ended before the cancel are told: their files are there.
TEST_F(Batch, CancelStopsBeforeTheNextTransfer) {
  std::vector<std::string> many;
  for (int i = 0; i < 24; ++i) many.push_back(Lone);
  fs::create_directories(Dir / "archives");
  for (int i = 0; i < 24; ++i) fs::copy(Dir / "both.tar.gz", Dir / ("archives/" + std::to_string(i) + ".tar.gz"));
  const std::pair<std::vector<std::string>, size_t> cases[] = {{many, many.size()}, {{Dir / "archives"}, 48u}};
  for (const auto& [args, transfers] : cases) {
    TBatchOptions options = IntoFolder(Dir / "out");
    options.Recursive = true;
    TRecord record;
    record.CancelAt = 1;
    record.Out = Dir / "out";
    const TBatchResult result = RunBatch(options, args, record);
    EXPECT_TRUE(result.WasCanceled);
    EXPECT_GE(record.WrittenAtCancel, 1u);
    EXPECT_LE(record.Items.size(), record.WrittenAtCancel + 1);  // and at most the one then under way
    EXPECT_EQ(result.Converted, record.Items.size());
    EXPECT_EQ(result.Converted + result.Canceled, result.Transfers);
    EXPECT_LT(result.Transfers, transfers) << "inputs not read once canceled";
    for (const TBatchItem& item : record.Items)
      EXPECT_EQ(testing::ReadFileBytes(item.Output).size(), testing::ReadFileBytes(record.Items[0].Output).size());
    for (const auto& e : fs::directory_iterator(Dir / "out"))
      EXPECT_NE(e.path().filename().string().rfind(".vlr", 0), 0u) << e.path();
    fs::remove_all(Dir / "out");
  }
}

// The engine never waits on its observer: while the observer is still
// busy with the first transfer, the workers convert all the others.
TEST_F(Batch, WorkersGoOnWhileTheObserverIsBusy) {
  class TSlow final : public IBatchObserver {
   public:
    explicit TSlow(std::string out) : Out(std::move(out)) {}
    bool Finished(const TBatchItem&, size_t) override {
      for (int i = 0; i < 2000 && !AllWritten && Calls == 0; ++i) {
        size_t files = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(Out)) ++files;
        AllWritten = files == 6;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      ++Calls;
      return true;
    }
    std::string Out;
    bool AllWritten = false;
    int Calls = 0;
  };
  TBatchOptions options = IntoFolder(Dir / "slow");
  options.NameFromInput = true;
  options.Jobs = 2;
  TSlow slow(Dir / "slow");
  std::vector<std::string> args;
  for (int i = 0; i < 6; ++i) {
    fs::create_directories(Dir / ("six/" + std::to_string(i)));
    args.push_back(testing::WriteTransfer(Dir / ("six/" + std::to_string(i)), Spec("S")));
  }
  TBatch batch(options, args, slow);
  EXPECT_EQ(batch.Run().Converted, 6u);
  EXPECT_TRUE(slow.AllWritten);
}

// The desktop's single conversion: a transfer located, one output file.
// Stopped while it runs (here from its own progress, on the one thread of
// an executor without threads), it fails as canceled and writes nothing;
// run to its end, its grid comes back for the picture.
TEST_F(Batch, ALocatedTransferStopsWhereItStands) {
  class TStopper final : public IBatchObserver {
   public:
    bool Finished(const TBatchItem& item, size_t) override {
      Items.push_back(item);
      return true;
    }
    void Progress(int percent, size_t, size_t, const std::string&) override {
      if (percent > 0 && Batch) Batch->Stop();
    }
    std::vector<TBatchItem> Items;
    TBatch* Batch = nullptr;
  };
  TTransferSpec big = Spec("BIG");
  big.Nrow = big.Ncol = "300";
  big.Rows.assign(300, std::vector<int16_t>(300, 120));
  fs::create_directories(Dir / "big");
  const std::string cell = testing::WriteTransfer(Dir / "big", big);
  TExecutor none(0);
  for (const bool stop : {true, false}) {
    TBatchOptions options;
    options.HaveOutput = true;
    options.Output = Dir / "big.dem";
    options.KeepRelief = true;
    options.Executor = &none;
    TStopper record;
    TBatch batch(options, std::vector<TLocatedInput>{{LocateTransfer(cell), cell}}, record);
    if (stop) record.Batch = &batch;
    const TBatchResult result = batch.Run();
    ASSERT_EQ(record.Items.size(), 1u);
    const TBatchItem& item = record.Items[0];
    EXPECT_EQ(item.Ok, !stop) << item.Error;
    EXPECT_EQ(item.ErrorKind, stop ? TErrorKind::Cancelled : TErrorKind::Malformed);
    EXPECT_EQ(fs::exists(Dir / "big.dem"), !stop);
    EXPECT_EQ(result.Converted, stop ? 0u : 1u);
    EXPECT_EQ(item.Relief ? item.Relief->Cells.size() : 0u, stop ? 0u : 300u * 300u);
  }
  for (const auto& e : fs::directory_iterator(Dir.Path()))
    EXPECT_NE(e.path().filename().string().rfind(".vlr", 0), 0u) << e.path();
}

TEST(BatchOutput, AFolderThatCannotTakeFilesIsRefused) {
  testing::TTempDir dir;
  testing::WriteFileBytes(dir / "file", "x");
  const std::pair<std::string, std::string> cases[] = {
      {dir / "none", "No such file or directory"}, {dir / "file", "Not a directory"}, {dir.Path(), ""}};
  for (const auto& [path, reason] : cases) {
    std::string message;
    try {
      CheckOutputFolder(path);
    } catch (const TConvertError& e) {
      message = e.what();
    }
    EXPECT_EQ(message, reason.empty() ? "" : "Cannot write in folder " + path + ": " + reason);
  }
}

// An archive of many transfers, converted in its order, is read twice in
// all (its index, then one cursor), and holds the members of the
// transfers under way alone, whatever order its folders come in.
TEST(Archive, ManyTransfersInTwoPassesOneTransferHeld) {
  testing::TTempDir dir;
  TTransferSpec spec;
  spec.Rows.assign(400, std::vector<int16_t>(400, 7));  // 320 KB of cells a transfer
  const std::string folders = "kbxamcqdzenfogphrisj";  // 20, stored in this order
  for (const char folder : folders) {
    fs::create_directories(dir / "stage/" + folder);
    testing::WriteTransfer(dir / "stage/" + folder, spec);
  }
  std::string names(folders.size() * 2, ' ');
  for (size_t i = 0; i < folders.size(); ++i) names[2 * i + 1] = folders[i];
  ASSERT_EQ(std::system(("tar -czf '" + dir / "all.tar.gz" + "' -C '" + dir / "stage" + "'" + names).c_str()), 0);
  const auto files = std::make_shared<TArchiveFiles>(dir / "all.tar.gz");
  const std::vector<std::string> cells = files->CellModules();
  ASSERT_EQ(cells.size(), folders.size());
  for (size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(cells[i], dir / "all.tar.gz/" + folders[i] + "/1234CEL0.DDF");
  std::vector<TLocatedTransfer> transfers;
  for (const std::string& cell : cells) {
    transfers.push_back(LocateTransfer(cell, *files, files->Lease(cell)));
    TitleOf(transfers.back());
  }
  size_t most = 0;
  for (TLocatedTransfer& transfer : transfers) {
    TConversionState state;
    testing::TRecorder quiet;
    ReadTransfer(state, transfer, quiet);
    EXPECT_EQ(state.Info.ActualMax, 7);
    most = std::max(most, files->HeldBytes());
    transfer = TLocatedTransfer();  // done: its lease goes
  }
  EXPECT_EQ(files->Passes(), 2u);
  EXPECT_LT(most, size_t{5} << 20);  // the first few MiB, then about one transfer
  EXPECT_EQ(files->HeldBytes(), 0u);
}

}  // namespace
}  // namespace veloran
