#include "convert/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "convert/finder.h"
#include "convert/names.h"
#include "preview/relief.h"
#include "sdts/cells.h"
#include "support/errors.h"
#include "support/filesink.h"
#include "support/tempfiles.h"
#include "support/textutil.h"

namespace veloran {

// The workers convert; the thread of Run finds transfers a little ahead
// (so memory stays bounded by the number of workers), places them in the
// order of the arguments, and tells the observer of each in that order as
// soon as it and every one before it are done, with the lock released.
struct TBatch::TImpl {
  TImpl(TBatchOptions options, std::vector<std::string> args, IBatchObserver& observer)
      : Options(std::move(options)), Observer(observer), Finder(Options) {
    const unsigned processors = Processors();
    if (Options.Jobs == 0) Options.Jobs = std::min(processors, unsigned{kMaxJobs});
    if (!Options.Executor) {
      Own = std::make_unique<TExecutor>(std::max(Options.Threads == 0 ? processors : Options.Threads, 1u));
      Options.Executor = Own.get();
    }
    Workers = std::max(std::min(Options.Jobs, Options.Executor->Size()), 1u);
    Root.Taken = Root.Expanded = true;
    for (std::string& arg : args) {
      auto input = std::make_unique<TInput>();
      input->Path = std::move(arg);
      ToTake.push_back(input.get());
      Root.Pieces.push_back({{}, std::move(input)});
    }
    Unread = ToTake.size();
    Cursor.push_back({&Root, 0});
  }
  TImpl(TBatchOptions options, std::vector<TLocatedInput> transfers, IBatchObserver& observer)
      : TImpl(std::move(options), std::vector<std::string>(), observer) {
    for (TLocatedInput& input : transfers) {
      const std::string stem = input.Transfer.Modules.TransferPrefix;
      Root.Pieces.push_back({Finder.Plan(std::move(input.Transfer), input.Label, stem), {}});
    }
    PlaceReady();
  }

  size_t Expand() {
    std::unique_lock lock(Mutex);
    while (TInput* input = NextInput()) ExpandInput(*input, lock);
    PlaceReady();
    return Placed.size();
  }

  TBatchResult Run() {
    // The workers are the executor's free threads; fewer than asked still
    // convert everything, and with none this thread converts as well.
    // Memory that runs out outside a conversion ends the batch with a
    // message once the conversions under way are done: every temporary
    // file goes with its conversion.
    TTaskGroup workers(Options.Executor);
    {
      std::lock_guard lock(Mutex);
      const unsigned started = workers.Start(Workers, [this] { Work(); });
      Inline = started == 0;
      Workers = std::max(started, 1u);
    }
    TConversionState* state = nullptr;  // this thread's, when it converts
    std::unique_ptr<TConversionState> own;
    Guarded([&] {
      if (Inline) state = (own = std::make_unique<TConversionState>()).get();
      std::unique_lock lock(Mutex);
      while (!Stopped && !Finished()) {
        TakeCancel();
        if (TInput* input = ReadAhead()) {
          ExpandInput(*input, lock);
          continue;
        }
        if (Inline && !Queue.empty()) {
          ConvertNext(*state, lock);
          continue;
        }
        if (!Tell(lock)) Telling.wait(lock, [this] { return Dirty || Stopped || (CancelAsked && !Canceled); });
        Dirty = false;
      }
    });
    {
      std::lock_guard lock(Mutex);
      Stopped = true;  // every transfer is told, or the batch ends: the workers may end
      WakeAll();
    }
    workers.Wait();
    Result.Transfers = Placed.size();
    Result.WasCanceled = Canceled;
    return Result;
  }

  // The observer may cancel from within its calls: the request is taken
  // up under the lock by the next thread to look.
  void Cancel() {
    CancelAsked = true;
    Signal();
  }
  void Stop() {
    StopAsked = true;
    Cancel();
  }

 private:
  // Wakes the thread that tells, alone: a conversion's progress is no
  // news for the workers.
  void Signal() {
    {
      std::lock_guard lock(Mutex);
      Dirty = true;
    }
    Telling.notify_one();
  }
  // Wakes everyone: the workers and the thread that tells.
  void WakeAll() {
    Dirty = true;
    Wake.notify_all();
    Telling.notify_one();
  }

  // Transfers waiting for a worker never start, and inputs not read yet
  // are left unread.
  void TakeCancel() {
    if (!CancelAsked || Canceled) return;
    Canceled = true;
    for (TJob* job : Queue) Settle(*job, true);
    Queue.clear();
    for (TInput* input : ToTake) input->Taken = input->Expanded = true;
    Behind += ToTake.size();
    Unread -= ToTake.size();
    ToTake.clear();
    PlaceReady();
    WakeAll();
  }

  // Runs `f`; a failure it lets through stops the batch with its message.
  template <class F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (...) {
      Stop(CurrentFailure());
    }
  }
  void Stop(const TConvertError& error) noexcept {
    std::lock_guard lock(Mutex);
    if (Result.Fatal.empty()) {
      Result.FatalKind = error.Kind();
      try {
        Result.Fatal = error.what();
      } catch (const std::bad_alloc&) {
        Result.Fatal = "Out of memory";  // short enough to need no memory of its own
        Result.FatalKind = TErrorKind::OutOfMemory;
      }
    }
    Stopped = true;
    WakeAll();
  }

  // The next input to read: the arguments in order, the archives a folder
  // holds right after it.
  TInput* NextInput() const { return ToTake.empty() ? nullptr : ToTake.front(); }
  // The next input to read, while few transfers wait for a worker: the
  // inputs being read, and those read that wait behind one being read,
  // count as waiting.
  TInput* ReadAhead() const { return Queue.size() + Reading + Behind < Workers ? NextInput() : nullptr; }

  // Reads an input with the lock released, then places what is ready.
  void ExpandInput(TInput& input, std::unique_lock<std::mutex>& lock) {
    ToTake.pop_front();
    input.Taken = true;
    ++Reading;
    lock.unlock();
    std::vector<TPiece> pieces = Finder.Expand(input.Path);
    lock.lock();
    input.Pieces = std::move(pieces);
    input.Expanded = true;
    --Reading;
    ++Behind;
    --Unread;
    // A folder's archives are read next, in their order, each in its turn.
    for (auto piece = input.Pieces.rbegin(); piece != input.Pieces.rend(); ++piece)
      if (piece->Inner) {
        if (Canceled) {
          piece->Inner->Taken = piece->Inner->Expanded = true;
          ++Behind;
        } else {
          ToTake.push_front(piece->Inner.get());
          ++Unread;
        }
      }
    PlaceReady();
    WakeAll();
  }

  // Walks the pieces in order from where the last walk stopped, giving each
  // transfer its place, up to the first input not read yet.
  void PlaceReady() {
    while (!Cursor.empty()) {
      auto& [input, i] = Cursor.back();
      if (i == input->Pieces.size()) {
        Cursor.pop_back();
        continue;
      }
      TPiece& piece = input->Pieces[i];
      if (piece.Job) {
        Placed.push_back(piece.Job.get());
        ++i;
      } else if (piece.Inner->Expanded) {
        ++i;
        --Behind;
        Cursor.push_back({piece.Inner.get(), 0});
      } else {
        break;
      }
    }
    AllPlaced = Cursor.empty();
    for (; Named < Placed.size(); ++Named) Name(*Placed[Named]);
  }

  // A transfer takes its place: a failed one is done; with one output file
  // (or picture) for the batch, a second transfer fails; the others wait
  // for a worker.
  void Name(TJob& job) {
    job.Order = Named;
    if (!job.Transfer) {
      job.Done = job.Settled = true;
      return;
    }
    if (Canceled) return Settle(job, true);
    if (Planned++ > 0 &&
        ((Options.HaveOutput && !Options.OutputIsDir) || (Options.HavePreview && !Options.PreviewIsDir))) {
      const bool preview = !(Options.HaveOutput && !Options.OutputIsDir);
      return Fail(job, TConvertError(TErrorKind::OutputIo,
                                     preview ? "--preview names one file, " + Options.Preview +
                                                   ", but there is more than one transfer"
                                             : "-o names one file, " + Options.Output +
                                                   ", but there is more than one transfer"));
    }
    Names.Expect(job.Wanted, job.Order);
    Queue.push_back(&job);
  }

  void Fail(TJob& job, const TConvertError& error) {
    job.Item.Error = error.what();
    job.Item.ErrorKind = error.Kind();
    job.Transfer.reset();
    Settle(job);
    job.Done = true;
  }
  // The job's name no longer keeps later ones of the same name waiting.
  void Settle(TJob& job, bool canceled = false) {
    if (canceled) {
      job.Done = job.Canceled = true;
      job.Transfer.reset();
    }
    if (job.Settled) return;
    job.Settled = true;
    Names.Settle(job.Wanted, job.Order);
    Wake.notify_all();
  }

  // The output of a transfer just read (see TOutputNames); false when the
  // batch stops meanwhile.
  bool Claim(TJob& job, std::unique_lock<std::mutex>& lock) {
    TBatchItem& item = job.Item;
    Wake.wait(lock, [&] { return Stopped || Names.Turn(job.Wanted, job.Order); });
    if (Stopped) {
      Settle(job);
      return false;
    }
    if (Options.HaveOutput && !Options.OutputIsDir) {
      item.Output = job.Wanted;
    } else {
      item.Output = Names.Take(job.Wanted, &job);
      if (item.Output != job.Wanted)
        item.Notice = job.Wanted + " was written earlier in this run; this DEM is " + item.Output;
    }
    if (Options.HavePreview) item.Png = PictureName(item.Output, Options);
    // Standard output carries the output alone.
    item.ReportToStderr = IsStandardOutput(item.Output);
    Settle(job);
    return true;
  }

  void Work() {
    Guarded([this] {
      // Each worker holds one conversion state, which every conversion
      // starts afresh: nothing of one transfer reaches the output of another.
      TConversionState state;
      std::unique_lock lock(Mutex);
      for (;;) {
        Wake.wait(lock, [this] { return Stopped || !Queue.empty() || (CancelAsked && !Canceled) || ReadAhead(); });
        if (Stopped) return;
        TakeCancel();
        if (!Queue.empty()) {
          ConvertNext(state, lock);
          continue;
        }
        if (TInput* input = ReadAhead()) ExpandInput(*input, lock);
      }
    });
  }

  // Converts the first job waiting, the lock held on entry and on return.
  void ConvertNext(TConversionState& state, std::unique_lock<std::mutex>& lock) {
    TJob* job = Queue.front();
    Queue.pop_front();
    Convert(*job, state, lock);
    job->Transfer.reset();  // an archive's files go with its last transfer
    job->Done = true;
    WakeAll();
  }

  // Converts one job in a worker's state, the lock released but for the
  // naming; what it reports stays in the job.
  void Convert(TJob& job, TConversionState& state, std::unique_lock<std::mutex>& lock) {
    // Converting on the thread that tells, the progress is told at once.
    TJobPane pane(job, Options.KeepReports, StopAsked, [this] {
      if (!Observer.ShowsProgress()) return;
      if (!Inline) return Signal();
      std::unique_lock lock(Mutex);
      Tell(lock);
    });
    TBatchItem& item = job.Item;
    const TLocatedTransfer& transfer = *job.Transfer;
    std::optional<TConvertError> error;
    bool named = false;
    lock.unlock();
    try {
      // Once read, the transfer settles its name.
      ConvertTransfer(state, transfer, Options, pane, Options.Executor, [&] {
        std::unique_lock relock(Mutex);
        named = true;
        if (!Claim(job, relock)) veloran::Fail(TErrorKind::Cancelled, "the batch stopped");
        relock.unlock();
        // The picture, like the output, is never a file of the transfer:
        // both are checked before anything is written.
        if (!item.Png.empty() && SameOutputFile(item.Png, item.Output))
          veloran::Fail(TErrorKind::OutputIo, "Cannot create file " + item.Png + ": it is also the DEM being written");
        if (!item.Png.empty()) CheckNotTransferOutput(transfer, item.Png);
        return item.Output;
      });
    } catch (...) {
      error = CurrentFailure();
    }
    if (!named) {
      // Failed while reading: it leaves later transfers of its name free.
      lock.lock();
      Settle(job);
      lock.unlock();
    }
    if (!error) {
      item.Ok = true;
      if (Options.KeepRelief) {
        try {
          EnsureGrid(state);
          item.Relief = std::make_shared<const TReliefGrid>(TReliefGrid::Of(state));
        } catch (const std::bad_alloc&) {
          // The file is written; only its picture is not kept.
        }
      }
      // The output is written and stays so: a picture that fails is told apart.
      if (!item.Png.empty()) {
        try {
          EnsureGrid(state);
          WriteReliefPng(RenderShadedRelief(state), item.Png, Options.Sync);
        } catch (...) {
          const TConvertError failed = CurrentFailure();
          item.PictureFailed = true;
          error = TConvertError(failed.Kind(), "converted; the picture failed: " + std::string(failed.what()));
        }
      }
    }
    if (error) {
      item.Error = error->what();
      item.ErrorKind = error->Kind();
    }
    item.Progress = job.Progress.exchange(100);
    lock.lock();
    if (!item.Ok) Names.Release(item.Output, &job);
  }

  // Tells the observer, the lock released, of the transfers that ended in
  // order and of the batch's share. False when there was nothing new. An
  // item is read only once done: until then its worker fills it unlocked.
  bool Tell(std::unique_lock<std::mutex>& lock) {
    std::vector<TJob*> ended;
    for (; Told < Named && Placed[Told]->Done; ++Told) ended.push_back(Placed[Told]);
    int sum = 0;
    const TJob* current = nullptr;  // the first transfer under way
    for (size_t i = Told; i < Placed.size(); ++i) {
      const int progress = Placed[i]->Progress.load();
      sum += progress;
      if (!current && progress > 0 && !Placed[i]->Done) current = Placed[i];
    }
    // 100 % only once every transfer is done. An input not read yet counts
    // as one transfer: a batch of 80 archives was at 97 % after 40.
    const size_t unread = Unread;
    const size_t known = Placed.size();
    const int share = static_cast<int>((100 * Told + static_cast<size_t>(sum)) / std::max<size_t>(known + unread, 1));
    // Never going back, though transfers found later lower the share.
    const int percent = std::max(Percent, Finished() ? 100 : std::min(share, 99));
    const std::string label = current ? current->Item.Label : Told < known ? Placed[Told]->Item.Label : std::string();
    const bool changed = !ended.empty() || percent != Percent || label != LastLabel;
    Percent = percent;
    LastLabel = label;
    if (!changed) return false;
    lock.unlock();
    bool goOn = true;
    size_t canceled = 0, converted = 0, pictures = 0;
    std::map<TErrorKind, size_t> failed;
    for (TJob* job : ended) {
      if (job->Canceled) {
        ++canceled;
        continue;
      }
      converted += job->Item.Ok;
      if (!job->Item.Ok) ++failed[job->Item.ErrorKind];
      pictures += job->Item.PictureFailed;
      if (goOn) goOn = Observer.Finished(job->Item, known);
      job->Item.Report.clear();
      job->Item.Relief.reset();
    }
    if (known > 0) Observer.Progress(percent, Told, known, label);
    lock.lock();
    Result.Canceled += canceled;
    Result.Converted += converted;
    Result.PicturesFailed += pictures;
    for (const auto& [kind, count] : failed) Result.Failed[kind] += count;
    if (!goOn) {
      Stopped = Result.Stopped = true;
      WakeAll();
    }
    return true;
  }
  // Every transfer is found, placed and told.
  bool Finished() const { return AllPlaced && Told == Placed.size(); }

  TBatchOptions Options;
  IBatchObserver& Observer;
  TFinder Finder;
  std::unique_ptr<TExecutor> Own;  // where the options give no executor
  unsigned Workers = 1;            // conversions at once
  bool Inline = false;             // no worker started: the thread of Run converts
  std::mutex Mutex;
  std::condition_variable Wake;   // the workers wait on it
  std::condition_variable Telling;  // the thread that tells waits on it
  TInput Root;                  // the arguments as its pieces, and what reading them found
  std::deque<TInput*> ToTake;   // inputs no thread reads yet, in the order to read them
  std::vector<std::pair<TInput*, size_t>> Cursor;  // where placing the transfers stands
  size_t Reading = 0, Behind = 0;  // inputs being read; those read that placing has not reached
  size_t Unread = 0;            // inputs not read yet (each counted as one transfer in the share)
  std::vector<TJob*> Placed;    // every transfer known, in the order of the arguments
  size_t Named = 0;             // transfers placed and named
  size_t Planned = 0;           // of those, the ones found, to be converted
  std::deque<TJob*> Queue;      // named, waiting for a worker
  TOutputNames Names;
  size_t Told = 0;              // transfers told as ended
  bool AllPlaced = false;       // no input is left to read
  bool Stopped = false, Canceled = false, Dirty = false;
  std::atomic<bool> CancelAsked{false};
  std::atomic<bool> StopAsked{false};  // conversions under way stop too
  int Percent = 0;  // the share last told
  std::string LastLabel;
  TBatchResult Result;
};

TBatch::TBatch(TBatchOptions options, std::vector<std::string> args, IBatchObserver& observer)
    : Impl(std::make_unique<TImpl>(std::move(options), std::move(args), observer)) {}

TBatch::TBatch(TBatchOptions options, std::vector<TLocatedInput> transfers, IBatchObserver& observer)
    : Impl(std::make_unique<TImpl>(std::move(options), std::move(transfers), observer)) {}

TBatch::~TBatch() = default;

size_t TBatch::Expand() { return Impl->Expand(); }

TBatchResult TBatch::Run() { return Impl->Run(); }

void TBatch::Cancel() { Impl->Cancel(); }

void TBatch::Stop() { Impl->Stop(); }

}  // namespace veloran
