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
  for (auto _ : bench) ReadSdtsTransfer(State(), cell, pane);
}

void BM_WriteDemFile(benchmark::State& bench) {
  TNullPane pane;
  ReadSdtsTransfer(State(), Files().Transfer(static_cast<int>(bench.range(0))), pane);
  for (auto _ : bench) WriteDemFile(State(), Files().Dem(), false, pane);
}

void BM_Convert(benchmark::State& bench) {
  const std::string& cell = Files().Transfer(static_cast<int>(bench.range(0)));
  TNullPane pane;
  for (auto _ : bench) ConvertSdtsToDem(State(), cell, Files().Dem(), false, pane);
}

BENCHMARK(BM_ReadTransfer)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteDemFile)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convert)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace veloran

BENCHMARK_MAIN();
