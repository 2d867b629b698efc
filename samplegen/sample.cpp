#include "samplegen/sample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace veloran::testing {

namespace {

constexpr int16_t kVoid = -32767;
constexpr int16_t kFill = -32766;
constexpr double kSpacing = 30.0;

// splitmix64: a small, well-mixed, reproducible generator.
struct TRandom {
  uint64_t State;
  uint64_t Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(Next() >> 11) / 9007199254740992.0; }
};

struct TPoint {
  double X, Y;
};

std::string Real(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.8f", v);
  return buf;
}

// Whether p lies inside the convex quadrangle a-b-c-d (counter-clockwise).
bool Inside(const TPoint (&q)[4], TPoint p) {
  for (int i = 0; i < 4; ++i) {
    const TPoint a = q[i], b = q[(i + 1) % 4];
    if ((b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X) < 0) return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& SampleVariants() {
  static const std::vector<std::string> variants = {"base", "float", "feet", "binsadr", "repeat", "lower"};
  return variants;
}

TTransferSpec MakeSample(const std::string& variant, uint64_t seed) {
  // A number N asks for an N x N grid without collar, for benchmarks.
  const int square = !variant.empty() && variant.find_first_not_of("0123456789") == std::string::npos
                         ? std::stoi(variant)
                         : 0;
  const bool known = variant == "small" || square > 0 ||
                     std::find(SampleVariants().begin(), SampleVariants().end(), variant) != SampleVariants().end();
  if (!known) throw std::invalid_argument("unknown sample variant " + variant);
  TRandom random{seed};

  // A quadrangle near 45.5 N in UTM zone 10: 7.5' of longitude is about
  // 9.75 km, of latitude 13.9 km; grid north is turned by the meridian
  // convergence, so the boundary is slanted on the grid.
  const double angle = 0.0207, width = 9750.0, height = 13890.0;
  TPoint sw{599873.47, 5039989.12};
  TPoint se{sw.X + width * std::cos(angle), sw.Y + width * std::sin(angle)};
  TPoint nw{sw.X - height * std::sin(angle), sw.Y + height * std::cos(angle)};
  TPoint ne{nw.X + 0.9985 * width * std::cos(angle), nw.Y + 0.9985 * width * std::sin(angle)};
  double minX = std::min({sw.X, se.X, ne.X, nw.X}), maxX = std::max({sw.X, se.X, ne.X, nw.X});
  double minY = std::min({sw.Y, se.Y, ne.Y, nw.Y}), maxY = std::max({sw.Y, se.Y, ne.Y, nw.Y});

  // Terrain: broad waves and a few seeded hills.
  struct THill {
    double X, Y, Height, Radius;
  };
  std::vector<THill> hills;
  for (int i = 0; i < 12; ++i)
    hills.push_back({random.Uniform(minX, maxX), random.Uniform(minY, maxY), random.Uniform(-300, 700),
                     random.Uniform(500, 2500)});
  const double phaseX = random.Uniform(0, 6.28), phaseY = random.Uniform(0, 6.28);
  auto terrain = [&](double x, double y) {
    double h = 1250 + 420 * std::sin(x / 1800 + phaseX) * std::cos(y / 2300 + phaseY) + 140 * std::sin((x + y) / 700);
    for (const THill& k : hills) {
      const double d2 = ((x - k.X) * (x - k.X) + (y - k.Y) * (y - k.Y)) / (k.Radius * k.Radius);
      h += k.Height * std::exp(-d2);
    }
    return h;
  };
  // Interior voids: a few small patches of missing data.
  std::vector<TPoint> voids;
  for (int i = 0; i < 3; ++i) voids.push_back({random.Uniform(minX + 2000, maxX - 2000), random.Uniform(minY + 2000, maxY - 2000)});

  if (variant == "small") {
    // A small corner quadrangle, for golden files.
    sw = {600015.0, 5040015.0};
    se = {601185.5, 5040045.25};
    nw = {599990.0, 5040885.0};
    ne = {601160.75, 5040910.0};
    voids = {{600600, 5040450}};
  }
  if (square > 0) {
    const double side = kSpacing * (square - 1);
    sw = {600000.0, 5000000.0};
    se = {sw.X + side, sw.Y};
    nw = {sw.X, sw.Y + side};
    ne = {sw.X + side, sw.Y + side};
    minX = std::min({sw.X, se.X, ne.X, nw.X}), maxX = std::max({sw.X, se.X, ne.X, nw.X});
    minY = std::min({sw.Y, se.Y, ne.Y, nw.Y}), maxY = std::max({sw.Y, se.Y, ne.Y, nw.Y});
  }
  const TPoint quad[4] = {sw, se, ne, nw};
  const double x0 = std::ceil(minX / kSpacing) * kSpacing, y0 = std::floor(maxY / kSpacing) * kSpacing;
  const int cols = static_cast<int>(std::floor(maxX / kSpacing) - std::ceil(minX / kSpacing)) + 1;
  const int rows = static_cast<int>(std::floor(maxY / kSpacing) - std::ceil(minY / kSpacing)) + 1;

  TTransferSpec spec;
  spec.Title = variant == "small" ? "VELORAN TEST CORNER, WA" : "CASCADE RIDGE, WA";
  spec.DataId = "SDTS DEM 30M " + variant;
  spec.DataDate = "19990924";
  spec.Scale = "24000";
  spec.Zone = "10";
  spec.Hdat = "NAS";
  spec.Nrow = std::to_string(rows);
  spec.Ncol = std::to_string(cols);
  spec.Corners = {Real(sw.X), Real(sw.Y), Real(nw.X), Real(nw.Y), Real(ne.X), Real(ne.Y), Real(se.X), Real(se.Y)};
  spec.Xhrs = spec.Yhrs = "30.0";
  spec.SadrX = Real(x0);
  spec.SadrY = Real(y0);
  if (variant == "binsadr") {
    spec.BinarySadr = true;
    spec.Sfax = spec.Sfay = "0.01";
    spec.BinSadrX = static_cast<int32_t>(std::lround(x0 * 100));
    spec.BinSadrY = static_cast<int32_t>(std::lround(y0 * 100));
  }
  const bool floats = variant == "float";
  const bool feet = variant == "feet";
  if (floats) spec.Fmt = "BFP32";
  if (feet) spec.Unit = "FEET";
  spec.RepeatRecords = variant == "repeat";
  spec.LowerCaseNames = variant == "lower";

  double lo = 1e9, hi = -1e9;
  spec.Rows.clear();
  for (int r = 0; r < rows; ++r) {
    std::vector<int16_t> row;
    std::vector<float> frow;
    for (int c = 0; c < cols; ++c) {
      const TPoint p{x0 + c * kSpacing, y0 - r * kSpacing};
      double value;
      if (!Inside(quad, p)) {
        value = kFill;
      } else if (std::any_of(voids.begin(), voids.end(), [&](TPoint v) { return std::hypot(p.X - v.X, p.Y - v.Y) < 70; })) {
        value = kVoid;
      } else {
        const double h = terrain(p.X, p.Y) * (feet ? 3.2808399 : 1.0);
        value = floats ? std::round(h * 8) / 8 : std::round(h);  // eighths: exact in single precision
        lo = std::min(lo, value);
        hi = std::max(hi, value);
      }
      if (floats) {
        frow.push_back(static_cast<float>(value));
      } else {
        row.push_back(static_cast<int16_t>(value));
      }
    }
    if (floats) {
      spec.FloatRows.push_back(std::move(frow));
    } else {
      spec.Rows.push_back(std::move(row));
    }
  }
  spec.Domain = {{1, std::to_string(kVoid)},
                 {2, std::to_string(kFill)},
                 {3, std::to_string(static_cast<int>(std::floor(lo)))},
                 {4, std::to_string(static_cast<int>(std::ceil(hi)))}};
  return spec;
}

}  // namespace veloran::testing
