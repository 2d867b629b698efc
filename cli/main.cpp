// veloran-convert: converts SDTS raster transfers to USGS DEM, GeoTIFF or
// COG files from the shell, with the same core and the same pane text as
// the desktop program. Arguments are any module of a transfer, folders of
// transfers or archives; the options become the core's plan, its batch
// engine converts them (with -j N, N at once), and this program prints
// each report whole, in the order of the arguments.
#include <getopt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "convert/plan.h"
#include "support/threads.h"
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
    ".tar, .tar.Z, .tar.bz2, .tar.xz, .zip) every transfer it holds, read\n"
    "without unpacking. Each DEM is named after the transfer's title (TITLE.dem,\n"
    "or New.dem without a title) in the current directory; a later DEM of the\n"
    "same run with the same title becomes TITLE (2).dem. Options may come\n"
    "before or after the files.\n"
    "\n"
    "  -o, --output=PATH   with one transfer: the DEM file to write, or the\n"
    "                      directory to write it in (\"-\": standard output, the\n"
    "                      report then going to standard error); with several:\n"
    "                      an existing directory\n"
    "  -r, --recursive     search folders in their sub-folders and in the\n"
    "                      archives they hold\n"
    "      --format=%s\n"
    "                      write a USGS DEM (the default), a GeoTIFF, or a Cloud\n"
    "                      Optimized GeoTIFF (TITLE.tif); -o NAME.tif alone\n"
    "                      means gtiff\n"
    "      --name-from=title|input\n"
    "                      name DEMs after the transfer's title (the default),\n"
    "                      or after the input: its folder, its archive or its\n"
    "                      module's prefix\n"
    "  -j, --jobs=N        convert N transfers at the same time (0: one per\n"
    "                      processor; default 1)\n"
    "      --add-new-lines follow every 1024-character block with CR LF (dem only)\n"
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
  bool IsShown() const { return Show; }
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

// Prints each transfer's report as the batch tells it, in the order of
// the arguments, and moves the bar.
class TPrinter final : public veloran::IBatchObserver {
 public:
  TPrinter(bool quiet, bool severalArgs, bool showBar) : Quiet(quiet), SeveralArgs(severalArgs), Bar(showBar) {}

  bool Finished(const veloran::TBatchItem& item, size_t known) override {
    Bar.Clear();
    if (!item.Notice.empty() && !Quiet) std::fputs(Message(item.Label, item.Notice).c_str(), stderr);
    // Reports of several transfers are told apart by their input.
    FILE* report = item.ReportToStderr ? stderr : stdout;
    if (!Quiet && !item.Report.empty() && (SeveralArgs || known > 1))
      std::fprintf(report, "==> %s <==\n", Visible(item.Label).c_str());
    if (!Quiet)
      for (const std::string& line : item.Report) {
        const std::string shown = Visible(line) + "\n";
        std::fwrite(shown.data(), 1, shown.size(), report);
      }
    std::fflush(stdout);
    if (!item.Error.empty()) std::fputs(Message(item.Label, item.Error).c_str(), stderr);
    if (StdoutFailed()) return false;
    // Where each output went, and its picture.
    if (item.Ok && !Quiet) {
      std::fprintf(stderr, "%s -> %s\n", Visible(item.Label).c_str(), Visible(item.Output).c_str());
      if (!item.Png.empty() && !item.PictureFailed)
        std::fprintf(stderr, "%s -> %s\n", Visible(item.Label).c_str(), Visible(item.Png).c_str());
    }
    return true;
  }
  void Progress(int percent, size_t done, size_t total, const std::string& current) override {
    Bar.Draw(percent, done, total, current);
  }
  bool ShowsProgress() const override { return Bar.IsShown(); }

  // The bar's end, the message that ended the batch early, or the count;
  // the exit status.
  int End(const veloran::TBatchResult& result) {
    const bool failed = result.Stopped || !result.Fatal.empty();
    if (failed) {
      Bar.Clear();
    } else {
      Bar.Finish(result.Transfers);
    }
    if (!result.Fatal.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, result.Fatal.c_str());
      return 1;
    }
    if (result.Stopped) return 1;
    // Quiet, the count is told only beside the failures it counts.
    if (result.Transfers > 1 && (!Quiet || result.Converted < result.Transfers)) {
      std::map<veloran::TErrorKind, size_t> failed = result.Failed;
      if (result.Canceled > 0) failed[veloran::TErrorKind::Cancelled] += result.Canceled;
      std::fprintf(stderr, "%s: %zu converted, %zu failed%s\n", kProgram, result.Converted,
                   result.Transfers - result.Converted, veloran::FailureKinds(failed).c_str());
    }
    return result.Converted == result.Transfers && result.PicturesFailed == 0 ? 0 : 1;
  }

 private:
  bool Quiet, SeveralArgs;
  TBatchBar Bar;
};

}  // namespace

int main(int argc, char** argv) {
  veloran::KeepStandardDescriptors();
  veloran::InstallTempFileCleanup();
  veloran::TAsked asked;
  bool haveNameFrom = false;
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
        if (asked.Output) return Usage("option -o/--output given more than once");
        asked.Output = optarg;
        break;
      case 'j': {
        if (asked.Jobs) return Usage("option -j/--jobs given more than once");
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(optarg, &end, 10);
        if (*optarg == '\0' || *end != '\0' || errno != 0 || n < 0 || n > veloran::kMaxJobs)
          return Usage("option -j needs a number of jobs from 0 to " + std::to_string(veloran::kMaxJobs) + ": " + optarg);
        asked.Jobs = static_cast<unsigned>(n);
        break;
      }
      case 'q': asked.Quiet = true; break;
      case 'r': asked.Recursive = true; break;
      case kFormat:
        if (asked.Format) return Usage("option --format given more than once");
        asked.Format = veloran::FindOutputFormat(optarg);
        if (!asked.Format)
          return Usage("option --format takes " + veloran::OutputFormatNames(", ", " or ") + ": " + optarg);
        break;
      case kNameFrom:
        if (haveNameFrom) return Usage("option --name-from given more than once");
        haveNameFrom = true;
        if (std::string(optarg) != "title" && std::string(optarg) != "input")
          return Usage(std::string("option --name-from takes title or input: ") + optarg);
        asked.NameFromInput = std::string(optarg) == "input";
        break;
      case kAddNewLines: asked.AddNewLines = true; break;
      case kNoSync: asked.Sync = false; break;
      case kPreview:
        if (asked.Preview) return Usage("option --preview given more than once");
        asked.Preview = optarg;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        std::printf(kHelp, veloran::OutputFormatNames("|", "|").c_str());
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
  veloran::TPlan plan = veloran::Plan(asked);
  if (!plan.Refused.empty()) return Usage(plan.Refused);
  veloran::TExecutor executor(plan.Threads);
  plan.Options.Executor = &executor;
  TPrinter printer(asked.Quiet, args.size() > 1, !asked.Quiet && isatty(STDERR_FILENO) == 1);
  veloran::TBatch batch(plan.Options, args, printer);
  // One file for one transfer: checked once folders and archives are
  // found (the batch then converts what it found), before anything is
  // written.
  const veloran::TBatchOptions& options = plan.Options;
  if ((options.HaveOutput && !options.OutputIsDir) || (options.HavePreview && !options.PreviewIsDir)) {
    const std::string refused = veloran::RefuseOneFile(options, batch.Expand());
    if (!refused.empty()) return Usage(refused);
  }
  return printer.End(batch.Run());
}
