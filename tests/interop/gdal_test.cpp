// Interoperability: GDAL's USGSDEM driver reads the DEM we write, and at
// every ground position it agrees with what GDAL's SDTS driver reads from
// the transfer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

#include "convert/driver.h"
#include "convert/transfers.h"
#include "gtiff/gtiffwriter.h"
#include "support/errors.h"
#include "tests/support/convert.h"
#include "tests/support/recorder.h"
#include "samplegen/sample.h"

namespace veloran {
namespace {

namespace fs = std::filesystem;

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

// Compares, at every ground position, GDAL's reading of the transfer (its
// CATD module) with GDAL's reading of our DEM, whose elevations come in
// steps of `zStep` (0.1 where the DEM holds tenths); returns the
// elevations that agree.
int CompareWithGdal(const std::string& name, const std::string& catd, const std::string& dem, size_t cells,
                    const std::string& work, double zStep = 1.0) {
  EXPECT_EQ(std::system("gdal_translate --version >/dev/null 2>&1"), 0) << "gdal-bin is missing: run tools/setup";
  const std::map<TKey, double> sdts = ReadWithGdal(catd, work + "/sdts.xyz");
  const std::map<TKey, double> read = ReadWithGdal(dem, work + "/dem.xyz");
  EXPECT_EQ(sdts.size(), cells);
  EXPECT_FALSE(read.empty());
  int elevations = 0, voids = 0, wrong = 0;
  for (const auto& [position, z] : sdts) {
    // Fill and void of the transfer; the DEM's void value, -32767, between
    // elevations and outside every profile.
    const bool expectVoid = z == -32766 || z == -32767;
    const auto found = read.find(position);
    const bool demVoid = found == read.end() || found->second == -32767;
    const bool agree =
        expectVoid ? demVoid : (!demVoid && std::fabs(found->second - std::nearbyint(z / zStep) * zStep) < 1e-4);
    if (!agree && ++wrong <= 5)
      ADD_FAILURE() << name << " at (" << position.first / 100.0 << ", " << position.second / 100.0
                    << "): transfer " << z << ", DEM " << (found == read.end() ? NAN : found->second);
    (expectVoid ? voids : elevations)++;
  }
  EXPECT_EQ(wrong, 0);
  std::cout << "[ gdal     ] " << name << ": " << elevations << " elevations and " << voids
            << " void or fill positions agree, " << wrong << " differ\n";
  return elevations;
}

class Gdal : public ::testing::TestWithParam<std::string> {};

TEST_P(Gdal, DemAgreesWithTheTransferAtEveryPosition) {
  const std::string variant = GetParam();
  testing::TTempDir dir;
  const testing::TTransferSpec spec = testing::MakeSample(variant);
  const std::string cell = testing::WriteTransfer(dir.Path(), spec);
  auto state = std::make_unique<TConversionState>();
  testing::TRecorder pane;
  testing::ConvertDem(*state, cell, dir / "out.dem", false, pane);
  const size_t cells = static_cast<size_t>(state->Grid.RowCount) * state->Grid.ColCount;
  EXPECT_GT(CompareWithGdal(variant, testing::ModulePath(dir.Path(), spec, "CATD"), dir / "out.dem", cells, dir.Path(),
                            1.0 / state->Info.VerticalScale),
            100000);
}

// The real USGS transfers: whole metres, feet, and BFP32 metres in 0.1 m
// steps with coastal voids, each cell as GDAL reads the source.
TEST(RealTransfer, GdalReadsEveryCellAsInTheSource) {
  const struct {
    const char* Folder;
    size_t Rows, Cols;
    double ZStep;
    const char* ZResolution;
    int Elevations;
  } cases[] = {
      {"oregon-basin-8821/8821", 471, 343, 1.0, "1.000000E+00", 150000},
      {"mount-tabor-7974/7974", 1394, 983, 1.0, "1.000000E+00", 1300000},
      {"cape-canaveral-9838/9838", 463, 409, 0.1, "1.000000E-01", 120000},
  };
  for (const auto& c : cases) {
    const std::string prefix = VELORAN_SOURCE_DIR "/tests/data/" + std::string(c.Folder);
    testing::TTempDir dir;
    TConversionState state;
    testing::TRecorder pane;
    testing::ConvertDem(state, prefix + "CEL0.DDF", dir / "out.dem", false, pane, false);
    const std::string dem = testing::ReadFileBytes(dir / "out.dem");
    EXPECT_EQ(dem.substr(810, 6), "     1") << c.Folder;  // record C follows
    EXPECT_EQ(dem.substr(840, 12), c.ZResolution) << c.Folder;
    EXPECT_GT(CompareWithGdal(c.Folder, prefix + "CATD.DDF", dir / "out.dem", c.Rows * c.Cols, dir.Path(), c.ZStep),
              c.Elevations);
    // GDAL's statistics see no void as an elevation.
    const std::string info = dir / "info.txt";
    ASSERT_EQ(std::system(("gdalinfo -stats '" + dir / "out.dem" + "' > '" + info + "'").c_str()), 0);
    const std::string text = testing::ReadFileBytes(info);
    EXPECT_NE(text.find("NoData Value=-32767"), std::string::npos) << c.Folder;
    const size_t at = text.find("Minimum=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GE(std::stod(text.substr(at + 8)), -1.0) << c.Folder;
  }
}

// A real USGS transfer (Oregon Basin, Wyoming), from its folder and from a
// .tar.gz archive of it: the same report and DEM, and GDAL agrees.
TEST(RealTransfer, OregonBasinFromFolderAndArchive) {
  const std::string data = VELORAN_SOURCE_DIR "/tests/data/oregon-basin-8821";
  testing::TTempDir dir;
  ASSERT_EQ(std::system(("tar czf '" + dir / "8821.tar.gz" + "' -C '" + data + "/..' oregon-basin-8821").c_str()), 0);
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  TConversionState state;
  testing::TRecorder folder;
  testing::ConvertDem(state, data + "/8821CEL0.DDF", dir / "folder.dem", false, folder);
  const auto files = std::make_shared<TArchiveFiles>(dir / "8821.tar.gz");
  const std::vector<std::string> cells = files->CellModules();
  ASSERT_EQ(cells, std::vector<std::string>{dir / "8821.tar.gz/oregon-basin-8821/8821CEL0.DDF"});
  testing::TRecorder archived;
  testing::ConvertTo(state, cells[0], dir / "archive.dem", "dem", archived, false, *files);
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(archived.Lines, folder.Lines);
  EXPECT_TRUE(testing::ReadFileBytes(dir / "archive.dem") == testing::ReadFileBytes(dir / "folder.dem"));
  ASSERT_EQ(folder.Lines.size(), 43u);
  EXPECT_EQ(folder.Lines[2], "Title: OREGON BASIN, WY-24000");
  EXPECT_EQ(folder.Lines[16], "UTM Szone: 12");
  EXPECT_EQ(folder.Lines[30], "Row Count: 471");
  EXPECT_EQ(folder.Lines[31], "Col Count: 343");
  EXPECT_EQ(folder.Lines[33], "Min:           1520");
  EXPECT_EQ(folder.Lines[34], "Max:           1826");
  EXPECT_EQ(testing::DefaultDemName(cells[0], *files), "OREGON BASIN, WY-24000.dem");
  // Most positions hold elevations; the rest are the fill outside the quadrangle.
  EXPECT_GT(CompareWithGdal("Oregon Basin", data + "/8821CATD.DDF", dir / "folder.dem", 471u * 343u, dir.Path()),
            150000);
}

// GeoTIFF and Cloud Optimized GeoTIFF, through the command line: GDAL reads
// each with the size, geotransform, coordinate system and every cell of its
// SDTS reading of the source (reals bit for bit), void and fill as no data;
// GDAL's validator takes each COG, which GDAL shows as LAYOUT=COG.
// `-o NAME.tif` alone means a GeoTIFF.
TEST(GeoTiff, GdalReadsTheSourceGridUnchanged) {
  testing::TTempDir dir;
  fs::create_directories(dir / "float");
  testing::TTransferSpec spec = testing::MakeSample("float");
  spec.FloatRows[3][5] = -32767.0f;  // a void among elevations
  testing::WriteTransfer(dir / "float", spec);
  const std::string data = VELORAN_SOURCE_DIR "/tests/data/";
  const struct {
    std::string Catd, Options;
  } cases[] = {
      {data + "oregon-basin-8821/8821CATD.DDF", "-o out.tif"},
      {data + "mount-tabor-7974/7974CATD.DDF", "--format=cog -o out.tif"},
      {data + "cape-canaveral-9838/9838CATD.DDF", "--format=gtiff -o out.tif"},
      {data + "cape-canaveral-9838/9838CATD.DDF", "--format=cog -o out.tif"},
      {dir / "float/1234CATD.DDF", "--format=cog -o out.tif"},
  };
  const std::string python = "/usr/bin/python3 ";
  for (const auto& c : cases) {
    const std::string run = "cd '" + dir.Path() + "' && " VELORAN_CONVERT " -q " + c.Options + " '" + c.Catd + "'";
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    const std::string compare = python + VELORAN_SOURCE_DIR "/tests/interop/compare_geotiff.py '" + c.Catd + "' '" +
                                dir / "out.tif" + "' > '" + dir / "compare.txt" + "' 2>&1";
    EXPECT_EQ(std::system(compare.c_str()), 0) << c.Catd << ": " << testing::ReadFileBytes(dir / "compare.txt");
    std::cout << "[ gdal     ] " << c.Options << ": " << testing::ReadFileBytes(dir / "compare.txt");
    // The same bytes again under SOURCE_DATE_EPOCH.
    std::string options = c.Options;
    options.replace(options.find("out.tif"), 7, "$f.tif");
    const std::string again = "cd '" + dir.Path() + "' && export SOURCE_DATE_EPOCH=1000000000 && for f in a b; do " +
                              VELORAN_CONVERT " -q " + options + " '" + c.Catd + "' || exit 1; done && cmp -s a.tif b.tif";
    EXPECT_EQ(std::system(again.c_str()), 0) << c.Options;
    if (c.Options.find("cog") == std::string::npos) continue;
    // The full check reads every tile's leading size and repeated last
    // bytes, which GDAL's note after the header promises.
    const std::string validate = python + "/usr/lib/python3/dist-packages/osgeo_utils/samples/"
                                 "validate_cloud_optimized_geotiff.py -q --full-check=yes '" + dir / "out.tif" +
                                 "' && gdalinfo '" + dir / "out.tif" + "' | grep -q LAYOUT=COG";
    EXPECT_EQ(std::system(validate.c_str()), 0) << c.Catd;
    // Within a fifth of GDAL's size (DEFLATE at level 2 against its 6):
    // decimal reals compressed with the floating-point predictor were twice it.
    const std::string gdal = "gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=2 '" + c.Catd + "' '" +
                             dir / "gdal.tif" + "'";
    ASSERT_EQ(std::system(gdal.c_str()), 0);
    EXPECT_LT(fs::file_size(dir / "out.tif"), 1.2 * fs::file_size(dir / "gdal.tif")) << c.Catd;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, Gdal, ::testing::ValuesIn(testing::SampleVariants()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace veloran
