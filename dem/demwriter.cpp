#include "dem/demwriter.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "dem/demfields.h"
#include "dem/records.h"
#include "support/errors.h"
#include "support/numfmt.h"

namespace veloran {

namespace {

// x / y with the faults the user knows instead of an infinity or a NaN.
long double Divide(long double x, long double y) {
  if (std::isnan(x) || std::isnan(y)) Fail(kInvalidOpMessage);
  if (y == 0) Fail(x == 0 ? kInvalidOpMessage : kDivByZeroMessage);
  return x / y;
}

using TTotals = TGridTotals;

void CheckGridFits(const TElevationGrid& grid) {
  if (grid.RowCount < 0 || grid.ColCount < 0 ||
      static_cast<uint64_t>(int64_t{grid.RowCount} * grid.ColCount) > grid.Cells.size())
    Fail(TErrorKind::Unsupported, "A grid of " + FormatInt(grid.RowCount) + " rows and " + FormatInt(grid.ColCount) +
         " columns does not fit in the " + FormatInt(static_cast<int64_t>(grid.Cells.size())) +
         " cells read");
  if (grid.RowCount == 0 || grid.ColCount == 0) Fail(kNoElevationsMessage);
}

// Copies `width` grid columns from `tileStart` into south-first columns of
// `tile`, `stride` cells apart: reading one column straight from the
// row-major grid would stride through memory. Blocks of 8 x 8 cells are
// transposed in SSE2 registers where the machine has them.
void TransposeTile(const uint16_t* cells, int32_t rows, int32_t cols, int32_t tileStart, int32_t width,
                   uint16_t* tile, size_t stride) {
  auto at = [&](int32_t r, int32_t k) { return cells[int64_t{r} * cols + tileStart + k]; };
  int32_t k0 = 0;
#ifdef __SSE2__
  for (; k0 + 8 <= width; k0 += 8) {
    int32_t r = 0;
    for (; r + 8 <= rows; r += 8) {
      // Rows r+7 down to r: each transposed vector is then a column's run
      // from south to north.
      __m128i v[8];
      for (int i = 0; i < 8; ++i)
        v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + int64_t{r + 7 - i} * cols + tileStart + k0));
      const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
      const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
      const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
      const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
      const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
      const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
      const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
      const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
      const __m128i out[8] = {_mm_unpacklo_epi64(b0, b4), _mm_unpackhi_epi64(b0, b4), _mm_unpacklo_epi64(b1, b5),
                              _mm_unpackhi_epi64(b1, b5), _mm_unpacklo_epi64(b2, b6), _mm_unpackhi_epi64(b2, b6),
                              _mm_unpacklo_epi64(b3, b7), _mm_unpackhi_epi64(b3, b7)};
      for (int k = 0; k < 8; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tile + static_cast<size_t>(k0 + k) * stride + (rows - 8 - r)),
                         out[k]);
    }
    for (; r < rows; ++r)
      for (int32_t k = k0; k < k0 + 8; ++k) tile[static_cast<size_t>(k) * stride + (rows - 1 - r)] = at(r, k);
  }
#endif
  for (; k0 < width; ++k0)
    for (int32_t r = 0; r < rows; ++r) tile[static_cast<size_t>(k0) * stride + (rows - 1 - r)] = at(r, k0);
}

void WriteRecords(const TConversionState& state, IByteSink& sink, bool addNewLines, IProgress& progress,
                  const std::string& date, TTotals& totals) {
  const TSdtsInfo& info = state.Info;
  const TElevationGrid& grid = state.Grid;
  const int32_t rows = grid.RowCount;
  const int32_t cols = grid.ColCount;

  TDemStream out{sink};
  auto endPiece = [&] {
    FlushDemBlock(out);
    if (addNewLines) sink.Write("\r\n", 2);
  };

  TDemHeader header;
  header.ProfileCols = cols;
  header.Resolution = {info.SpacingX, info.SpacingY, 1.0 / VerticalScaleOf(info)};
  TProfileHeader profile;
  const double zScale = VerticalScaleOf(info);

  // Start coordinates: the upper-left cell when it lies on the spacing
  // lattice, otherwise one spacing in from the quadrangle's corner.
  double startX = info.UpperLeftX;
  double startY = static_cast<double>(info.UpperLeftY - (rows - 1.0L) * info.SpacingY);
  const bool aligned =
      RealRemainder(startX, info.SpacingX) <= 0.0001 && RealRemainder(startY, info.SpacingY) <= 0.0001;
  if (!aligned) {
    startX = info.SW.X < info.NW.X ? info.SW.X : info.NW.X;
    startY = info.SW.Y < info.SE.Y ? info.SW.Y : info.SE.Y;
    startX = static_cast<double>((Divide(startX, info.SpacingX) + 1) * info.SpacingX);
    startY = static_cast<double>((Divide(startY, info.SpacingY) + 1) * info.SpacingY);
  }

  WriteHeaderFields(out, header, info, date);
  WriteDatumFields(out, info);
  endPiece();

  // Profiles are taken from the row-major grid kTile columns at a time into
  // south-first columns of cells (TransposeTile).
  constexpr int32_t kTile = 128;
  // Each column's stride is padded so that the columns do not fall on the
  // same cache sets. The tile never holds more columns than the grid has.
  const size_t stride = static_cast<size_t>(rows) + 32;
  std::vector<uint16_t> tile(cols > 0 ? stride * static_cast<size_t>(cols < kTile ? cols : kTile) : 0);
  const uint16_t* cells = grid.Cells.get();
  for (int32_t c = 0; c < cols; ++c) {
    progress.SetShare(c, cols);
    profile.ColumnId = c + 1;
    const int32_t tileStart = c - c % kTile;
    if (c == tileStart) TransposeTile(cells, rows, cols, tileStart, cols - tileStart < kTile ? cols - tileStart : kTile,
                                      tile.data(), stride);
    // ProfileElevations as cells: entry 0 is the south end of column c; a
    // cell of 0 is void, any other holds the elevation + 1000.
    const uint16_t* column = tile.data() + static_cast<size_t>(c - tileStart) * stride;
    // Entries first..last are written; the voids outside them are dropped.
    int32_t last = rows - 1;
    while (last >= 0 && column[last] == 0) --last;
    int32_t first = 0;
    if (last >= 0)
      while (column[first] == 0) ++first;
    profile.ElevationCount = last - first + 1;
    const auto [lowest, highest] = CellRange(column + first, static_cast<size_t>(profile.ElevationCount));
    if (highest == 0) {
      profile.ProfileMin = profile.ProfileMax = kVoidElevation;
    } else {
      const int32_t low = lowest - kCellOffset, high = highest - kCellOffset;
      profile.ProfileMin = low / zScale;
      profile.ProfileMax = high / zScale;
      if (low < totals.Min) totals.Min = low;
      if (high > totals.Max) totals.Max = high;
    }
    profile.FirstX = static_cast<double>(c * static_cast<long double>(info.SpacingX) + startX);
    // Entry `first` lies `first` spacings north of the southern row; the
    // quadrangle start already carries one spacing.
    profile.FirstY = static_cast<double>((aligned ? first : first - 1.0L) * info.SpacingY + startY);

    auto writeEntries = [&](int32_t from, int32_t to) {
      WriteCellFields(out, column + from, to - from + 1, totals.Missing);
    };
    int32_t end = first + 145 < last ? first + 145 : last;
    WriteProfileHeader(out, profile);
    writeEntries(first, end);
    endPiece();
    while (end < last) {
      const int32_t next = end + 170 < last ? end + 170 : last;
      writeEntries(end + 1, next);
      endPiece();
      end = next;
    }
  }

  WriteAccuracyRecord(out);
  endPiece();
}

// The blocks of the DEM: records A and C, and per column one block for its
// first 146 elevations and one for each further 170, a column's elevations
// running from its southernmost to its northernmost elevation. Exact, so
// that conversions at once never hold disk room that one alone would not.
uint64_t DemBlockCount(const TElevationGrid& grid) {
  const TColumnEdges edges = ColumnEdges(grid);
  uint64_t blocks = 2;
  for (size_t c = 0; c < edges.North.size(); ++c) {
    const int64_t elevations = edges.North[c] < 0 ? 0 : edges.South[c] - edges.North[c] + 1;
    blocks += 1 + static_cast<uint64_t>((std::max<int64_t>(elevations - 146, 0) + 169) / 170);
  }
  return blocks;
}

}  // namespace

double RealRemainder(double value, double step) {
  const long double quotient = Divide(value, step);
  return static_cast<double>(value - step * std::trunc(quotient));
}

void WriteDemRecords(const TConversionState& state, IByteSink& sink, bool addNewLines, IProgress& progress,
                     const std::string& date) {
  CheckGridFits(state.Grid);
  TTotals totals;
  WriteRecords(state, sink, addNewLines, progress, date, totals);
}

TGridTotals WriteDemFile(const TConversionState& state, const std::string& demFileName, bool addNewLines,
                         IProgress& progress, bool sync, TExecutor* background) {
  CheckGridFits(state.Grid);
  TFileSink sink(demFileName, sync, background);
  sink.Reserve(DemBlockCount(state.Grid) * (kDemBlockSize + (addNewLines ? 2 : 0)));
  TTotals totals;
  WriteRecords(state, sink, addNewLines, progress, DemDateText(), totals);
  sink.Commit();
  return totals;
}

}  // namespace veloran
