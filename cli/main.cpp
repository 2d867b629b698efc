// veloran-convert: converts SDTS raster transfers to USGS DEM files from the
// shell, with the same core and the same pane text as the desktop program.
// Arguments are cell modules, folders of transfers or .tar.gz archives;
// with -j N, N transfers are converted at once, each in its own state, and
// their reports are printed whole, in the order of the arguments.
#include <getopt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "convert/driver.h"
#include "convert/transfers.h"
#include "preview/relief.h"
#include "support/errors.h"
#include "support/filesink.h"
#include "support/tempfiles.h"
#include "support/textutil.h"

namespace {

constexpr const char* kProgram = "veloran-convert";
constexpr const char* kUsage = "Usage: veloran-convert [OPTION]... MODULE|FOLDER|ARCHIVE...\n";
constexpr const char* kHelp =
    "Converts SDTS raster profile transfers into USGS DEM files.\n"
    "\n"
    "MODULE is any module file of a transfer: its catalog (1234CATD.DDF), its\n"
    "cell module (1234CEL0.DDF) or another; the other modules are found\n"
    "through the catalog, or beside it by their prefix. A FOLDER converts every\n"
    "transfer whose cell module lies directly in it; an ARCHIVE (.tar.gz, .tgz,\n"
    ".tar, .tar.Z) every transfer it holds, read without unpacking. Each DEM is\n"
    "named after the transfer's title (TITLE.dem, or New.dem without a title)\n"
    "in the current directory; a later DEM of the same run with the same title\n"
    "becomes TITLE (2).dem. Options may come before or after the files.\n"
    "\n"
    "  -o, --output=PATH   with one transfer: the DEM file to write, or the\n"
    "                      directory to write it in (\"-\": standard output, the\n"
    "                      report then going to standard error); with several:\n"
    "                      an existing directory\n"
    "  -r, --recursive     search folders in their sub-folders and in the\n"
    "                      archives they hold\n"
    "      --format=dem|gtiff|cog\n"
    "                      write a USGS DEM (the default), a GeoTIFF, or a Cloud\n"
    "                      Optimized GeoTIFF (TITLE.tif); -o NAME.tif alone\n"
    "                      means gtiff\n"
    "      --name-from=title|input\n"
    "                      name DEMs after the transfer's title (the default),\n"
    "                      or after the input: its folder, its archive or its\n"
    "                      module's prefix\n"
    "  -j, --jobs=N        convert N transfers at the same time (0: one per\n"
    "                      processor; default 1)\n"
    "      --add-new-lines follow every 1024-character block with CR LF\n"
    "      --no-sync       do not wait for each DEM to reach the disk (faster\n"
    "                      for bulk work; a power loss may then lose a DEM)\n"
    "      --preview=PATH  also write a shaded-relief picture of each DEM as a\n"
    "                      PNG: with one transfer the file, with several an\n"
    "                      existing directory (pictures named after the DEMs)\n"
    "  -q, --quiet         print only errors: no report, no \"INPUT -> OUTPUT\"\n"
    "                      line, no progress bar\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Each DEM written is named on standard error as \"INPUT -> OUTPUT\"; with\n"
    "several transfers each report starts with \"==> INPUT <==\".\n"
    "\n"
    "Exit status: 0 when every transfer was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

// Text taken from a transfer may hold control characters (a title with a
// terminal escape sequence): they are shown as \xHH, never sent raw.
std::string Visible(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    bool control = false;
    const size_t length = veloran::NextCharacter(text, i, control);
    for (size_t k = i; k < i + length; ++k) {
      if (control) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[k]));
        out += escape;
      } else {
        out += text[k];
      }
    }
    i += length;
  }
  return out;
}

std::string Message(const std::string& label, const std::string& text) {
  return std::string(kProgram) + ": " + Visible(label) + ": " + Visible(text) + "\n";
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return 2;
}

// Standard output must take every line: a full disk or a closed pipe ends
// the run with a message instead of a silent success.
bool StdoutFailed() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return false;
  std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(errno ? errno : EIO));
  return true;
}

// How many transfers the arguments hold: a folder its cell modules (and,
// with `recursive`, those of its sub-folders and archives), an archive its
// cell modules, any other argument one. An argument that cannot be read
// counts as one: its conversion will say why.
size_t CountTransfers(const std::vector<std::string>& args, bool recursive) {
  size_t count = 0;
  for (const std::string& arg : args) {
    try {
      if (IsDirectory(arg)) {
        const veloran::TFolderTransfers found = veloran::TransfersIn(arg, recursive);
        count += found.Cells.size();
        for (const std::string& archive : found.Archives) count += veloran::CountArchiveTransfers(archive);
      } else if (veloran::IsArchiveName(arg)) {
        count += veloran::CountArchiveTransfers(arg);
      } else {
        ++count;
      }
    } catch (const std::exception&) {
      ++count;
    }
  }
  return count;
}

struct TOptions {
  bool AddNewLines = false, Quiet = false, Sync = true;
  bool HaveOutput = false, OutputIsDir = false;
  std::string Output;
  bool HavePreview = false, PreviewIsDir = false;
  std::string Preview;
  unsigned Jobs = 1;
  bool Recursive = false;      // folders are searched in their sub-folders and archives
  const veloran::TOutputFormat* Format = &veloran::DemFormat();
  bool NameFromInput = false;  // default names from the input, not the title
};

// One transfer to convert, and what its conversion printed.
struct TJob {
  std::string Label;  // the cell module as messages name it
  std::string Cell;
  std::string DefaultName;                             // the name the transfer's title proposes
  std::string Dem;
  std::string Png;                                     // the preview picture to write, or none
  std::shared_ptr<const veloran::TMemoryFiles> Files;  // an archive's modules, or none
  std::string Notice;                                  // standard error, before the report
  std::string Out, Err;                                // the report; standard error after it
  bool ReportToStderr = false;                         // the DEM itself goes to standard output
  bool Ok = false;
  bool PictureFailed = false;  // the DEM was written, its picture not
  bool Done = false;
  std::atomic<int> Progress{0};
};

// Finds the transfers of an argument and names their DEMs. Expand reads
// (an archive, a folder, the IDEN module for the title) and may run on any
// thread; Reserve names the DEMs and must see the arguments in order: a
// title that this run has already used gets "TITLE (2).dem" and so on.
class TPlanner {
 public:
  explicit TPlanner(const TOptions& options) : Options(options) {}

  // The transfers of one argument; an argument that fails gives one failed job.
  std::vector<std::unique_ptr<TJob>> Expand(const std::string& arg) const {
    std::vector<std::unique_ptr<TJob>> jobs;
    try {
      if (IsDirectory(arg)) {
        const veloran::TFolderTransfers found = veloran::TransfersIn(arg, Options.Recursive);
        if (found.Cells.empty() && found.Archives.empty())
          veloran::Fail(std::string("no transfer (no cell module ????CE??.DDF) in this folder") +
                        (found.HasSubfolders && !Options.Recursive ? "; use -r to search its sub-folders" : ""));
        for (const std::string& cell : found.Cells) jobs.push_back(Plan(cell, nullptr, FolderName(cell)));
        for (const std::string& archive : found.Archives) ExpandArchive(archive, jobs);
      } else if (veloran::IsArchiveName(arg)) {
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

  // Names the DEM (and picture) of a job that Expand did not fail.
  void Reserve(TJob& job) {
    // One DEM file (or picture) for one transfer: a folder or an archive
    // with more fails for the others.
    ++Planned;
    if (Options.HavePreview && !Options.PreviewIsDir && Planned > 1)
      return Fail(job, "--preview names one file, " + Options.Preview + ", but there is more than one transfer");
    if (Options.HaveOutput && !Options.OutputIsDir) {
      if (Planned > 1) return Fail(job, "-o names one file, " + Options.Output + ", but there is more than one transfer");
      job.Dem = Options.Output;
    } else {
      const std::string wanted =
          Options.OutputIsDir ? veloran::InFolder(Options.Output, job.DefaultName) : job.DefaultName;
      job.Dem = FreeName(wanted);
      if (job.Dem != wanted)
        job.Notice = Message(job.Label, wanted + " was written earlier in this run; this DEM is " + job.Dem);
      Used.insert(job.Dem);
    }
    PlanPreview(job);
    // Standard output carries the DEM alone.
    job.ReportToStderr = veloran::IsStandardOutput(job.Dem);
    if (!job.Png.empty() && veloran::SameOutputFile(job.Png, job.Dem))
      return Fail(job, "Cannot create file " + job.Png + ": it is also the DEM being written");
  }

 private:
  // The transfers of an archive; one that fails to read fails alone.
  void ExpandArchive(const std::string& path, std::vector<std::unique_ptr<TJob>>& jobs) const {
    try {
      const auto files = veloran::ReadArchive(path);
      const std::vector<std::string> cells = veloran::CellModules(*files);
      if (cells.empty()) veloran::Fail("no transfer (no cell module ????CE??.DDF) in this archive");
      std::string stem = path.substr(path.rfind('/') + 1);
      for (const char* ending : {".tar.gz", ".tgz", ".tar.Z", ".tar"})
        if (veloran::EndsWithIgnoringCase(stem, ending) && stem.size() > std::strlen(ending)) {
          stem.resize(stem.size() - std::strlen(ending));
          break;
        }
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
    if (name.size() > 8 && veloran::EndsWithIgnoringCase(name, ".DDF")) name.resize(name.size() - 8);
    return name;
  }

  std::unique_ptr<TJob> Plan(const std::string& cell, std::shared_ptr<const veloran::TMemoryFiles> files,
                             const std::string& inputName) const {
    auto job = std::make_unique<TJob>();
    job->Label = job->Cell = cell;
    job->Files = std::move(files);
    if (Options.HaveOutput && !Options.OutputIsDir) return job;  // no name to propose
    try {
      std::string name = Options.NameFromInput ? veloran::PlainFileName(inputName) + ".dem"
                                               : veloran::MakeDefaultDemName(cell, job->Files.get());
      // The format's own extension.
      job->DefaultName = name.substr(0, name.size() - 4) + Options.Format->Extension;
    } catch (const std::bad_alloc&) {
      return Failed(cell, "Out of memory");
    } catch (const std::exception& e) {
      return Failed(cell, e.what());
    }
    return job;
  }
  // The picture beside the options' folder is named after the DEM.
  void PlanPreview(TJob& job) const {
    if (!Options.HavePreview) return;
    if (!Options.PreviewIsDir) {
      job.Png = Options.Preview;
      return;
    }
    std::string name = job.Dem.substr(job.Dem.rfind('/') + 1);
    const std::string extension = Options.Format->Extension;
    if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
      name.resize(name.size() - extension.size());
    job.Png = veloran::InFolder(Options.Preview, name + ".png");
  }
  static std::unique_ptr<TJob> Failed(const std::string& label, const std::string& message) {
    auto job = std::make_unique<TJob>();
    job->Label = label;
    Fail(*job, message);
    return job;
  }
  static void Fail(TJob& job, const std::string& message) {
    job.Err = Message(job.Label, message);
    job.Files.reset();
    job.Done = true;
  }
  // `path`, or the first of "STEM (2).dem", "STEM (3).dem"... not used yet.
  std::string FreeName(const std::string& path) const {
    const size_t dot = path.rfind('.');
    const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::string candidate = path;
    for (int n = 2; Used.count(candidate) > 0; ++n) candidate = stem + " (" + std::to_string(n) + ")" + ext;
    return candidate;
  }

  const TOptions& Options;
  std::set<std::string> Used;
  int Planned = 0;
};

// A conversion's pane: its lines are kept for printing whole.
class TBufferPane final : public veloran::IInfoPane {
 public:
  TBufferPane(TJob& job, bool quiet) : Job(job), Quiet(quiet) {}
  void ClearPane() override {}
  void AppendLine(const std::string& line) override {
    if (!Quiet) Job.Out += Visible(line) + "\n";
  }
  void SetProgress(int value) override { Job.Progress.store(value < 0 ? 0 : (value > 100 ? 100 : value)); }

 private:
  TJob& Job;
  bool Quiet;
};

// Converts one job in a worker's state; what it prints stays in the job.
void Convert(TJob& job, const TOptions& options, veloran::TConversionState& state) {
  TBufferPane pane(job, options.Quiet);
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
    // The picture, like the DEM, is never a file of the transfer: both are
    // checked before anything is written.
    if (!job.Png.empty()) veloran::CheckNotTransferOutput(job.Cell, job.Png, job.Files.get());
    // Where the workers fill the processors, a writer thread per DEM only
    // competes with them: 8 DEMs of 1201 x 1201 at -j 2 took 68 ms with
    // one, 58 ms without (1.29x and 1.55x the throughput of -j 1).
    const bool background = options.Jobs < std::max(1u, std::thread::hardware_concurrency());
    veloran::ConvertSdtsToDem(state, job.Cell, job.Dem, options.AddNewLines, pane, options.Sync, job.Files.get(),
                              *options.Format, background);
  });
  if (error.empty()) {
    job.Ok = true;
    // The DEM is written and stays so: a picture that fails is told apart.
    if (!job.Png.empty()) error = failure([&] {
      veloran::WriteReliefPng(veloran::RenderShadedRelief(state), job.Png, options.Sync);
    });
    if (!error.empty()) {
      job.PictureFailed = true;
      error = "converted; the picture failed: " + error;
    }
  }
  if (!error.empty()) job.Err += Message(job.Label, error);
  job.Progress.store(100);
}

// One bar on standard error for the whole batch, only on a terminal: the
// share of the batch done (never going back), n of N and the transfer
// under way, on one line kept within the terminal's width; the last state
// stays on screen when the batch ends.
class TBatchBar {
 public:
  explicit TBatchBar(bool show) : Show(show) {
    winsize size{};
    if (show && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) Width = size.ws_col;
  }
  void Draw(int value, size_t done, size_t total, const std::string& name) {
    if (!Show) return;
    Value = std::max(Value, std::min(value, 100));
    char bar[21];
    const int filled = Value * 20 / 100;
    std::memset(bar, '#', static_cast<size_t>(filled));
    std::memset(bar + filled, '.', static_cast<size_t>(20 - filled));
    bar[20] = '\0';
    std::string line = "[" + std::string(bar) + "] " + std::to_string(Value) + "% " + std::to_string(done) + "/" +
                       std::to_string(total) + " " + Visible(name);
    if (line.size() > Width - 1) line.resize(Width - 1);
    if (line == Shown) return;
    std::fprintf(stderr, "\r%-*s", static_cast<int>(Shown.size()), line.c_str());
    std::fflush(stderr);
    Shown = line;
  }
  // Clears the bar's line before anything else is written.
  void Clear() {
    if (Shown.empty()) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(Shown.size()), "");
    std::fflush(stderr);
    Shown.clear();
  }
  // Leaves the bar's last state as a line of its own.
  void Finish(size_t total) {
    if (!Show || total == 0) return;
    Draw(100, total, total, "done");
    std::fputc('\n', stderr);
    Shown.clear();
  }

 private:
  bool Show;
  size_t Width = 80;
  int Value = 0;
  std::string Shown;
};

// Runs the conversions on `options.Jobs` threads and prints each report in
// order as soon as it and every one before it are done. Workers also read
// the arguments (archives are unpacked in memory, titles read) ahead of the
// conversions, but only while the queue of transfers is short, so memory
// stays bounded by the number of workers; names are given in the order of
// the arguments.
class TBatch {
 public:
  TBatch(const TOptions& options, bool showBar, TPlanner& planner, const std::vector<std::string>& args)
      : Options(options), Bar(showBar), Planner(planner), Args(args) {}

  int Run() {
    // A thread that cannot be started, or memory that runs out outside a
    // conversion, ends the batch with a message once the conversions under
    // way are done: every temporary file goes with its conversion.
    std::vector<std::thread> workers;
    try {
      for (unsigned i = 0; i < Options.Jobs; ++i) workers.emplace_back([this] { Work(); });
    } catch (const std::system_error& e) {
      // Fewer workers than asked still convert everything.
      if (workers.empty()) Fatal = std::string("cannot start a thread: ") + e.code().message();
    }
    if (Fatal.empty()) {
      Guarded([&] {
        std::unique_lock lock(Mutex);
        // The main thread prints, and reads ahead when the queue is short: so
        // even one worker never waits for an archive to be unpacked.
        while (!Stopped && (Named < Args.size() || Printed < Jobs.size())) {
          if (Expanded < Args.size() && Queue.size() < Options.Jobs) {
            ExpandNext(lock);
          } else {
            PrintReady(lock);
          }
        }
      });
    }
    {
      std::lock_guard lock(Mutex);
      Stopped = true;  // every report is out, or the batch ends: the workers may end
      Wake.notify_all();
    }
    for (std::thread& worker : workers) worker.join();
    if (Fatal.empty() && !Failed) {
      Bar.Finish(Jobs.size());
    } else {
      Bar.Clear();
    }
    if (!Fatal.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, Fatal.c_str());
      return 1;
    }
    if (Failed) return 1;
    if (Jobs.size() > 1)
      std::fprintf(stderr, "%s: %zu converted, %zu failed\n", kProgram, Converted, Jobs.size() - Converted);
    return Converted == Jobs.size() && PicturesFailed == 0 ? 0 : 1;
  }

 private:
  // Runs `f`; a failure it lets through stops the batch with its message.
  template <class F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      const std::string message = dynamic_cast<const std::bad_alloc*>(&e) ? "Out of memory" : e.what();
      std::lock_guard lock(Mutex);
      if (Fatal.empty()) Fatal = message;
      Stopped = true;
      Wake.notify_all();
    }
  }

  void Work() {
    Guarded([this] {
      // Each worker holds one conversion state, which every conversion starts
      // afresh: nothing of one transfer reaches the DEM of another.
      veloran::TConversionState state;
      std::unique_lock lock(Mutex);
      WorkLoop(lock, state);
    });
  }

  void WorkLoop(std::unique_lock<std::mutex>& lock, veloran::TConversionState& state) {
    for (;;) {
      Wake.wait(lock, [this] {
        return Stopped || !Queue.empty() || (Expanded < Args.size() && Queue.size() < Options.Jobs);
      });
      if (Stopped) return;
      if (!Queue.empty()) {
        TJob* job = Queue.front();
        Queue.pop_front();
        Wake.notify_all();
        lock.unlock();
        Convert(*job, Options, state);
        job->Files.reset();  // the archive's memory goes with its last transfer
        lock.lock();
        job->Done = true;
        Wake.notify_all();
        continue;
      }
      ExpandNext(lock);
    }
  }

  // Reads the next argument, then names its transfers in turn.
  void ExpandNext(std::unique_lock<std::mutex>& lock) {
    const size_t arg = Expanded++;
    lock.unlock();
    auto jobs = Planner.Expand(Args[arg]);
    lock.lock();
    Wake.wait(lock, [&] { return Stopped || Named == arg; });
    if (Stopped) return;
    for (auto& job : jobs) {
      if (!job->Done) Planner.Reserve(*job);
      if (!job->Done) Queue.push_back(job.get());
      Jobs.push_back(std::move(job));
    }
    ++Named;
    Wake.notify_all();
  }

  // Prints the reports that are ready, in order, and moves the bar; waits a
  // little when nothing changed.
  void PrintReady(std::unique_lock<std::mutex>& lock) {
    bool printed = false;
    while (Printed < Jobs.size() && Jobs[Printed]->Done) {
      TJob& job = *Jobs[Printed++];
      Bar.Clear();
      std::fputs(job.Notice.c_str(), stderr);
      // Reports of several transfers are told apart by their input.
      FILE* report = job.ReportToStderr ? stderr : stdout;
      if (!job.Out.empty() && (Args.size() > 1 || Jobs.size() > 1))
        std::fprintf(report, "==> %s <==\n", Visible(job.Label).c_str());
      std::fwrite(job.Out.data(), 1, job.Out.size(), report);
      std::fflush(stdout);
      std::fputs(job.Err.c_str(), stderr);
      Converted += job.Ok ? 1 : 0;
      PicturesFailed += job.PictureFailed ? 1 : 0;
      job.Out.clear();
      printed = true;
      if (StdoutFailed()) {
        Stopped = Failed = true;
        Wake.notify_all();
        return;
      }
      // Where each DEM went, and its picture.
      if (job.Ok && !Options.Quiet) {
        std::fprintf(stderr, "%s -> %s\n", Visible(job.Label).c_str(), Visible(job.Dem).c_str());
        if (!job.Png.empty() && !job.PictureFailed)
          std::fprintf(stderr, "%s -> %s\n", Visible(job.Label).c_str(), Visible(job.Png).c_str());
      }
    }
    int sum = 0;
    const TJob* current = nullptr;  // the first transfer under way
    for (size_t i = Printed; i < Jobs.size(); ++i) {
      const int progress = Jobs[i]->Progress.load();
      sum += progress;
      if (!current && progress > 0 && !Jobs[i]->Done) current = Jobs[i].get();
    }
    // 100 % only once every transfer is done.
    const int share = static_cast<int>((100 * Printed + static_cast<size_t>(sum)) / std::max<size_t>(Jobs.size(), 1));
    if (!Jobs.empty())
      Bar.Draw(Printed < Jobs.size() || Named < Args.size() ? std::min(share, 99) : 100, Printed, Jobs.size(),
               current ? current->Label : Printed < Jobs.size() ? Jobs[Printed]->Label : std::string());
    if (!printed) Wake.wait_for(lock, std::chrono::milliseconds(50));
  }

  const TOptions& Options;
  TBatchBar Bar;
  TPlanner& Planner;
  const std::vector<std::string>& Args;
  std::mutex Mutex;
  std::condition_variable Wake;
  std::vector<std::unique_ptr<TJob>> Jobs;  // every transfer, in the order of the arguments
  std::deque<TJob*> Queue;                  // named, waiting for a worker
  size_t Expanded = 0, Named = 0;           // arguments taken for reading, and named
  size_t Printed = 0, Converted = 0, PicturesFailed = 0;
  bool Stopped = false, Failed = false;
  std::string Fatal;  // what ended the batch early
};

}  // namespace

int main(int argc, char** argv) {
  veloran::KeepStandardDescriptors();
  veloran::InstallTempFileCleanup();
  TOptions options;
  bool haveJobs = false, haveNameFrom = false, haveFormat = false;
  enum { kAddNewLines = 256, kNoSync, kPreview, kNameFrom, kFormat };
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"jobs", required_argument, nullptr, 'j'},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"add-new-lines", no_argument, nullptr, kAddNewLines},
                                    {"no-sync", no_argument, nullptr, kNoSync},
                                    {"preview", required_argument, nullptr, kPreview},
                                    {"recursive", no_argument, nullptr, 'r'},
                                    {"name-from", required_argument, nullptr, kNameFrom},
                                    {"format", required_argument, nullptr, kFormat},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":o:j:qrhV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o':
        if (options.HaveOutput) return Usage("option -o/--output given more than once");
        // "-": the DEM goes to standard output, and the report to standard error.
        options.Output = std::string(optarg) == "-" ? "/dev/stdout" : optarg;
        options.HaveOutput = true;
        break;
      case 'j': {
        if (haveJobs) return Usage("option -j/--jobs given more than once");
        haveJobs = true;
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(optarg, &end, 10);
        if (*optarg == '\0' || *end != '\0' || errno != 0 || n < 0 || n > veloran::kMaxJobs)
          return Usage("option -j needs a number of jobs from 0 to " + std::to_string(veloran::kMaxJobs) + ": " + optarg);
        options.Jobs = n == 0 ? std::clamp(std::thread::hardware_concurrency(), 1u, unsigned{veloran::kMaxJobs})
                              : static_cast<unsigned>(n);
        break;
      }
      case 'q': options.Quiet = true; break;
      case 'r': options.Recursive = true; break;
      case kFormat:
        if (haveFormat) return Usage("option --format given more than once");
        haveFormat = true;
        options.Format = veloran::FindOutputFormat(optarg);
        if (!options.Format) return Usage(std::string("option --format takes dem, gtiff or cog: ") + optarg);
        break;
      case kNameFrom:
        if (haveNameFrom) return Usage("option --name-from given more than once");
        haveNameFrom = true;
        if (std::string(optarg) != "title" && std::string(optarg) != "input")
          return Usage(std::string("option --name-from takes title or input: ") + optarg);
        options.NameFromInput = std::string(optarg) == "input";
        break;
      case kAddNewLines: options.AddNewLines = true; break;
      case kNoSync: options.Sync = false; break;
      case kPreview:
        if (options.HavePreview) return Usage("option --preview given more than once");
        options.Preview = optarg;
        options.HavePreview = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return StdoutFailed() ? 1 : 0;
      case 'V':
        std::printf("%s %s\nCopyright (C) 2026 Belvaret. Licence: all rights reserved.\n", kProgram,
                    VELORAN_VERSION);
        return StdoutFailed() ? 1 : 0;
      case ':':
        return Usage(std::string("option ") + argv[optind - 1] + (optopt == 'j' ? " needs a NUMBER" : " needs a PATH"));
      default: {
        const std::string arg = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
        return Usage("unknown option " + arg);
      }
    }
  }
  const std::vector<std::string> args(argv + optind, argv + argc);
  if (args.empty()) return Usage("no MODULE, FOLDER or ARCHIVE given");
  if (options.HaveOutput && options.Output.empty()) return Usage("option -o needs a PATH");
  options.OutputIsDir = options.HaveOutput && IsDirectory(options.Output);
  // -o NAME.tif asks for a GeoTIFF.
  if (!haveFormat && options.HaveOutput && !options.OutputIsDir &&
      (veloran::EndsWithIgnoringCase(options.Output, ".tif") || veloran::EndsWithIgnoringCase(options.Output, ".tiff")))
    options.Format = veloran::FindOutputFormat("gtiff");
  if (options.HavePreview && options.Preview.empty()) return Usage("option --preview needs a PATH");
  options.PreviewIsDir = options.HavePreview && IsDirectory(options.Preview);
  for (const auto& [given, path] : {std::pair{options.HaveOutput, options.Output}, {options.HavePreview, options.Preview}})
    if (given && path.back() == '/' && !IsDirectory(path)) return Usage("there is no folder " + path);
  // One file for one transfer: checked once folders and archives are
  // counted, before anything is written.
  const bool outputFile = options.HaveOutput && !options.OutputIsDir;
  const bool previewFile = options.HavePreview && !options.PreviewIsDir;
  if (outputFile || previewFile) {
    const size_t transfers = CountTransfers(args, options.Recursive);
    if (transfers > 1 && outputFile)
      return Usage("-o " + options.Output + " is no existing folder, but there are " + std::to_string(transfers) +
                   " transfers");
    if (transfers > 1 && previewFile)
      return Usage("--preview " + options.Preview + " is no existing folder, but there are " +
                   std::to_string(transfers) + " transfers");
  }

  TPlanner planner(options);
  TBatch batch(options, !options.Quiet && isatty(STDERR_FILENO) == 1, planner, args);
  return batch.Run();
}
