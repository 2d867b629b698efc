// veloran-convert: converts SDTS raster transfers to USGS DEM files from the
// shell, with the same core and the same pane text as the desktop program.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "convert/driver.h"
#include "support/tempfiles.h"

namespace {

constexpr const char* kProgram = "veloran-convert";
constexpr const char* kUsage = "Usage: veloran-convert [OPTION]... CELLFILE...\n";
constexpr const char* kHelp =
    "Converts SDTS raster profile transfers into USGS DEM files.\n"
    "\n"
    "CELLFILE is the cell module of a transfer, for example 1234CEL0.DDF; the\n"
    "other modules are found beside it. Each DEM is named after the transfer's\n"
    "title (TITLE.dem, or New.dem without a title) in the current directory;\n"
    "a later DEM of the same run with the same title becomes TITLE (2).dem.\n"
    "\n"
    "  -o, --output=PATH   with one CELLFILE: the DEM file to write, or the\n"
    "                      directory to write it in; with several: the directory\n"
    "      --add-new-lines follow every 1024-character block with CR LF\n"
    "      --no-sync       do not wait for each DEM to reach the disk (faster\n"
    "                      for bulk work; a power loss may then lose a DEM)\n"
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
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

// The pane's lines go to standard output; the gauge to standard error as a
// bar, only when that is a terminal.
class TConsolePane final : public veloran::IInfoPane {
 public:
  TConsolePane(bool quiet, bool showProgress) : Quiet(quiet), ShowProgress(showProgress && !quiet) {}
  ~TConsolePane() override { EndProgress(); }

  void ClearPane() override {}
  void AppendLine(const std::string& line) override {
    if (Quiet) return;
    EndProgress();
    const std::string text = Visible(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  void SetProgress(int value) override {
    if (!ShowProgress) return;
    value = value < 0 ? 0 : (value > 100 ? 100 : value);
    if (value == Shown) return;
    Shown = value;
    std::fflush(stdout);
    char bar[41];
    const int filled = value * 40 / 100;
    std::memset(bar, '#', static_cast<size_t>(filled));
    std::memset(bar + filled, '.', static_cast<size_t>(40 - filled));
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, value);
    std::fflush(stderr);
  }
  // Clears the bar's line before anything else is written.
  void EndProgress() {
    if (Shown < 0) return;
    std::fprintf(stderr, "\r%*s\r", 47, "");
    std::fflush(stderr);
    Shown = -1;
  }

 private:
  bool Quiet;
  bool ShowProgress;
  int Shown = -1;
};

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

// The DEMs this run has written, by file identity, so that two transfers
// with the same title never write one file.
class TWrittenDems {
 public:
  // `path`, or the first of "STEM (2).dem", "STEM (3).dem"... that this run
  // has not written.
  std::string FreeName(const std::string& path) const {
    const size_t dot = path.rfind('.');
    const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::string candidate = path;
    for (int n = 2; Written(candidate); ++n) candidate = stem + " (" + std::to_string(n) + ")" + ext;
    return candidate;
  }
  void Add(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) Files.insert({st.st_dev, st.st_ino});
  }

 private:
  bool Written(const std::string& path) const {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && Files.count({st.st_dev, st.st_ino}) > 0;
  }
  std::set<std::pair<dev_t, ino_t>> Files;
};

// Standard output must take every line: a full disk or a closed pipe ends
// the run with a message instead of a silent success.
bool StdoutFailed() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return false;
  std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(errno ? errno : EIO));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  veloran::InstallTempFileCleanup();
  bool addNewLines = false, quiet = false, sync = true, haveOutput = false;
  std::string output;
  enum { kAddNewLines = 256, kNoSync };
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},    {"quiet", no_argument, nullptr, 'q'},
      {"add-new-lines", no_argument, nullptr, kAddNewLines}, {"no-sync", no_argument, nullptr, kNoSync},
      {"help", no_argument, nullptr, 'h'},            {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "+:o:qhV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o':
        if (haveOutput) return Usage("option -o/--output given more than once");
        output = optarg;
        haveOutput = true;
        break;
      case 'q': quiet = true; break;
      case kAddNewLines: addNewLines = true; break;
      case kNoSync: sync = false; break;
      case 'h':
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return StdoutFailed() ? 1 : 0;
      case 'V':
        std::printf("%s %s\n", kProgram, VELORAN_VERSION);
        return StdoutFailed() ? 1 : 0;
      case ':': return Usage(std::string("option ") + argv[optind - 1] + " needs a PATH");
      default: {
        const std::string arg = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
        return Usage("unknown option " + arg);
      }
    }
  }
  std::vector<std::string> cells(argv + optind, argv + argc);
  if (cells.empty()) return Usage("no CELLFILE given");
  if (haveOutput && output.empty()) return Usage("option -o needs a PATH");
  const bool outputIsDir = haveOutput && IsDirectory(output);
  if (cells.size() > 1 && haveOutput && !outputIsDir)
    return Usage("with several CELLFILEs, -o must name an existing directory: " + output);

  TConsolePane pane(quiet, isatty(STDERR_FILENO) == 1);
  TWrittenDems written;
  int status = 0;
  for (const std::string& cell : cells) {
    try {
      std::string dem;
      if (haveOutput && !outputIsDir) {
        dem = output;
      } else {
        const std::string name = veloran::MakeDefaultDemName(cell);
        const std::string wanted = outputIsDir ? output + (output.back() == '/' ? "" : "/") + name : name;
        dem = written.FreeName(wanted);
        if (dem != wanted)
          std::fprintf(stderr, "%s: %s: %s was written earlier in this run; this DEM is %s\n", kProgram,
                       Visible(cell).c_str(), Visible(wanted).c_str(), Visible(dem).c_str());
      }
      // Every conversion starts from a fresh state: nothing of one transfer
      // reaches the DEM of another.
      veloran::TConversionState state;
      veloran::ConvertSdtsToDem(state, cell, dem, addNewLines, pane, sync);
      written.Add(dem);
      pane.EndProgress();
    } catch (const std::bad_alloc&) {
      pane.EndProgress();
      std::fflush(stdout);
      std::fprintf(stderr, "%s: %s: Out of memory\n", kProgram, Visible(cell).c_str());
      status = 1;
    } catch (const std::exception& e) {
      pane.EndProgress();
      std::fflush(stdout);
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, Visible(cell).c_str(), Visible(e.what()).c_str());
      status = 1;
    }
    if (StdoutFailed()) return 1;
  }
  return status;
}
