// Speed of the DEM writer on whole quadrangle-sized grids.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "dem/demwriter.h"
#include "sdts/sdtsinfo.h"

namespace veloran {
namespace {

class TNullPane final : public IInfoPane {
 public:
  void SetProgress(int) override {}
  void ClearPane() override {}
  void AppendLine(const std::string&) override {}
};

// A terrain-like grid with a void collar and a few interior voids.
void FillGrid(TConversionState& state, int size) {
  TSdtsInfo& i = state.Info;
  i.Title = "BENCHMARK QUAD";
  i.UnitsCode = 2;
  i.VerticalScale = 1;
  i.Zone = 10;
  i.Datum = 1;
  i.SpacingX = i.SpacingY = 30.0;
  i.UpperLeftX = 600000.0;
  i.UpperLeftY = 5000000.0 + 30.0 * (size - 1);
  i.SW = {599985, 4999985};
  i.NW = {599985, 5000000.0 + 30.0 * size};
  i.NE = {600000.0 + 30.0 * size, i.NW.Y};
  i.SE = {i.NE.X, 4999985};
  state.Grid.RowCount = state.Grid.ColCount = size;
  for (int r = 0; r < size; ++r)
    for (int c = 0; c < size; ++c) {
      const bool collar = c < r / 40 || c > size - 1 - (size - r) / 40;
      const double h = 1500 + 400 * std::sin(r * 0.01) * std::cos(c * 0.013) + (r * 7 + c * 3) % 11;
      state.Grid.Cells[static_cast<size_t>(r) * size + c] =
          collar || (r * 31 + c * 17) % 997 == 0 ? 0 : static_cast<uint16_t>(h + kCellOffset);
    }
}

void BM_WriteDemFile(benchmark::State& bench) {
  static TConversionState state;
  const int size = static_cast<int>(bench.range(0));
  FillGrid(state, size);
  char dir[] = "/tmp/veloran-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    bench.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string path = std::string(dir) + "/bench.dem";
  TNullPane pane;
  for (auto _ : bench) WriteDemFile(state, path, false, pane);
  unlink(path.c_str());
  rmdir(dir);
}
BENCHMARK(BM_WriteDemFile)->Arg(1201)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace veloran

BENCHMARK_MAIN();
