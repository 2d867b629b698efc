// Interoperability: GDAL's USGSDEM driver reads the DEM we write, and at
// every ground position it agrees with what GDAL's SDTS driver reads from
// the transfer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>

#include "convert/driver.h"
#include "tests/support/recorder.h"
#include "samplegen/sample.h"

namespace veloran {
namespace {

using TKey = std::pair<long long, long long>;  // ground position in centimetres

// Every pixel of a raster as GDAL reads it, by the ground position of its centre.
std::map<TKey, double> ReadWithGdal(const std::string& raster, const std::string& xyz) {
  const std::string command = "gdal_translate -q -of XYZ '" + raster + "' '" + xyz + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::map<TKey, double> points;
  FILE* f = std::fopen(xyz.c_str(), "r");
  if (!f) return points;
  double x, y, z;
  while (std::fscanf(f, "%lf %lf %lf", &x, &y, &z) == 3) points[{std::llround(x * 100), std::llround(y * 100)}] = z;
  std::fclose(f);
  return points;
}

class Gdal : public ::testing::TestWithParam<std::string> {};

TEST_P(Gdal, DemAgreesWithTheTransferAtEveryPosition) {
  ASSERT_EQ(std::system("gdal_translate --version >/dev/null 2>&1"), 0) << "gdal-bin is missing: run tools/setup";
  const std::string variant = GetParam();
  testing::TTempDir dir;
  const testing::TTransferSpec spec = testing::MakeSample(variant);
  const std::string cell = testing::WriteTransfer(dir.Path(), spec);
  auto state = std::make_unique<TConversionState>();
  testing::TRecorder pane;
  ConvertSdtsToDem(*state, cell, dir / "out.dem", false, pane);

  const std::map<TKey, double> sdts = ReadWithGdal(testing::ModulePath(dir.Path(), spec, "CATD"), dir / "sdts.xyz");
  const std::map<TKey, double> dem = ReadWithGdal(dir / "out.dem", dir / "dem.xyz");
  ASSERT_EQ(sdts.size(), static_cast<size_t>(state->Grid.RowCount) * state->Grid.ColCount);
  ASSERT_FALSE(dem.empty());

  int elevations = 0, voids = 0, wrong = 0;
  for (const auto& [position, z] : sdts) {
    // Fill and void of the transfer; -9999 (void between elevations) and
    // -32767 (outside every profile) of the DEM.
    const bool expectVoid = z == -32766 || z == -32767;
    const auto found = dem.find(position);
    const bool demVoid = found == dem.end() || found->second == -9999 || found->second == -32767;
    const bool agree = expectVoid ? demVoid : (!demVoid && found->second == std::nearbyint(z));
    if (!agree && ++wrong <= 5)
      ADD_FAILURE() << variant << " at (" << position.first / 100.0 << ", " << position.second / 100.0
                    << "): transfer " << z << ", DEM " << (found == dem.end() ? NAN : found->second);
    (expectVoid ? voids : elevations)++;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(elevations, 100000);
  std::cout << "[ gdal     ] " << variant << ": " << elevations << " elevations and " << voids
            << " void or fill positions agree, " << wrong << " differ\n";
}

INSTANTIATE_TEST_SUITE_P(Variants, Gdal, ::testing::ValuesIn(testing::SampleVariants()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace veloran
