// The GDAL plugin against GDAL's own SDTS driver, in one process: opening a
// 1201 x 1200 transfer by its catalog and reading every cell.
#include <benchmark/benchmark.h>
#include <gdal_priv.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "samplegen/sample.h"

namespace {

const std::string& Catalog() {
  static const std::string catd = [] {
    const char* base = std::getenv("VELORAN_BENCH_DIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/veloran-gdal-bench-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    veloran::testing::WriteTransfer(dir, veloran::testing::MakeSample("1201"));
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(Catalog()).parent_path(), ec);
    });
    return dir + "/1234CATD.DDF";
  }();
  return catd;
}

void OpenAndRead(benchmark::State& bench, const char* driver) {
  CPLSetConfigOption("GDAL_DRIVER_PATH", VELORAN_GDAL_PLUGINS);
  GDALAllRegister();
  const char* drivers[] = {driver, nullptr};
  std::vector<float> cells(1201 * 1201);
  for (auto _ : bench) {
    GDALDataset* dataset = GDALDataset::Open(Catalog().c_str(), GDAL_OF_RASTER, drivers);
    if (!dataset) {
      bench.SkipWithError("cannot open");
      return;
    }
    const int cols = dataset->GetRasterXSize(), rows = dataset->GetRasterYSize();
    if (dataset->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cols, rows, cells.data(), cols, rows, GDT_Float32, 0, 0,
                                            nullptr) != CE_None)
      bench.SkipWithError(CPLGetLastErrorMsg());
    benchmark::DoNotOptimize(cells.data());
    GDALClose(dataset);
  }
}
BENCHMARK_CAPTURE(OpenAndRead, SDTSDEM, "SDTSDEM")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenAndRead, SDTS, "SDTS")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
