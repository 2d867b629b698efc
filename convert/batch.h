// Batches: the transfers that arguments hold (any module of a transfer,
// folders, archives) or that were located already, each located once and
// named, and N conversions at once on the executor's threads, each in its
// own state, told to an observer in the order of the arguments. The
// command line and the desktop program only present them.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "convert/driver.h"
#include "preview/relief.h"

namespace veloran {

// A request for every transfer of a batch, with where the outputs go and
// how the work is shared.
struct TBatchOptions : TRequest {
  bool KeepReports = true;  // keep each conversion's pane lines
  bool KeepRelief = false;  // keep each converted grid for its picture
  bool HaveOutput = false, OutputIsDir = false;
  std::string Output;  // the one output file, or the folder of every output
  bool HavePreview = false, PreviewIsDir = false;
  std::string Preview;  // the one picture, or the folder of every picture
  unsigned Jobs = 1;     // conversions at once; 0: one per processor
  // Where the conversions and the work inside them (a GeoTIFF's
  // compression) find their threads; without, the batch's own, of
  // `Threads` threads (0: one per processor).
  TExecutor* Executor = nullptr;
  unsigned Threads = 0;
  bool Recursive = false;      // folders are searched in their sub-folders and archives
  bool NameFromInput = false;  // default names from the input, not the title
};

// One transfer of a batch and how its conversion ended.
struct TBatchItem {
  std::string Label;    // the module chosen (or the argument that failed) as messages name it
  std::string Archive;  // the archive it is read from, or none
  std::string Output;   // the file written
  std::string Png;      // its picture, or none
  std::string Notice;   // said before the report: the output had to take another name
  std::vector<std::string> Report;  // the pane lines of the conversion
  std::shared_ptr<const TReliefGrid> Relief;  // the grid converted, with KeepRelief
  int Progress = 0;                 // where its conversion's own gauge ended
  std::string Error;                // why it failed (or its picture did); empty otherwise
  TErrorKind ErrorKind = TErrorKind::Malformed;
  bool Ok = false;                  // the output is written
  bool PictureFailed = false;       // the output is written, its picture not
  bool ReportToStderr = false;      // the output itself goes to standard output
};

// What a batch tells as it runs; every call comes from the thread that
// calls Run, never under the batch's lock, so a slow observer holds no
// conversion back.
class IBatchObserver {
 public:
  virtual ~IBatchObserver() = default;
  // The share of the batch done (never going back, 100 only at the end),
  // the transfers ended and known so far, and the one under way.
  virtual void Progress(int /*percent*/, size_t /*done*/, size_t /*total*/, const std::string& /*current*/) {}
  // False when Progress shows nothing: the conversions' progress then
  // wakes no one.
  virtual bool ShowsProgress() const { return true; }
  // A transfer ended, in the order of the arguments; `known` transfers are
  // known so far. False stops the batch at once (its reports can no longer
  // be shown).
  virtual bool Finished(const TBatchItem& item, size_t known) = 0;
};

struct TBatchResult {
  size_t Transfers = 0;  // known: expanded from the arguments
  size_t Converted = 0, PicturesFailed = 0;
  size_t Canceled = 0;  // known transfers never started
  bool WasCanceled = false;
  bool Stopped = false;  // the observer stopped it
  std::map<TErrorKind, size_t> Failed;  // the transfers told as failed, by kind
  std::string Fatal;     // what ended the batch early: no thread, no memory
  TErrorKind FatalKind = TErrorKind::OutOfMemory;
};

// How the failures of a batch went, for its closing count: " (1 not
// found, 2 malformed)", the kinds in their order; empty without failures.
std::string FailureKinds(const std::map<TErrorKind, size_t>& failed);

// A transfer already located (the desktop's single conversion has it, to
// propose its title as the name), labelled as messages name it.
struct TLocatedInput {
  TLocatedTransfer Transfer;
  std::string Label;
};

class TBatch {
 public:
  TBatch(TBatchOptions options, std::vector<std::string> args, IBatchObserver& observer);
  TBatch(TBatchOptions options, std::vector<TLocatedInput> transfers, IBatchObserver& observer);
  ~TBatch();
  TBatch(const TBatch&) = delete;
  TBatch& operator=(const TBatch&) = delete;

  // Finds every transfer of the arguments now, on this thread, and returns
  // how many there are (an argument that fails counts as one); Run then
  // converts them without looking again. Without it, Run finds them as
  // it goes, a little ahead of the conversions.
  size_t Expand();
  // Runs every conversion on up to `Jobs` workers; this thread reads ahead
  // and calls the observer, and converts where no worker could start.
  TBatchResult Run();
  // From any thread: no transfer starts after this; those under way end,
  // written whole or not at all, and are told.
  void Cancel();
  // Cancel, and the conversions under way stop too, at their next step,
  // writing nothing: they fail as canceled.
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

// Fails with "Cannot write in folder %s: <reason>" unless outputs can be
// created in `dir`.
void CheckOutputFolder(const std::string& dir);

}  // namespace veloran
