// Speed of reading transfers, writing DEM files and whole conversions on
// quadrangle-sized grids (1201 x 1201 and 2000 x 2000).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "convert/driver.h"
#include "dem/demwriter.h"
#include "preview/relief.h"
#include "samplegen/sample.h"

namespace veloran {
namespace {

// One temporary directory for the run, with a transfer per grid size; in
// VELORAN_BENCH_DIR when set (for example /dev/shm, to leave the disk out).
class TBenchFiles {
 public:
  TBenchFiles() {
    const char* base = std::getenv("VELORAN_BENCH_DIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/veloran-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    Dir = pattern;
  }
  ~TBenchFiles() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  const std::string& Transfer(int size) {
    auto& cell = Cells[size];
    if (cell.empty()) {
      const std::string dir = Dir + "/" + std::to_string(size);
      std::filesystem::create_directory(dir);
      cell = testing::WriteTransfer(dir, testing::MakeSample(std::to_string(size)));
    }
    return cell;
  }
  std::string Dem() const { return Dir + "/out.dem"; }

 private:
  std::string Dir;
  std::map<int, std::string> Cells;
};

TBenchFiles& Files() {
  static TBenchFiles files;
  return files;
}

TConversionState& State() {
  static TConversionState state;
  return state;
}

void BM_ReadTransfer(benchmark::State& bench) {
  const std::string& cell = Files().Transfer(static_cast<int>(bench.range(0)));
  TNullPane pane;
  for (auto _ : bench) ReadTransfer(State(), LocateTransfer(cell), pane);
}

void BM_WriteDemFile(benchmark::State& bench) {
  TNullPane pane;
  ReadTransfer(State(), LocateTransfer(Files().Transfer(static_cast<int>(bench.range(0)))), pane);
  for (auto _ : bench) WriteDemFile(State(), Files().Dem(), false, pane);
}

void BM_Convert(benchmark::State& bench) {
  const std::string& cell = Files().Transfer(static_cast<int>(bench.range(0)));
  TNullPane pane;
  for (auto _ : bench) ConvertTransfer(State(), LocateTransfer(cell), Files().Dem(), TRequest{}, pane);
}

// Whole veloran-convert processes, as a user runs them.
std::string Convert() {
  static const std::string path = [] {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    return exe.substr(0, exe.rfind('/') + 1) + "veloran-convert";
  }();
  return path;
}

void RunOrAbort(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::abort();
}

// 16 transfers of 1201 x 1201 in one call: -j 1 against -j 2 (throughput:
// transfers per second), with the default fsync of every DEM and without.
void BM_Batch16(benchmark::State& bench) {
  const std::string& cell = Files().Transfer(1201);
  const std::string dir = cell.substr(0, cell.rfind('/'));
  static const std::string batch = [&] {
    std::string list;
    for (int i = 0; i < 16; ++i) {
      const std::string copy = dir + "-copy" + std::to_string(i);
      std::filesystem::copy(dir, copy, std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
      list += " '" + copy + "/1234CEL0.DDF'";
    }
    return list;
  }();
  const std::string out = Files().Dem() + ".batch";
  std::filesystem::create_directories(out);
  const std::string command =
      Convert() + " -q -j " + std::to_string(bench.range(0)) + (bench.range(1) ? "" : " --no-sync") + " -o '" + out +
      "'" + batch + " 2>/dev/null";
  for (auto _ : bench) RunOrAbort(command);
  bench.counters["transfers/s"] = benchmark::Counter(16.0 * static_cast<double>(bench.iterations()),
                                                     benchmark::Counter::kIsRate);
}

// One 1201 x 1201 transfer from its .tar.gz, from the unpacked folder, and
// gzip -dc of the archive alone.
std::string Archive1201() {
  static const std::string archive = [] {
    const std::string& cell = Files().Transfer(1201);
    const std::string dir = cell.substr(0, cell.rfind('/'));
    const std::string path = dir + ".tar.gz";
    RunOrAbort("tar czf '" + path + "' -C '" + dir + "' .");
    return path;
  }();
  return archive;
}
void BM_FromArchive(benchmark::State& bench) {
  const std::string command = Convert() + " -q -o '" + Files().Dem() + "' '" + Archive1201() + "'";
  for (auto _ : bench) RunOrAbort(command);
}
void BM_FromFolder(benchmark::State& bench) {
  const std::string command = Convert() + " -q -o '" + Files().Dem() + "' '" + Files().Transfer(1201) + "'";
  for (auto _ : bench) RunOrAbort(command);
}
void BM_GzipOfArchive(benchmark::State& bench) {
  const std::string command = "gzip -dc '" + Archive1201() + "' >/dev/null";
  for (auto _ : bench) RunOrAbort(command);
}

// The shaded-relief picture of a converted 1201 x 1201 grid.
void BM_RenderRelief(benchmark::State& bench) {
  TNullPane pane;
  static TConversionState state;
  ReadTransfer(state, LocateTransfer(Files().Transfer(static_cast<int>(bench.range(0)))), pane);
  for (auto _ : bench) benchmark::DoNotOptimize(RenderShadedRelief(state));
}

BENCHMARK(BM_RenderRelief)->Arg(1201)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Batch16)->ArgNames({"jobs", "sync"})->Args({1, 1})->Args({2, 1})->Args({1, 0})->Args({2, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FromArchive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FromFolder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GzipOfArchive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadTransfer)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteDemFile)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convert)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace veloran

BENCHMARK_MAIN();
