// veloran-convert: converts SDTS raster transfers to USGS DEM files from the
// shell, with the same core and the same pane text as the desktop program.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/driver.h"
#include "support/errors.h"

namespace {

constexpr const char* kProgram = "veloran-convert";
constexpr const char* kUsage = "Usage: veloran-convert [--add-new-lines] [-o PATH] [-q] CELLFILE...\n";
constexpr const char* kHelp =
    "Converts SDTS raster profile transfers into USGS DEM files.\n"
    "\n"
    "CELLFILE is the cell module of a transfer, for example 1234CEL0.DDF; the\n"
    "other modules are found beside it. Each DEM is named after the transfer's\n"
    "title (TITLE.dem, or New.dem without a title) in the current directory.\n"
    "\n"
    "  -o PATH           with one CELLFILE: the DEM file to write, or the\n"
    "                    directory to write it in; with several: the directory\n"
    "  --add-new-lines   follow every 1024-character block with CR LF\n"
    "  -q, --quiet       do not print the information report and summary\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Exit status: 0 when every transfer was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

// The pane's lines go to standard output; the gauge to standard error as a
// bar, only when that is a terminal.
class TConsolePane final : public veloran::IInfoPane {
 public:
  TConsolePane(bool quiet, bool showProgress) : Quiet(quiet), ShowProgress(showProgress) {}
  ~TConsolePane() override { EndProgress(); }

  void ClearPane() override {}
  void AppendLine(const std::string& line) override {
    if (Quiet) return;
    EndProgress();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
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

// A title used as a file name can never lead elsewhere.
std::string SafeFileName(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  return name;
}

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "%s: %s\n", kProgram, message);
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool addNewLines = false, quiet = false, haveOutput = false;
  std::string output;
  std::vector<std::string> cells;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (options && arg == "--version") {
      std::printf("%s %s\n", kProgram, VELORAN_VERSION);
      return 0;
    } else if (options && arg == "--add-new-lines") {
      addNewLines = true;
    } else if (options && (arg == "-q" || arg == "--quiet")) {
      quiet = true;
    } else if (options && arg == "-o") {
      if (i + 1 >= argc) return Usage("option -o needs a PATH");
      output = argv[++i];
      haveOutput = true;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      cells.push_back(arg);
    }
  }
  if (cells.empty()) return Usage("no CELLFILE given");
  if (haveOutput && output.empty()) return Usage("option -o needs a PATH");
  const bool outputIsDir = haveOutput && IsDirectory(output);
  if (cells.size() > 1 && haveOutput && !outputIsDir)
    return Usage(("with several CELLFILEs, -o must name an existing directory: " + output).c_str());

  // One conversion state for the whole run, as the desktop program keeps one.
  auto state = std::make_unique<veloran::TConversionState>();
  TConsolePane pane(quiet, isatty(STDERR_FILENO) == 1);
  int status = 0;
  for (const std::string& cell : cells) {
    try {
      std::string dem;
      if (haveOutput && !outputIsDir) {
        dem = output;
      } else {
        const std::string name = SafeFileName(veloran::MakeDefaultDemName(*state, cell));
        dem = outputIsDir ? output + (output.back() == '/' ? "" : "/") + name : name;
      }
      veloran::ConvertSdtsToDem(*state, cell, dem, addNewLines, pane);
      pane.EndProgress();
    } catch (const std::exception& e) {
      pane.EndProgress();
      std::fflush(stdout);
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, cell.c_str(), e.what());
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}
