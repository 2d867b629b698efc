// veloran-convert: converts SDTS raster transfers to USGS DEM files from the
// shell, with the same core and the same pane text as the desktop program.
// Arguments are cell modules, folders of transfers or .tar.gz archives;
// with -j N, N transfers are converted at once, each in its own state, and
// their reports are printed whole, in the order of the arguments.
#include <getopt.h>
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
constexpr const char* kUsage = "Usage: veloran-convert [OPTION]... CELLFILE|FOLDER|ARCHIVE...\n";
constexpr const char* kHelp =
    "Converts SDTS raster profile transfers into USGS DEM files.\n"
    "\n"
    "CELLFILE is the cell module of a transfer, for example 1234CEL0.DDF; the\n"
    "other modules are found beside it. A FOLDER converts every transfer whose\n"
    "cell module lies directly in it; an ARCHIVE (.tar.gz, .tgz, .tar, .tar.Z)\n"
    "every transfer it holds, read without unpacking. Each DEM is named after\n"
    "the transfer's title (TITLE.dem, or New.dem without a title) in the current\n"
    "directory; a later DEM of the same run with the same title becomes\n"
    "TITLE (2).dem.\n"
    "\n"
    "  -o, --output=PATH   with one transfer: the DEM file to write, or the\n"
    "                      directory to write it in (\"-\": standard output, the\n"
    "                      report then going to standard error); with several:\n"
    "                      the directory\n"
    "  -j, --jobs=N        convert N transfers at the same time (0: one per\n"
    "                      processor; default 1)\n"
    "      --add-new-lines follow every 1024-character block with CR LF\n"
    "      --no-sync       do not wait for each DEM to reach the disk (faster\n"
    "                      for bulk work; a power loss may then lose a DEM)\n"
    "      --preview=PATH  also write a shaded-relief picture of each DEM as a\n"
    "                      PNG: with one transfer the file, with several the\n"
    "                      directory (pictures named after the DEMs)\n"
    "  -q, --quiet         print neither the report nor the progress bar\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
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

struct TOptions {
  bool AddNewLines = false, Quiet = false, Sync = true;
  bool HaveOutput = false, OutputIsDir = false;
  std::string Output;
  bool HavePreview = false, PreviewIsDir = false;
  std::string Preview;
  unsigned Jobs = 1;
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
        const std::vector<std::string> cells = veloran::CellModulesIn(arg);
        if (cells.empty()) veloran::Fail("no transfer (no cell module ????CE??.DDF) in this folder");
        for (const std::string& cell : cells) jobs.push_back(Plan(cell, nullptr));
      } else if (veloran::IsArchiveName(arg)) {
        const auto files = veloran::ReadArchive(arg);
        const std::vector<std::string> cells = veloran::CellModules(*files);
        if (cells.empty()) veloran::Fail("no transfer (no cell module ????CE??.DDF) in this archive");
        for (const std::string& cell : cells) jobs.push_back(Plan(cell, files));
      } else {
        jobs.push_back(Plan(arg, nullptr));
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
  std::unique_ptr<TJob> Plan(const std::string& cell, std::shared_ptr<const veloran::TMemoryFiles> files) const {
    auto job = std::make_unique<TJob>();
    job->Label = job->Cell = cell;
    job->Files = std::move(files);
    if (Options.HaveOutput && !Options.OutputIsDir) return job;  // no name to propose
    try {
      job->DefaultName = veloran::MakeDefaultDemName(cell, job->Files.get());
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
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dem") == 0) name.resize(name.size() - 4);
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
    veloran::ConvertSdtsToDem(state, job.Cell, job.Dem, options.AddNewLines, pane, options.Sync, job.Files.get());
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

// One bar on standard error for the whole batch, only on a terminal.
class TBatchBar {
 public:
  explicit TBatchBar(bool show) : Show(show) {}
  void Draw(int value) {
    if (!Show || value == Shown) return;
    Shown = value;
    char bar[41];
    const int filled = value * 40 / 100;
    std::memset(bar, '#', static_cast<size_t>(filled));
    std::memset(bar + filled, '.', static_cast<size_t>(40 - filled));
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, value);
    std::fflush(stderr);
  }
  // Clears the bar's line before anything else is written.
  void Clear() {
    if (Shown < 0) return;
    std::fprintf(stderr, "\r%*s\r", 47, "");
    std::fflush(stderr);
    Shown = -1;
  }

 private:
  bool Show;
  int Shown = -1;
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
    Bar.Clear();
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
      std::fwrite(job.Out.data(), 1, job.Out.size(), job.ReportToStderr ? stderr : stdout);
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
    }
    int sum = 0;
    for (size_t i = Printed; i < Jobs.size(); ++i) sum += Jobs[i]->Progress.load();
    if (!Jobs.empty()) Bar.Draw(static_cast<int>((100 * Printed + static_cast<size_t>(sum)) / Jobs.size()));
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
  bool haveJobs = false;
  enum { kAddNewLines = 256, kNoSync, kPreview };
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"jobs", required_argument, nullptr, 'j'},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"add-new-lines", no_argument, nullptr, kAddNewLines},
                                    {"no-sync", no_argument, nullptr, kNoSync},
                                    {"preview", required_argument, nullptr, kPreview},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "+:o:j:qhV", kOptions, nullptr)) != -1;) {
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
  if (args.empty()) return Usage("no CELLFILE given");
  if (options.HaveOutput && options.Output.empty()) return Usage("option -o needs a PATH");
  options.OutputIsDir = options.HaveOutput && IsDirectory(options.Output);
  if (options.HavePreview && options.Preview.empty()) return Usage("option --preview needs a PATH");
  options.PreviewIsDir = options.HavePreview && IsDirectory(options.Preview);
  if (args.size() > 1 && options.HavePreview && !options.PreviewIsDir)
    return Usage("with several CELLFILEs, --preview must name an existing directory: " + options.Preview);
  if (args.size() > 1 && options.HaveOutput && !options.OutputIsDir)
    return Usage("with several CELLFILEs, -o must name an existing directory: " + options.Output);

  TPlanner planner(options);
  TBatch batch(options, !options.Quiet && isatty(STDERR_FILENO) == 1, planner, args);
  return batch.Run();
}
