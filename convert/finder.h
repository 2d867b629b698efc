// The transfers of a batch's inputs: each argument (a module, a folder, an
// archive) expanded into its transfers, each located once and given the
// output name it asks for, and the names its outputs then take; and the job
// that carries a transfer through the batch engine. Used by the engine
// alone.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/batch.h"

namespace veloran {


// One transfer to convert, and how its conversion went.
struct TJob {
  TBatchItem Item;
  std::optional<TLocatedTransfer> Transfer;  // none when it failed to be found
  std::string Wanted;                        // the output name it asks for
  size_t Order = 0;                          // its place among the transfers
  bool Settled = false;                      // its output is claimed, or it failed before
  bool Done = false;
  bool Canceled = false;  // never started: the batch was canceled
  std::atomic<int> Progress{0};
};

// A conversion's pane: its lines are kept for the observer, and a new
// share of its progress wakes the thread that tells it.
class TJobPane final : public IInfoPane {
 public:
  TJobPane(TJob& job, bool keep, const std::atomic<bool>& stopping, std::function<void()> changed)
      : Job(job), Keep(keep), Stopping(stopping), Changed(std::move(changed)) {}
  void ClearPane() override {}
  void AppendLine(const std::string& line) override {
    if (Keep) Job.Item.Report.push_back(line);
  }
  // The telling thread is woken every 5 points: waking it at every point
  // of every conversion (some 800 times for 8 transfers) cost a batch of
  // 8 x 1201 x 1201 at -j 2 more than a conversion's worth of time.
  void SetProgress(int value) override {
    // Asked to stop, a conversion ends at its next step; its file goes.
    if (Stopping) Fail(TErrorKind::Cancelled, "Canceled");
    value = std::clamp(value, 0, 100);
    const int before = Job.Progress.exchange(value);
    if (value / 5 != before / 5) Changed();
  }

 private:
  TJob& Job;
  bool Keep;
  const std::atomic<bool>& Stopping;
  std::function<void()> Changed;
};

// What an input holds, in order: its transfers, and the archives a folder
// holds, each read in its turn like an argument.
struct TInput;
struct TPiece {
  std::unique_ptr<TJob> Job;
  std::unique_ptr<TInput> Inner;
};
struct TInput {
  std::string Path;
  bool Taken = false;     // a thread reads it
  bool Expanded = false;  // its pieces are there
  std::vector<TPiece> Pieces;
};

// A job that failed before its conversion: it is told with its message.
std::unique_ptr<TJob> FailedJob(const std::string& label, const TConvertError& error);

// Finds the transfers of inputs and the names their outputs ask for; may
// run on any thread.
class TFinder {
 public:
  explicit TFinder(const TBatchOptions& options) : Options(options) {}
  // The pieces of one input; a failure gives one failed job.
  std::vector<TPiece> Expand(const std::string& path) const;
  // The job of a transfer located, labelled `label`, and the name its
  // output asks for.
  std::unique_ptr<TJob> Plan(TLocatedTransfer transfer, const std::string& label, const std::string& inputName) const;

 private:
  // The transfer of `chosen`, planned.
  std::unique_ptr<TJob> Locate(const std::string& chosen, const ITransferSource& source,
                               std::shared_ptr<const ITransferSource> keep, const std::string& inputName) const;

  const TBatchOptions& Options;
};

}  // namespace veloran
