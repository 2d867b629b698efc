#include "preview/relief.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "samplegen/transfer.h"
#include "convert/driver.h"
#include "tests/support/convert.h"
#include "tests/support/recorder.h"
#include "tests/support/shell.h"

namespace veloran {
namespace {

// A state holding `rows` (north first; -1 a void cell) with a 30 m spacing.
void SetGrid(TConversionState& state, const std::vector<std::vector<int>>& rows, int unitsCode = 2) {
  state.Grid.RowCount = static_cast<int32_t>(rows.size());
  state.Grid.ColCount = static_cast<int32_t>(rows[0].size());
  state.Grid.Cells.Resize(rows.size() * rows[0].size());
  size_t n = 0;
  for (const auto& row : rows)
    for (int e : row) state.Grid.Cells[n++] = e < 0 ? 0 : static_cast<uint16_t>(e + kCellOffset);
  state.Info.SpacingX = state.Info.SpacingY = 30;
  state.Info.UnitsCode = unitsCode;
}

TRgb Pixel(const TReliefImage& image, int row, int col) {
  const uint8_t* p = image.Rgba.data() + (static_cast<size_t>(row) * image.Width + col) * 4;
  return {p[0], p[1], p[2]};
}

// How much light a pixel got: its colour over the ramp's colour there.
double Light(const TReliefImage& image, int row, int col, int elevation) {
  const double t = image.Highest > image.Lowest ? double(elevation - image.Lowest) / (image.Highest - image.Lowest) : 0;
  const TRgb ramp = ReliefRamp(t), px = Pixel(image, row, col);
  return double(px[0] + px[1] + px[2]) / (ramp[0] + ramp[1] + ramp[2]);
}

const double kFlatLight = kAmbient + (1 - kAmbient) * std::sin(M_PI / 4);

TEST(Relief, SlopesFacingTheLightAreBrighter) {
  TConversionState state;
  const std::vector<std::vector<int>> facingNorthWest = {{400, 450, 500}, {450, 500, 550}, {500, 550, 600}};
  const std::vector<std::vector<int>> facingSouthEast = {{600, 550, 500}, {550, 500, 450}, {500, 450, 400}};
  const std::vector<std::vector<int>> facingNorthEast = {{500, 450, 400}, {550, 500, 450}, {600, 550, 500}};
  SetGrid(state, facingNorthWest);
  const double lit = Light(RenderShadedRelief(state), 1, 1, 500);
  SetGrid(state, facingSouthEast);
  const double dark = Light(RenderShadedRelief(state), 1, 1, 500);
  SetGrid(state, facingNorthEast);
  const double side = Light(RenderShadedRelief(state), 1, 1, 500);
  SetGrid(state, {{500, 500, 500}, {500, 500, 500}, {500, 500, 500}});
  const double flat = Light(RenderShadedRelief(state), 1, 1, 500);
  EXPECT_GT(lit, flat);
  // Across the light: only its height counts, on a slope of 50 m per 30 m
  // both east and south.
  const double g = 50.0 / 30;
  EXPECT_NEAR(side, kAmbient + (1 - kAmbient) * std::sin(M_PI / 4) / std::sqrt(1 + 2 * g * g), 0.01);
  EXPECT_GT(flat, dark);
  EXPECT_NEAR(flat, kFlatLight, 0.01);
  // The same numbers in feet are a gentler slope: less dark.
  SetGrid(state, facingSouthEast, 1);
  const double darkInFeet = Light(RenderShadedRelief(state), 1, 1, 500);
  EXPECT_GT(darkInFeet, dark);
  EXPECT_LT(darkInFeet, flat);
}

TEST(Relief, RampEndsVoidsAndNorthUp) {
  TConversionState state;
  // West half low, east half high, a void column, and a high NW corner.
  SetGrid(state, {{900, 900, 100, -1, 900, 900, 900},
                  {900, 900, 100, -1, 900, 900, 900},
                  {100, 100, 100, -1, 900, 900, 900},
                  {100, 100, 100, 100, 900, 900, 900},
                  {100, 100, 100, 100, 900, 900, 900}});
  const TReliefImage image = RenderShadedRelief(state);
  ASSERT_EQ(image.Width, 7);
  ASSERT_EQ(image.Height, 5);
  EXPECT_EQ(image.Lowest, 100);
  EXPECT_EQ(image.Highest, 900);
  auto scaled = [](const TRgb& c, double light) {
    return TRgb{static_cast<uint8_t>(std::lround(c[0] * light)), static_cast<uint8_t>(std::lround(c[1] * light)),
                static_cast<uint8_t>(std::lround(c[2] * light))};
  };
  // Flat inside each plateau: the ramp's ends under the flat light.
  EXPECT_EQ(Pixel(image, 4, 0), scaled(kReliefLow, kFlatLight));
  EXPECT_EQ(Pixel(image, 3, 6), scaled(kReliefHigh, kFlatLight));
  // North up, west left: the high corner is the top left.
  EXPECT_EQ(Pixel(image, 0, 0), scaled(kReliefHigh, kFlatLight));
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 7; ++c) {
      const bool isVoid = c == 3 && r < 3;
      EXPECT_EQ(Pixel(image, r, c) == kVoidColour, isVoid) << r << "," << c;
      EXPECT_EQ(image.Rgba[(static_cast<size_t>(r) * 7 + c) * 4 + 3], 255);
    }
  // The void colour is no colour of the ramp at any light.
  for (double t = 0; t <= 1; t += 0.01)
    for (double light = kAmbient; light <= 1; light += 0.05) {
      const TRgb c = scaled(ReliefRamp(t), light);
      EXPECT_FALSE(c[0] == c[1] && c[1] == c[2]) << t << " " << light;
    }
}

// veloran-convert --preview writes a PNG that reads back with the grid's size.
TEST(Relief, CommandLineWritesAPngOfTheGrid) {
  testing::TTempDir dir;
  const testing::TShell sh(dir.Path());
  const std::string cell = testing::WriteTransfer(dir.Path(), testing::TTransferSpec{});
  const testing::TResult r = sh.Run(std::string(VELORAN_CONVERT) + " -q --preview relief.png -o x.dem " + testing::Q(cell));
  ASSERT_EQ(r.Status, 0) << r.Err;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir / "relief.png").c_str()));
  EXPECT_EQ(image.width, 4u);
  EXPECT_EQ(image.height, 4u);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  TConversionState state;
  testing::TRecorder pane;
  testing::ReadChosen(state, cell, pane);
  const auto rendered = RenderShadedRelief(state).Rgba;
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), rendered.begin(), rendered.end()));
  // A GeoTIFF's conversion keeps the raw cells alone: its picture is the same.
  ASSERT_EQ(sh.Run(std::string(VELORAN_CONVERT) + " -q --format=cog --preview cog.png -o x.tif " + testing::Q(cell)).Status, 0);
  EXPECT_EQ(testing::ReadFileBytes(dir / "cog.png"), testing::ReadFileBytes(dir / "relief.png"));
  // With several transfers, pictures go into a folder, named after the DEMs.
  std::filesystem::create_directories(dir / "pics");
  std::filesystem::create_directories(dir / "dems");
  const testing::TResult two = sh.Run(std::string(VELORAN_CONVERT) + " -q --preview pics -o dems " + testing::Q(cell) +
                                      " " + testing::Q(cell));
  ASSERT_EQ(two.Status, 0) << two.Err;
  EXPECT_TRUE(std::filesystem::exists(dir / "pics/TEST QUAD.png"));
  EXPECT_TRUE(std::filesystem::exists(dir / "pics/TEST QUAD (2).png"));
  // A picture that cannot be written fails as a DEM would.
  const testing::TResult bad = sh.Run(std::string(VELORAN_CONVERT) + " -q --preview nowhere/r.png -o y.dem " + testing::Q(cell));
  EXPECT_EQ(bad.Status, 1);
  EXPECT_NE(bad.Err.find("Cannot create file nowhere/r.png: No such file or directory"), std::string::npos) << bad.Err;
}

}  // namespace
}  // namespace veloran
