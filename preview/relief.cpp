#include "preview/relief.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "support/filesink.h"
#include "support/errors.h"

namespace veloran {

namespace {

// Channel i of the ramp at t (0 to 1): straight from the low colour to the
// middle one, then to the high one. Selects instead of branches, so that
// the renderer's rows vectorize.
inline float RampChannel(float t, int i) {
  const bool upper = t >= 0.5f;
  const float u = upper ? 2 * t - 1 : 2 * t;
  const float a = upper ? kReliefMiddle[i] : kReliefLow[i];
  const float d = upper ? kReliefHigh[i] - kReliefMiddle[i] : kReliefMiddle[i] - kReliefLow[i];
  return a + d * u;
}

}  // namespace

TRgb ReliefRamp(double t) {
  const float clamped = static_cast<float>(std::clamp(t, 0.0, 1.0));
  TRgb c;
  for (int i = 0; i < 3; ++i) c[static_cast<size_t>(i)] = static_cast<uint8_t>(RampChannel(clamped, i) + 0.5f);
  return c;
}

TReliefGrid TReliefGrid::Of(const TConversionState& state) {
  TReliefGrid grid;
  grid.RowCount = std::max(state.Grid.RowCount, 0);
  grid.ColCount = std::max(state.Grid.ColCount, 0);
  const uint16_t* cells = state.Grid.Cells.get();
  grid.Cells.assign(cells, cells + static_cast<size_t>(grid.RowCount) * static_cast<size_t>(grid.ColCount));
  grid.UpperLeftX = state.Info.UpperLeftX;
  grid.UpperLeftY = state.Info.UpperLeftY;
  grid.SpacingX = state.Info.SpacingX;
  grid.SpacingY = state.Info.SpacingY;
  grid.Feet = state.Info.UnitsCode == 1;
  grid.VerticalScale = VerticalScaleOf(state.Info);
  return grid;
}

TReliefImage RenderShadedRelief(const TConversionState& state) {
  TReliefGrid grid;
  grid.RowCount = std::max(state.Grid.RowCount, 0);
  grid.ColCount = std::max(state.Grid.ColCount, 0);
  grid.SpacingX = state.Info.SpacingX;
  grid.SpacingY = state.Info.SpacingY;
  grid.Feet = state.Info.UnitsCode == 1;
  grid.VerticalScale = VerticalScaleOf(state.Info);
  return RenderShadedRelief(grid, state.Grid.Cells.get());
}

TReliefImage RenderShadedRelief(const TReliefGrid& grid) { return RenderShadedRelief(grid, grid.Cells.data()); }

TReliefImage RenderShadedRelief(const TReliefGrid& grid, const uint16_t* cells) {
  TReliefImage image;
  image.Width = grid.ColCount;
  image.Height = grid.RowCount;
  const size_t w = static_cast<size_t>(image.Width), h = static_cast<size_t>(image.Height);
  image.Rgba.resize(w * h * 4);

  const auto [lowest, highest] = CellRange(cells, w * h);
  image.HasElevations = highest != 0;
  const double perUnit = grid.VerticalScale;  // grid values per elevation unit
  image.Lowest = image.HasElevations ? (lowest - kCellOffset) / perUnit : 0;
  image.Highest = image.HasElevations ? (highest - kCellOffset) / perUnit : 0;

  // Slopes in metres per metre: feet become metres, tenths whole units; a
  // spacing of 0 (or not a number) counts as 1 so that the picture still
  // shows the terrain.
  const double zScale = (grid.Feet ? 0.3048 : 1.0) / perUnit;
  auto spacing = [](double s) { return std::isfinite(s) && s > 0 ? s : 1.0; };
  const float fx = static_cast<float>(zScale / (8 * spacing(grid.SpacingX)));
  const float fy = static_cast<float>(zScale / (8 * spacing(grid.SpacingY)));
  // The light's direction: (east, north, up) = (-cos45 sin45, cos45 sin45, sin45).
  const float horizontal = static_cast<float>(std::cos(M_PI / 4) * std::sqrt(0.5));
  const float up = static_cast<float>(std::sin(M_PI / 4));

  // The elevations as floats with a border that repeats the edge (a NaN for
  // a void cell), so that the 3 x 3 window never leaves the array; three
  // rows at a time, the row north of the pixels, theirs and the one south.
  const size_t pw = w + 2;
  std::vector<float> z(pw * 3);
  auto loadRow = [&](size_t gridRow, float* to) {
    const uint16_t* from = cells + gridRow * w;
    for (size_t c = 0; c < w; ++c) to[c + 1] = from[c] == 0 ? NAN : static_cast<float>(from[c]);
    to[0] = to[1];
    to[w + 1] = to[w];
  };

  // Horn's 3 x 3 window gives the rise to the east (p) and to the north
  // (q); the light follows from them.
  auto lightOf = [&](float a, float b, float d, float e, float f, float g, float k, float l) {
    const float p = ((d + 2 * f + l) - (a + 2 * e + g)) * fx;
    const float q = ((a + 2 * b + d) - (g + 2 * k + l)) * fy;
    const float shade = (horizontal * (p - q) + up) / std::sqrt(1 + p * p + q * q);
    return static_cast<float>(kAmbient) + static_cast<float>(1 - kAmbient) * std::max(shade, 0.0f);
  };
  const float lowestF = static_cast<float>(lowest);
  const float invRange = highest > lowest ? 1.0f / static_cast<float>(highest - lowest) : 0.0f;
  // A pixel, packed as the bytes R, G, B, A in memory, from the cell's
  // elevation (as a float) and its light; a NaN in either gives 0s, mended
  // below.
  auto shade = [&](float zc, float l) {
    const float t = (zc - lowestF) * invRange;
    uint32_t pixel = 0;
    for (int i = 0; i < 3; ++i) {
      const float v = RampChannel(t, i) * l + 0.5f;
      pixel |= static_cast<uint32_t>(static_cast<int32_t>(v >= 0 ? v : 0.0f)) << (8 * i);
    }
    return pixel | 0xFF000000u;
  };
  auto store = [](uint8_t* px, uint32_t pixel) {
    for (int i = 0; i < 4; ++i) px[i] = static_cast<uint8_t>(pixel >> (8 * i));
  };
  std::vector<float> light(w);
  std::vector<uint32_t> pixels(w);
  for (size_t r = 0; r < h; ++r) {
    // Row r + i - 1 of the grid (the edge repeated) is in slot (r + i) % 3.
    if (r == 0) {
      loadRow(0, z.data());
      loadRow(0, z.data() + pw);
    }
    loadRow(r + 1 < h ? r + 1 : h - 1, z.data() + (r + 2) % 3 * pw);
    const float* n = z.data() + r % 3 * pw + 1;  // n[c] lies north of cell c
    const float* m = z.data() + (r + 1) % 3 * pw + 1;
    const float* s = z.data() + (r + 2) % 3 * pw + 1;
    uint8_t* row = image.Rgba.data() + r * w * 4;
    // The whole row without a branch, so that it vectorizes: a void cell or
    // neighbour gives a NaN light, mended below.
    for (size_t c = 0; c < w; ++c) {
      light[c] = lightOf(n[c - 1], n[c], n[c + 1], m[c - 1], m[c + 1], s[c - 1], s[c], s[c + 1]);
      pixels[c] = shade(m[c], light[c]);
    }
    for (size_t c = 0; c < w; ++c) store(row + c * 4, pixels[c]);
    for (size_t c = 0; c < w; ++c) {
      if (!std::isnan(light[c])) continue;
      if (std::isnan(m[c])) {
        std::copy(kVoidColour.begin(), kVoidColour.end(), row + c * 4);
        continue;
      }
      // A void neighbour counts as the centre.
      const float zc = m[c];
      auto v = [zc](float x) { return std::isnan(x) ? zc : x; };
      store(row + c * 4, shade(zc, lightOf(v(n[c - 1]), v(n[c]), v(n[c + 1]), v(m[c - 1]), v(m[c + 1]), v(s[c - 1]),
                                           v(s[c]), v(s[c + 1]))));
    }
  }
  return image;
}

namespace {

// libpng reports errors by longjmp to the setjmp in EncodePng: no C++
// object with a destructor lives between the two.
struct TPngOutput {
  std::string Bytes;
  char Error[200] = "";
};

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<TPngOutput*>(png_get_io_ptr(png))->Bytes.append(reinterpret_cast<const char*>(data), length);
}
void NoFlush(png_structp) {}
void PngError(png_structp png, png_const_charp message) {
  auto* out = static_cast<TPngOutput*>(png_get_error_ptr(png));
  std::snprintf(out->Error, sizeof out->Error, "%s", message);
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

bool EncodePng(const TReliefImage& image, TPngOutput& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width), static_cast<png_uint_32>(image.Height), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 3);  // fast: the picture is a preview
  png_write_info(png, info);
  for (int32_t r = 0; r < image.Height; ++r)
    png_write_row(png, image.Rgba.data() + static_cast<size_t>(r) * static_cast<size_t>(image.Width) * 4);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void WriteReliefPng(const TReliefImage& image, const std::string& path, bool sync) {
  if (image.Width <= 0 || image.Height <= 0) Fail(TErrorKind::OutputIo, "Cannot create file " + path + ": the picture is empty");
  TPngOutput png;
  png.Bytes.reserve(static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 2);
  if (!EncodePng(image, png)) Fail(TErrorKind::OutputIo, "Cannot write file " + path + ": " + png.Error);
  TFileSink sink(path, sync);  // the bytes come in one piece
  sink.Write(png.Bytes.data(), png.Bytes.size());
  sink.Commit();
}

}  // namespace veloran
