// A shaded-relief picture of a converted grid: one pixel per cell, north
// up and west on the left, as the DEM places its profiles.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <memory>
#include <new>
#include <vector>

#include "sdts/sdtsinfo.h"

namespace veloran {

using TRgb = std::array<uint8_t, 3>;

// The hypsometric ramp, from the lowest elevation to the highest, and the
// colour of void cells: a neutral grey, where the ramp has none.
inline constexpr TRgb kReliefLow{46, 125, 50};     // green lowlands
inline constexpr TRgb kReliefMiddle{222, 200, 112};  // tan
inline constexpr TRgb kReliefHigh{121, 72, 36};     // brown summits
inline constexpr TRgb kVoidColour{128, 128, 128};
// The light: from the north-west, 45 degrees above the horizon. A pixel's
// colour is the ramp's colour times kAmbient + (1 - kAmbient) x the shade
// (the cosine between the light and the surface's normal).
inline constexpr double kAmbient = 0.35;

// Leaves new elements uninitialized: every pixel is written anyway, and
// zero-filling megabytes first would cost as much as the shading.
template <class T>
struct TNoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TNoInitAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
};

struct TReliefImage {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t, TNoInitAllocator<uint8_t>> Rgba;  // Width x Height pixels, row 0 at the north
  double Lowest = 0, Highest = 0;  // the elevations at the ramp's ends, in elevation units
  bool HasElevations = false;
};

// The ramp's colour at t (0 lowest, 1 highest).
TRgb ReliefRamp(double t);

// A converted grid as its picture needs it, kept apart from the conversion
// state, which the next conversion starts afresh.
struct TReliefGrid {
  std::vector<uint16_t> Cells;  // RowCount x ColCount, row 0 at the north
  int32_t RowCount = 0, ColCount = 0;
  double UpperLeftX = 0, UpperLeftY = 0, SpacingX = 0, SpacingY = 0;
  bool Feet = false;
  int32_t VerticalScale = 1;  // grid values per elevation unit

  // The grid of a state whose grid is filled (EnsureGrid).
  static TReliefGrid Of(const TConversionState& state);
};

// Renders the state's grid. Elevations in feet (UnitsCode 1) are brought to
// metres against the horizontal spacing; void cells take kVoidColour.
TReliefImage RenderShadedRelief(const TConversionState& state);
TReliefImage RenderShadedRelief(const TReliefGrid& grid);
// The same for `cells` in the place of the grid's own.
TReliefImage RenderShadedRelief(const TReliefGrid& grid, const uint16_t* cells);

// Writes the picture as a PNG file, safely as a DEM is written; fails with
// "Cannot create file %s: ..." or "Cannot write file %s: ...".
void WriteReliefPng(const TReliefImage& image, const std::string& path, bool sync);

}  // namespace veloran
