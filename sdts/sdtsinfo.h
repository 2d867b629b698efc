// The metadata record, the elevation grid and the module set of one
// transfer, and the conversion state that holds them for one conversion.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sdts/cellstore.h"
#include "sdts/source.h"

namespace veloran {

// The four file-name parts from which every module file name is formed,
// and where the files are.
struct TModuleSet {
  std::string CellModuleSuffix;  // characters 7 and 8 of CellFileName
  std::string CellFileName;      // the chosen name without its directory
  std::string TransferPrefix;    // characters 1 to 4 of CellFileName
  std::string TransferDir;       // the directory with its trailing "/", or empty
  const ITransferSource* Source = &DiskFiles();
  // The module files the transfer's catalog (its CATD module) names, by
  // module code; empty without a catalog, when names follow the prefix rule.
  std::map<std::string, std::string> Catalog;
  std::string CatalogPath;  // the catalog's file, where there is one
  // Each module's file as locating the transfer found it, by module code:
  // reading opens these without looking again.
  std::map<std::string, std::string> Paths;
};

struct TCornerPoint {
  double X = 0.0;  // easting
  double Y = 0.0;  // northing
};

struct TSdtsInfo {
  int32_t UnitsCode = 0;  // 1 feet, 2 metres
  int32_t VerticalScale = 0;
  uint8_t CellFormat = 0;
  std::string Title;
  std::string DataId;
  std::string DataDate;
  int32_t Scale = 0;
  int32_t VoidValue = 0;
  int32_t FillValue = 0;
  int32_t MinElevation = 0;
  int32_t MaxElevation = 0;
  int32_t ActualMax = 0;
  int32_t ActualMin = 0;
  double ScaleX = 0.0;
  double ScaleY = 0.0;
  double OriginX = 0.0;
  double OriginY = 0.0;
  double ResolutionX = 0.0;
  double ResolutionY = 0.0;
  double SpacingX = 0.0;
  double SpacingY = 0.0;
  std::string RefSysName;
  int32_t Zone = 0;
  int32_t Datum = 0;
  std::string DatumName;  // XREF HDAT as stored
  double SadrX = 0.0;  // RSDF SADR, in internal units: a text address may hold a fraction
  double SadrY = 0.0;
  double UpperLeftX = 0.0;
  double UpperLeftY = 0.0;
  TCornerPoint NW, NE, SW, SE;
};

// Grid values per elevation unit: 10 where the grid holds tenths. A record
// filled by hand without it counts whole units.
inline int32_t VerticalScaleOf(const TSdtsInfo& info) { return info.VerticalScale > 0 ? info.VerticalScale : 1; }

inline constexpr int32_t kCellOffset = 1000;

// The lowest and the highest cell of a run of `count` cells, voids (0) left
// out; both are 0 when the run holds voids only. SSE2 compares only signed
// 16-bit values, so the extremes are taken over keys with the top bit
// flipped, which order like the unsigned cells, and cell - 1 wraps a void to
// the greatest key for the minimum: plain minimum and maximum that vectorize.
struct TCellRange {
  uint16_t Lowest, Highest;
};
inline TCellRange CellRange(const uint16_t* cells, size_t count) {
  int16_t lowKey = INT16_MAX, highKey = INT16_MIN;
  for (size_t i = 0; i < count; ++i) {
    lowKey = std::min(lowKey, static_cast<int16_t>((cells[i] - 1) ^ 0x8000));
    highKey = std::max(highKey, static_cast<int16_t>(cells[i] ^ 0x8000));
  }
  return {static_cast<uint16_t>((lowKey ^ 0x8000) + 1), static_cast<uint16_t>(highKey ^ 0x8000)};
}

// Cells hold 0 for no elevation, otherwise elevation + 1000 (16 bits),
// row-major with row 0 at the north. The store grows to the grid the cell
// reader reads.
struct TElevationGrid {
  explicit TElevationGrid(size_t cells = 0) : Cells(cells) {}
  TCellStore Cells;
  int32_t RowCount = 0;
  int32_t ColCount = 0;
  // What the cell records' CELL ROWI and COLI count from (LDEF SORI, SOCI).
  int32_t FirstRowIndex = 1;
  int32_t FirstColumnIndex = 1;
  int64_t CellsStored = 0;  // cells the cell reader stored, from index 0
  // What the cell reader kept, as its TCellRequest asked: the grid above
  // (for the DEM and the relief; EnsureGrid fills it later from the raw
  // cells when it was not kept), and the cells as the transfer stores them,
  // for formats that keep them unchanged (GeoTIFF): 16-bit cells in
  // RawInt16, 32-bit reals in RawFloat, with their totals.
  bool KeepGrid = true;
  bool KeepRaw = false;
  TMappedArray<int16_t> RawInt16;
  TMappedArray<float> RawFloat;
  struct TRawTotals {
    double Min = 0, Max = 0;  // the least and greatest elevation
    int64_t NoData = 0;       // void and fill: values below -32765
  } RawTotals;
  // Rows read so far from the north on, each whole, for a writer that
  // works on them as they come. Told with notify_all.
  mutable std::atomic<int32_t> RowsRead{0};
};

// A raw value below this is no elevation (void, fill).
inline constexpr double kLowestRawElevation = -32765;

// The one value void and fill take where the raw cells are kept (the
// GeoTIFF, the GDAL plugin): GDAL's no-data value.
inline constexpr int kNoDataElevation = -32767;
template <class T>
constexpr T RawOrNoData(T cell) {
  return cell < static_cast<T>(kLowestRawElevation) ? static_cast<T>(kNoDataElevation) : cell;
}

// Each column's northernmost and southernmost row holding an elevation
// (-1 for a column of voids): a DEM profile runs between them.
struct TColumnEdges {
  std::vector<int32_t> North, South;
};
TColumnEdges ColumnEdges(const TElevationGrid& grid);

// What the profiles of a grid hold: the least and greatest elevation (in
// grid units) and the voids between each column's first and last
// elevation; Min and Max keep their start values without an elevation.
struct TGridTotals {
  int32_t Min = 2147483647;
  int32_t Max = -2147483647 - 1;
  int32_t Missing = 0;
};

// Everything one conversion reads: a fresh state starts from the start-up
// values, so nothing of one conversion can reach another, and several
// states can be converted at once on different threads.
struct TConversionState {
  TConversionState() = default;

  TModuleSet ModuleSet;
  TSdtsInfo Info;
  TElevationGrid Grid;
  bool SwapFloatBytes = false;  // 4-byte reals are read most significant byte first

  // Back to the start-up values, what the cell reader kept included,
  // keeping the cell store's memory: only the cells the last conversion
  // stored are zeroed again, which costs far less than a new store's page
  // faults when one state serves many conversions (a batch worker's).
  void Reset();
};

}  // namespace veloran
