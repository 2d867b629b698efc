#include "convert/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <map>
#include <system_error>
#include <thread>

#include "convert/driver.h"
#include "convert/transfers.h"
#include "preview/relief.h"
#include "sdts/cells.h"
#include "support/errors.h"
#include "support/filesink.h"
#include "support/tempfiles.h"
#include "support/textutil.h"

namespace veloran {

namespace {

// One transfer to convert, and how its conversion went.
struct TJob {
  TBatchItem Item;
  std::string DefaultName;                    // the name the transfer's title (or input) proposes
  std::shared_ptr<const ITransferSource> Files;  // an archive's modules, or none
  bool Done = false;
  bool Started = false, Told = false;  // a worker took it; the observer heard so
  bool Canceled = false;               // never started: the batch was canceled
  bool Counted = false;                // the planner counted it among the outputs
  std::atomic<int> Progress{0};
};

// Finds the transfers of an argument and names their outputs. Expand reads
// (an archive, a folder, the IDEN module for the title) and may run on any
// thread; Reserve names the outputs and must see the arguments in order: a
// title that this run has already used gets "TITLE (2).dem" and so on.
class TPlanner {
 public:
  explicit TPlanner(const TBatchOptions& options) : Options(options) {}

  // The transfers of one argument; an argument that fails gives one failed job.
  std::vector<std::unique_ptr<TJob>> Expand(const std::string& arg) const {
    std::vector<std::unique_ptr<TJob>> jobs;
    try {
      if (IsFolder(arg)) {
        const TFolderTransfers found = TransfersIn(arg, Options.Recursive);
        if (found.Cells.empty() && found.Archives.empty() && found.Unreadable.empty())
          veloran::Fail(std::string("no transfer (no cell module ????CE??.DDF) in this folder") +
                        (found.HasSubfolders && !Options.Recursive ? "; use -r to search its sub-folders" : ""));
        for (const std::string& cell : found.Cells) jobs.push_back(Plan(cell, nullptr, FolderName(cell)));
        for (const std::string& archive : found.Archives) ExpandArchive(archive, jobs);
        for (const auto& [folder, message] : found.Unreadable) jobs.push_back(Failed(folder, message));
      } else if (IsArchiveName(arg)) {
        ExpandArchive(arg, jobs);
      } else {
        jobs.push_back(Plan(arg, nullptr, ModuleStem(arg)));
      }
    } catch (const std::bad_alloc&) {
      jobs.push_back(Failed(arg, "Out of memory"));
    } catch (const std::exception& e) {
      jobs.push_back(Failed(arg, e.what()));
    }
    return jobs;
  }

  // Names the output (and picture) of a job that Expand did not fail.
  // False while its name cannot be told yet: the name, or one of its
  // numbered forms before the first free one, belongs to a transfer still
  // under way, which may yet fail and leave it free.
  bool Reserve(TJob& job) {
    TBatchItem& item = job.Item;
    if (!job.Counted) {
      // One output file (or picture) for one transfer: a folder or an
      // archive with more fails for the others.
      job.Counted = true;
      ++Planned;
      if (Options.HavePreview && !Options.PreviewIsDir && Planned > 1) {
        Fail(job, "--preview names one file, " + Options.Preview + ", but there is more than one transfer");
        return true;
      }
      if (Options.HaveOutput && !Options.OutputIsDir && Planned > 1) {
        Fail(job, "-o names one file, " + Options.Output + ", but there is more than one transfer");
        return true;
      }
    }
    if (Options.HaveOutput && !Options.OutputIsDir) {
      item.Output = Options.Output;
    } else {
      const std::string wanted = Options.OutputIsDir ? InFolder(Options.Output, job.DefaultName) : job.DefaultName;
      const std::string name = FreeName(wanted);
      if (name.empty()) return false;
      item.Output = name;
      if (item.Output != wanted) item.Notice = wanted + " was written earlier in this run; this DEM is " + item.Output;
      Claims[item.Output] = &job;
    }
    PlanPreview(item);
    // Standard output carries the output alone.
    item.ReportToStderr = IsStandardOutput(item.Output);
    if (!item.Png.empty() && SameOutputFile(item.Png, item.Output))
      Fail(job, "Cannot create file " + item.Png + ": it is also the DEM being written");
    return true;
  }

  // A transfer ended: a name it did not write is free again.
  void Ended(const TJob& job) {
    const auto claim = Claims.find(job.Item.Output);
    if (claim != Claims.end() && claim->second == &job && !job.Item.Ok) Claims.erase(claim);
  }

  static void Fail(TJob& job, const std::string& message) {
    job.Item.Error = message;
    job.Files.reset();
    job.Done = true;
  }

 private:
  // The transfers of an archive; one that fails to read fails alone.
  void ExpandArchive(const std::string& path, std::vector<std::unique_ptr<TJob>>& jobs) const {
    try {
      const auto files = std::make_shared<TArchiveFiles>(path);
      const std::vector<std::string> cells = files->CellModules();
      if (cells.empty()) veloran::Fail("no transfer (no cell module ????CE??.DDF) in this archive");
      const std::string stem = ArchiveStem(path);
      for (const std::string& cell : cells) jobs.push_back(Plan(cell, files, stem));
    } catch (const std::bad_alloc&) {
      jobs.push_back(Failed(path, "Out of memory"));
    } catch (const std::exception& e) {
      jobs.push_back(Failed(path, e.what()));
    }
  }
  // The name of the folder a file lies in.
  static std::string FolderName(const std::string& path) {
    const std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    if (dir.empty()) return ".";
    return dir.substr(dir.rfind('/') + 1);
  }
  // A module's name without its code and ".DDF": 1234CEL0.DDF gives 1234.
  static std::string ModuleStem(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.size() > 8 && EndsWithIgnoringCase(name, ".DDF")) name.resize(name.size() - 8);
    return name;
  }

  std::unique_ptr<TJob> Plan(const std::string& cell, std::shared_ptr<const ITransferSource> files,
                             const std::string& inputName) const {
    auto job = std::make_unique<TJob>();
    job->Item.Label = job->Item.Cell = cell;
    if (files) job->Item.Archive = files->Container();
    job->Files = std::move(files);
    if (Options.HaveOutput && !Options.OutputIsDir) return job;  // no name to propose
    try {
      std::string name = Options.NameFromInput ? PlainFileName(inputName) + ".dem"
                                               : MakeDefaultDemName(cell, job->Files ? *job->Files : DiskFiles());
      // The format's own extension.
      job->DefaultName = name.substr(0, name.size() - 4) + Options.Format->Extension;
    } catch (const std::bad_alloc&) {
      return Failed(cell, "Out of memory");
    } catch (const std::exception& e) {
      return Failed(cell, e.what());
    }
    return job;
  }
  // The picture beside the options' folder is named after the output.
  void PlanPreview(TBatchItem& item) const {
    if (!Options.HavePreview) return;
    if (!Options.PreviewIsDir) {
      item.Png = Options.Preview;
      return;
    }
    std::string name = item.Output.substr(item.Output.rfind('/') + 1);
    const std::string extension = Options.Format->Extension;
    if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
      name.resize(name.size() - extension.size());
    item.Png = InFolder(Options.Preview, name + ".png");
  }
  static std::unique_ptr<TJob> Failed(const std::string& label, const std::string& message) {
    auto job = std::make_unique<TJob>();
    job->Item.Label = label;
    Fail(*job, message);
    return job;
  }
  // `path`, or the first of "STEM (2).dem", "STEM (3).dem"... that no
  // transfer of this run wrote; empty while one under way holds a name
  // before it.
  std::string FreeName(const std::string& path) const {
    const size_t dot = path.rfind('.');
    const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::string candidate = path;
    for (int n = 2;; ++n) {
      const auto claim = Claims.find(candidate);
      if (claim == Claims.end()) return candidate;
      if (!claim->second->Done) return {};
      candidate = stem + " (" + std::to_string(n) + ")" + ext;
    }
  }

  const TBatchOptions& Options;
  std::map<std::string, const TJob*> Claims;  // each output name and the transfer that writes (or wrote) it
  int Planned = 0;
};

// A conversion's pane: its lines are kept for the observer.
class TJobPane final : public IInfoPane {
 public:
  TJobPane(TJob& job, bool keep) : Job(job), Keep(keep) {}
  void ClearPane() override {}
  void AppendLine(const std::string& line) override {
    if (Keep) Job.Item.Report.push_back(line);
  }
  void SetProgress(int value) override { Job.Progress.store(value < 0 ? 0 : (value > 100 ? 100 : value)); }

 private:
  TJob& Job;
  bool Keep;
};

// Converts one job in a worker's state; what it reports stays in the job.
void Convert(TJob& job, const TBatchOptions& options, TConversionState& state) {
  TJobPane pane(job, options.KeepReports);
  TBatchItem& item = job.Item;
  auto failure = [](auto&& step) -> std::string {
    try {
      step();
    } catch (const std::bad_alloc&) {
      return "Out of memory";
    } catch (const std::exception& e) {
      return e.what();
    }
    return {};
  };
  std::string error = failure([&] {
    // The picture, like the output, is never a file of the transfer: both
    // are checked before anything is written.
    const ITransferSource& source = job.Files ? *job.Files : DiskFiles();
    if (!item.Png.empty()) CheckNotTransferOutput(item.Cell, item.Png, source);
    // Where the workers fill the processors, a writer thread per DEM only
    // competes with them: 8 DEMs of 1201 x 1201 at -j 2 took 68 ms with
    // one, 58 ms without (1.29x and 1.55x the throughput of -j 1).
    const bool background = options.Jobs < std::max(1u, std::thread::hardware_concurrency());
    ConvertSdtsToDem(state, item.Cell, item.Output, options.AddNewLines, pane, options.Sync, source,
                     *options.Format, background);
  });
  if (error.empty()) {
    item.Ok = true;
    // The output is written and stays so: a picture that fails is told apart.
    if (!item.Png.empty())
      error = failure([&] {
        EnsureGrid(state);
        WriteReliefPng(RenderShadedRelief(state), item.Png, options.Sync);
      });
    if (!error.empty()) {
      item.PictureFailed = true;
      error = "converted; the picture failed: " + error;
    }
  }
  item.Error = error;
  job.Progress.store(100);
}

}  // namespace

// The workers convert; the thread of Run reads ahead while the queue of
// transfers is short (so memory stays bounded by the number of workers),
// names the outputs in the order of the arguments, and tells the observer
// of each transfer in that order as soon as it and every one before it
// are done.
struct TBatch::TImpl {
  TImpl(TBatchOptions options, std::vector<std::string> args, IBatchObserver& observer)
      : Options(WithJobs(std::move(options))), Args(std::move(args)), Observer(observer), Planner(Options) {}
  static TBatchOptions WithJobs(TBatchOptions options) {
    if (options.Jobs == 0) options.Jobs = std::clamp(std::thread::hardware_concurrency(), 1u, unsigned{kMaxJobs});
    return options;
  }

  TBatchResult Run() {
    // A thread that cannot be started, or memory that runs out outside a
    // conversion, ends the batch with a message once the conversions under
    // way are done: every temporary file goes with its conversion.
    std::vector<std::thread> workers;
    try {
      for (unsigned i = 0; i < Options.Jobs; ++i) workers.emplace_back([this] { Work(); });
    } catch (const std::system_error& e) {
      // Fewer workers than asked still convert everything.
      if (workers.empty()) Result.Fatal = std::string("cannot start a thread: ") + e.code().message();
    }
    if (Result.Fatal.empty()) {
      Guarded([&] {
        std::unique_lock lock(Mutex);
        // This thread reads ahead when the queue is short: so even one
        // worker never waits for an archive to be unpacked.
        while (!Stopped && (Named < (Canceled ? Expanded : Args.size()) || Told < Jobs.size())) {
          TakeCancel();
          if (!Canceled && Expanded < Args.size() && Queue.size() + Held.size() < Options.Jobs) {
            ExpandNext(lock);
          } else {
            TellReady(lock);
          }
        }
      });
    }
    {
      std::lock_guard lock(Mutex);
      Stopped = true;  // every transfer is told, or the batch ends: the workers may end
      Wake.notify_all();
    }
    for (std::thread& worker : workers) worker.join();
    Result.Transfers = Jobs.size();
    Result.WasCanceled = Canceled;
    return Result;
  }

  // The observer may cancel from within its calls, which hold the lock:
  // the request is taken up under the lock by the next thread to look.
  void Cancel() {
    CancelAsked = true;
    Wake.notify_all();
  }
  void TakeCancel() {
    if (!CancelAsked || Canceled) return;
    Canceled = true;
    for (auto* waiting : {&Queue, &Held})
      for (TJob* job : *waiting) {
        job->Done = job->Canceled = true;
        job->Files.reset();
      }
    Queue.clear();
    Held.clear();
    Wake.notify_all();
  }

  // Names a job and queues it, or holds it while its name is not known:
  // behind a held job of the same name, it keeps its turn.
  void Place(TJob& job) {
    const bool behind =
        std::any_of(Held.begin(), Held.end(), [&](const TJob* h) { return h->DefaultName == job.DefaultName; });
    if (behind || !Planner.Reserve(job)) {
      Held.push_back(&job);
    } else if (!job.Done) {
      Queue.push_back(&job);
    }
  }
  // A transfer ended: the jobs held for its name are placed again.
  void Ended(TJob& job) {
    Planner.Ended(job);
    std::deque<TJob*> held;
    held.swap(Held);
    for (TJob* h : held) Place(*h);
  }

  // Runs `f`; a failure it lets through stops the batch with its message.
  template <class F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      const std::string message = dynamic_cast<const std::bad_alloc*>(&e) ? "Out of memory" : e.what();
      std::lock_guard lock(Mutex);
      if (Result.Fatal.empty()) Result.Fatal = message;
      Stopped = true;
      Wake.notify_all();
    }
  }

  void Work() {
    Guarded([this] {
      // Each worker holds one conversion state, which every conversion
      // starts afresh: nothing of one transfer reaches the output of another.
      TConversionState state;
      std::unique_lock lock(Mutex);
      for (;;) {
        Wake.wait(lock, [this] {
          return Stopped || !Queue.empty() ||
                 (!Canceled && Expanded < Args.size() && Queue.size() + Held.size() < Options.Jobs);
        });
        if (Stopped) return;
        TakeCancel();
        if (Queue.empty() && Canceled) continue;
        if (!Queue.empty()) {
          TJob* job = Queue.front();
          Queue.pop_front();
          job->Started = true;
          Wake.notify_all();
          lock.unlock();
          Convert(*job, Options, state);
          job->Files.reset();  // the archive's memory goes with its last transfer
          lock.lock();
          job->Done = true;
          Ended(*job);
          Wake.notify_all();
          continue;
        }
        ExpandNext(lock);
      }
    });
  }

  // Reads the next argument, then names its transfers in turn.
  void ExpandNext(std::unique_lock<std::mutex>& lock) {
    const size_t arg = Expanded++;
    lock.unlock();
    auto jobs = Planner.Expand(Args[arg]);
    lock.lock();
    Wake.wait(lock, [&] { return Stopped || Named == arg; });
    if (Stopped) return;
    TakeCancel();
    for (auto& job : jobs) {
      if (!job->Done && Canceled) {
        job->Done = job->Canceled = true;
        job->Files.reset();
      }
      if (!job->Done) Place(*job);
      Jobs.push_back(std::move(job));
    }
    ++Named;
    Wake.notify_all();
  }

  // Tells the observer of the transfers that began and of those that ended
  // in order, and of the batch's share; waits a little when nothing changed.
  void TellReady(std::unique_lock<std::mutex>& lock) {
    bool told = false;
    for (size_t i = Told; i < Jobs.size(); ++i)
      if (Jobs[i]->Started && !Jobs[i]->Told) {
        Jobs[i]->Told = true;
        Observer.Started(Jobs[i]->Item);
      }
    while (Told < Jobs.size() && Jobs[Told]->Done) {
      TJob& job = *Jobs[Told++];
      told = true;
      if (job.Canceled) {
        ++Result.Canceled;
        continue;
      }
      Result.Converted += job.Item.Ok ? 1 : 0;
      Result.PicturesFailed += job.Item.PictureFailed ? 1 : 0;
      const bool goOn = Observer.Finished(job.Item, Jobs.size());
      job.Item.Report.clear();
      if (!goOn) {
        Stopped = Result.Stopped = true;
        Wake.notify_all();
        return;
      }
    }
    int sum = 0;
    const TJob* current = nullptr;  // the first transfer under way
    for (size_t i = Told; i < Jobs.size(); ++i) {
      const int progress = Jobs[i]->Progress.load();
      sum += progress;
      if (!current && progress > 0 && !Jobs[i]->Done) current = Jobs[i].get();
    }
    // 100 % only once every transfer is done. An argument not read yet
    // counts as one transfer: the workers read only a little ahead, and a
    // batch of 80 archives was at 97 % after 40.
    const size_t unread = Canceled ? 0 : Args.size() - Named;
    const int share =
        static_cast<int>((100 * Told + static_cast<size_t>(sum)) / std::max<size_t>(Jobs.size() + unread, 1));
    const bool more = Told < Jobs.size() || Named < (Canceled ? Expanded : Args.size());
    // Never going back, though transfers found later lower the share.
    Percent = std::max(Percent, more ? std::min(share, 99) : 100);
    if (!Jobs.empty())
      Observer.Progress(Percent, Told, Jobs.size(),
                        current ? current->Item.Label : Told < Jobs.size() ? Jobs[Told]->Item.Label : std::string());
    if (!told) Wake.wait_for(lock, std::chrono::milliseconds(50));
  }

  const TBatchOptions Options;
  const std::vector<std::string> Args;
  IBatchObserver& Observer;
  TPlanner Planner;
  std::mutex Mutex;
  std::condition_variable Wake;
  std::vector<std::unique_ptr<TJob>> Jobs;  // every transfer, in the order of the arguments
  std::deque<TJob*> Queue;                  // named, waiting for a worker
  std::deque<TJob*> Held;                   // waiting for a name a transfer under way may leave free
  size_t Expanded = 0, Named = 0;           // arguments taken for reading, and named
  size_t Told = 0;                          // transfers told as ended
  bool Stopped = false, Canceled = false;
  std::atomic<bool> CancelAsked{false};
  int Percent = 0;  // the share last told
  TBatchResult Result;
};

TBatch::TBatch(TBatchOptions options, std::vector<std::string> args, IBatchObserver& observer)
    : Impl(std::make_unique<TImpl>(std::move(options), std::move(args), observer)) {}

TBatch::~TBatch() = default;

TBatchResult TBatch::Run() { return Impl->Run(); }

void TBatch::Cancel() { Impl->Cancel(); }

size_t CountTransfers(const std::vector<std::string>& args, bool recursive) {
  size_t count = 0;
  for (const std::string& arg : args) {
    try {
      if (IsFolder(arg)) {
        const TFolderTransfers found = TransfersIn(arg, recursive);
        count += found.Cells.size();
        for (const std::string& archive : found.Archives) count += CountArchiveTransfers(archive);
      } else if (IsArchiveName(arg)) {
        count += CountArchiveTransfers(arg);
      } else {
        ++count;
      }
    } catch (const std::exception&) {
      ++count;
    }
  }
  return count;
}

void CheckOutputFolder(const std::string& dir) {
  struct stat st {};
  int error = 0;
  if (stat(dir.c_str(), &st) != 0) {
    error = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
  } else if (access(dir.c_str(), W_OK | X_OK) != 0) {
    error = errno;
  }
  if (error != 0) Fail("Cannot write in folder " + dir + ": " + std::strerror(error));
}

}  // namespace veloran
