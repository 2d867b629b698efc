#include "preview/relief.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "dem/output.h"
#include "support/errors.h"

namespace veloran {

TRgb ReliefRamp(double t) {
  t = std::clamp(t, 0.0, 1.0);
  const TRgb& a = t < 0.5 ? kReliefLow : kReliefMiddle;
  const TRgb& b = t < 0.5 ? kReliefMiddle : kReliefHigh;
  const double u = t < 0.5 ? t * 2 : (t - 0.5) * 2;
  TRgb c;
  for (size_t i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>(std::lround(a[i] + (b[i] - a[i]) * u));
  return c;
}

TReliefImage RenderShadedRelief(const TConversionState& state) {
  const TElevationGrid& grid = state.Grid;
  TReliefImage image;
  image.Width = std::max(grid.ColCount, 0);
  image.Height = std::max(grid.RowCount, 0);
  const size_t w = static_cast<size_t>(image.Width), h = static_cast<size_t>(image.Height);
  image.Rgba.resize(w * h * 4);
  const uint16_t* cells = grid.Cells.get();

  uint16_t lowest = 0xFFFF, highest = 0;
  for (size_t i = 0; i < w * h; ++i) {
    lowest = std::min(lowest, cells[i] == 0 ? uint16_t{0xFFFF} : cells[i]);
    highest = std::max(highest, cells[i]);
  }
  image.HasElevations = highest != 0;
  image.Lowest = image.HasElevations ? lowest - kCellOffset : 0;
  image.Highest = image.HasElevations ? highest - kCellOffset : 0;

  // The ramp's colours, one per elevation step of the grid's range, looked
  // up instead of computed per pixel.
  const int range = image.HasElevations ? highest - lowest : 0;
  std::vector<TRgb> ramp(static_cast<size_t>(range) + 1);
  for (int i = 0; i <= range; ++i) ramp[static_cast<size_t>(i)] = ReliefRamp(range ? double(i) / range : 0.0);

  // Slopes in metres per metre: feet become metres; a spacing of 0 (or not
  // a number) counts as 1 so that the picture still shows the terrain.
  const double zScale = state.Info.UnitsCode == 1 ? 0.3048 : 1.0;
  auto spacing = [](double s) { return std::isfinite(s) && s > 0 ? s : 1.0; };
  const float fx = static_cast<float>(zScale / (8 * spacing(state.Info.SpacingX)));
  const float fy = static_cast<float>(zScale / (8 * spacing(state.Info.SpacingY)));
  // The light's direction: (east, north, up) = (-cos45 sin45, cos45 sin45, sin45).
  const float horizontal = static_cast<float>(std::cos(M_PI / 4) * std::sqrt(0.5));
  const float up = static_cast<float>(std::sin(M_PI / 4));

  // The elevations as floats with a border that repeats the edge (a NaN for
  // a void cell), so that the 3 x 3 window never leaves the array.
  const size_t pw = w + 2;
  std::vector<float> z(pw * (h + 2));
  for (size_t r = 0; r < h + 2; ++r) {
    const uint16_t* from = cells + (r == 0 ? 0 : (r > h ? h - 1 : r - 1)) * w;
    float* to = z.data() + r * pw + 1;
    for (size_t c = 0; c < w; ++c) to[c] = from[c] == 0 ? NAN : static_cast<float>(from[c]);
    to[-1] = to[0];
    to[w] = to[w - 1];
  }

  // Horn's 3 x 3 window gives the rise to the east (p) and to the north
  // (q); the light follows from them.
  auto lightOf = [&](float a, float b, float d, float e, float f, float g, float k, float l) {
    const float p = ((d + 2 * f + l) - (a + 2 * e + g)) * fx;
    const float q = ((a + 2 * b + d) - (g + 2 * k + l)) * fy;
    const float shade = (horizontal * (p - q) + up) / std::sqrt(1 + p * p + q * q);
    return static_cast<float>(kAmbient) + static_cast<float>(1 - kAmbient) * std::max(shade, 0.0f);
  };
  std::vector<float> light(w);
  const uint8_t kVoidPixel[4] = {kVoidColour[0], kVoidColour[1], kVoidColour[2], 255};
  for (size_t r = 0; r < h; ++r) {
    const float* n = z.data() + r * pw + 1;  // n[c] lies north of cell c
    const float* m = n + pw;
    const float* s = m + pw;
    // First the whole row without a branch, so that it vectorizes: a void
    // cell or neighbour gives a NaN, mended below.
    for (size_t c = 0; c < w; ++c)
      light[c] = lightOf(n[c - 1], n[c], n[c + 1], m[c - 1], m[c + 1], s[c - 1], s[c], s[c + 1]);
    uint8_t* px = image.Rgba.data() + r * w * 4;
    for (size_t c = 0; c < w; ++c, px += 4) {
      const uint16_t centre = cells[r * w + c];
      if (centre == 0) {
        std::memcpy(px, kVoidPixel, 4);
        continue;
      }
      if (std::isnan(light[c])) {
        // A void neighbour counts as the centre.
        const float zc = m[c];
        auto v = [zc](float x) { return std::isnan(x) ? zc : x; };
        light[c] = lightOf(v(n[c - 1]), v(n[c]), v(n[c + 1]), v(m[c - 1]), v(m[c + 1]), v(s[c - 1]), v(s[c]), v(s[c + 1]));
      }
      const TRgb& colour = ramp[static_cast<size_t>(centre - lowest)];
      const float l = light[c];
      const uint8_t pixel[4] = {static_cast<uint8_t>(colour[0] * l + 0.5f), static_cast<uint8_t>(colour[1] * l + 0.5f),
                                static_cast<uint8_t>(colour[2] * l + 0.5f), 255};
      std::memcpy(px, pixel, 4);
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
  if (image.Width <= 0 || image.Height <= 0) Fail("Cannot create file " + path + ": the picture is empty");
  TPngOutput png;
  png.Bytes.reserve(static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 2);
  if (!EncodePng(image, png)) Fail("Cannot write file " + path + ": " + png.Error);
  TDemFileSink sink(path, sync);
  sink.Write(png.Bytes.data(), png.Bytes.size());
  sink.Commit();
}

}  // namespace veloran
