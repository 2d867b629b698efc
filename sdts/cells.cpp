#include "sdts/cells.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "iso8211/subfields.h"
#include "sdts/moduleset.h"
#include "support/errors.h"

namespace veloran {

namespace {

class TCellReader {
 public:
  TCellReader(TConversionState& state, IProgress& progress, const TCellRequest& request)
      : State(state), Info(state.Info), Cells(state.Grid.Cells.get()), Progress(progress), Request(request) {
    // The grid records what it holds.
    State.Grid.KeepGrid = request.KeepGrid;
    State.Grid.KeepRaw = request.KeepRaw;
  }

  int64_t Run();

 private:
  void Walk();
  void ReadIntegerCells(int64_t count);
  void ReadFloatCells(int64_t count);
  // Where this record's grid cells go: the grid, or one row's room.
  uint16_t* GridRow() { return State.Grid.KeepGrid ? Cells + At : Row.data(); }
  void FindRowNumbers(const TDataDescription& description);
  int64_t RowOf(int64_t cellStart, int64_t cellLength);
  void AddRawTotals(double low, double high, int64_t elevations, int64_t noData) {
    TElevationGrid::TRawTotals& totals = State.Grid.RawTotals;
    if (elevations > 0 && (RawElevations == 0 || low < totals.Min)) totals.Min = low;
    if (elevations > 0 && (RawElevations == 0 || high > totals.Max)) totals.Max = high;
    RawElevations += elevations;
    totals.NoData += noData;
  }
  void TrackExtremes(int32_t elevation) {
    if (elevation > Info.ActualMax) Info.ActualMax = elevation;
    if (elevation < Info.ActualMin) Info.ActualMin = elevation;
  }
  [[noreturn]] void Malformed(const std::string& what) const {
    Fail("The cell module " + Stream->Name() + " is malformed: " + what);
  }

  TConversionState& State;
  TSdtsInfo& Info;
  uint16_t* Cells;
  IProgress& Progress;
  const TCellRequest& Request;
  std::unique_ptr<TStream> Stream;
  std::vector<unsigned char> Buffer;  // one CVLS field, reused for every record
  std::vector<uint16_t> Row;          // the grid cells of one record, when the grid is not kept
  int64_t Count = 0;                  // cells stored so far
  int64_t At = 0;                     // where the record being read goes
  int64_t RawElevations = 0;          // raw cells that are elevations so far
  // Each record's row: its CELL field's ROWI (COLI must then name the
  // first column), or its place among the records where there is none.
  struct {
    int64_t Position = -1, Length = 0;  // the CELL field in the first record's field area; -1 without ROWI
    std::vector<TSubfieldForm> Forms;
    int Row = -1, Column = -1;  // ROWI's and COLI's subfield index
  } Numbers;
  std::string CellField;            // one record's CELL field
  std::vector<int64_t> RowRecord;   // the record that filled each row, 0 for none yet
  int64_t Records = 0;              // records read
  int32_t Ready = 0;                // rows whole from the north on
};

int64_t TCellReader::Run() {
  Info.ActualMin = 32766;
  Info.ActualMax = -32765;
  Stream = OpenModule(State.ModuleSet, "CE" + State.ModuleSet.CellModuleSuffix);
  NameFileOnFailure(Stream->Name(), [&] { Walk(); });
  return Count;
}

namespace {

// The bits of the one binary cell of a CVLS format control such as
// "(B(16))"; 0 for any other form.
int CellBits(std::string_view controls) {
  std::vector<TSubfieldForm> forms;
  return ParseFormatControls(controls, forms) && forms.size() == 1 && forms[0].Type == 'B' ? 8 * forms[0].Width : 0;
}

}  // namespace

// The CELL field's row and column numbers, where the module has them.
void TCellReader::FindRowNumbers(const TDataDescription& description) {
  int row = -1, field = -1, column = -1, unused = -1;
  LocateSubfield("CELL", "ROWI", 0, description, row, field);
  if (row < 0 || field < 0) return;
  LocateSubfield("CELL", "COLI", 0, description, column, unused);
  const std::string controls = GetFormatControls("CELL", description);
  if (!ParseFormatControls(controls, Numbers.Forms))
    Fail(TErrorKind::Unsupported, "The cell module " + Stream->Name() + " lays out its CELL field as '" + controls +
                                      "', which this reader does not read");
  const TDDRDirItem& item = description.Records.Directories[0].Items[static_cast<size_t>(field)];
  Numbers.Position = item.Position;
  Numbers.Length = item.Length;
  Numbers.Row = row;
  Numbers.Column = column;
}

// The row the record whose CELL field lies there fills: refused when it
// is outside the grid, or filled already.
int64_t TCellReader::RowOf(int64_t cellStart, int64_t cellLength) {
  const int64_t rows = State.Grid.RowCount, record = Records + 1;
  if (Numbers.Position < 0) return Records;
  if (cellLength < 0 || cellLength > Stream->Size() - cellStart || cellLength > 4096)
    Malformed("the CELL field of record " + std::to_string(record) + " lies outside the file");
  CellField.resize(static_cast<size_t>(cellLength));
  Stream->Seek(cellStart);
  if (Stream->Read(CellField.data(), cellLength) < cellLength) Malformed("a CELL field cut short");
  int32_t number = 0;
  if (!SubfieldIntAt(CellField, Numbers.Forms, static_cast<size_t>(Numbers.Row), number))
    Malformed("record " + std::to_string(record) + " has no row number (CELL ROWI)");
  const int64_t row = int64_t{number} - State.Grid.FirstRowIndex;
  if (row < 0 || row >= rows)
    Malformed("record " + std::to_string(record) + " names row " + std::to_string(number) + ", outside the " +
              std::to_string(rows) + " rows of LDEF");
  if (RowRecord[static_cast<size_t>(row)] > 0)
    Malformed("record " + std::to_string(record) + " names row " + std::to_string(number) + ", as record " +
              std::to_string(RowRecord[static_cast<size_t>(row)]) + " does");
  int32_t column = 0;
  if (Numbers.Column >= 0 && SubfieldIntAt(CellField, Numbers.Forms, static_cast<size_t>(Numbers.Column), column) &&
      column != State.Grid.FirstColumnIndex)
    Malformed("record " + std::to_string(record) + " starts at column " + std::to_string(column) +
              ", not at the grid's first column " + std::to_string(State.Grid.FirstColumnIndex));
  return row;
}

// Walks the CVLS fields record after record. Every field must lie inside
// the file and hold a cell, and every record must lie after the one before
// it, so the work follows the file's real size, never a count it claims.
void TCellReader::Walk() {
  TDataDescription description;
  ReadDataDescription(*Stream, description, 1);

  const TDDRDirectory& first = description.Records.Directories[0];
  const int cvls = description.Records.Count > 0 ? FindDirItem("CVLS", first) : -1;
  if (cvls < 0) Fail("The cell module " + Stream->Name() + " has no CVLS field in its first record");
  const bool repeat = description.Records.Leaders[0].LeaderId == "R";
  const int64_t offset = first.Items[static_cast<size_t>(cvls)].Position;
  int64_t start = first.FieldAreaStart + offset;
  int64_t length = first.Items[static_cast<size_t>(cvls)].Length;
  const bool floats = Info.CellFormat == kFloatCellFormat;
  const int64_t cellSize = floats ? 4 : 2;
  const int64_t size = Stream->Size();
  const std::string formats = GetFormatControls("CVLS", description);
  if (CellBits(formats) != cellSize * 8)
    Fail("The cell module " + Stream->Name() + " declares its cells as '" + formats + "', but its DDSH module as " +
         (floats ? "BFP32" : "BI16"));

  // One record per row of ColCount cells. The store is sized to the grid
  // only once the file is known to be large enough to hold it, so memory
  // follows the file, never a count LDEF claims.
  const int64_t rows = State.Grid.RowCount, cols = State.Grid.ColCount;
  if (rows == 0 || cols == 0) Fail(kNoElevationsMessage);
  if (rows * cols > (size - start) / cellSize)
    Fail("The cell module " + Stream->Name() + " is too small for a grid of " + std::to_string(rows) + " rows by " +
         std::to_string(cols) + " columns");
  // A grid not kept is decoded row by row into one row's room: its extremes
  // are still tracked, and memory that a conversion never reads is never
  // touched (on this kind of machine, new memory costs more than decoding).
  if (State.Grid.KeepGrid) {
    State.Grid.Cells.Resize(static_cast<size_t>(rows * cols));
    Cells = State.Grid.Cells.get();
  } else {
    Row.resize(static_cast<size_t>(cols));
  }
  if (State.Grid.KeepRaw) {
    if (floats) {
      State.Grid.RawFloat.Resize(static_cast<size_t>(rows * cols));
    } else {
      State.Grid.RawInt16.Resize(static_cast<size_t>(rows * cols));
    }
  }
  FindRowNumbers(description);
  RowRecord.assign(static_cast<size_t>(rows), 0);
  if (Request.OnSized) Request.OnSized();

  TDRLeader leader;
  TDDRDirectory directory;
  int64_t cellStart = first.FieldAreaStart + Numbers.Position, cellLength = Numbers.Length;
  for (;;) {
    if (start >= size) break;
    if (length < 0) Malformed("a CVLS field of negative length");
    if (length > size - start)
      Malformed("the CVLS field at byte " + std::to_string(start) + " reaches beyond the end of the file");
    const int64_t cells = length / cellSize;
    const int64_t record = Records + 1;
    if (record > rows)
      Malformed("record " + std::to_string(record) + " is beyond the " + std::to_string(rows) + " rows of LDEF");
    if (cells != cols)
      Malformed("record " + std::to_string(record) + " holds " + std::to_string(cells) + " cells, but LDEF declares " +
                std::to_string(cols) + " columns");
    const int64_t row = RowOf(cellStart, cellLength);
    At = row * cols;
    Stream->Seek(start);
    // Recorded before the cells land, so that a reset finds them all.
    if (State.Grid.KeepGrid) State.Grid.CellsStored = std::max(State.Grid.CellsStored, At + cells);
    if (floats) {
      ReadFloatCells(cells);
    } else {
      ReadIntegerCells(cells);
    }
    RowRecord[static_cast<size_t>(row)] = ++Records;
    while (Ready < rows && RowRecord[static_cast<size_t>(Ready)] > 0) ++Ready;
    State.Grid.RowsRead.store(Ready, std::memory_order_release);
    State.Grid.RowsRead.notify_all();
    Progress.SetShare(Stream->Position(), size);

    int64_t next;
    if (repeat) {
      // Leaderless records repeat the first record's layout.
      next = start + length + offset;
      cellStart = next - offset + Numbers.Position;
    } else {
      const int64_t recordStart = start + length;
      if (recordStart >= size) break;
      Stream->Seek(recordStart);
      ReadDRLeader(*Stream, leader);
      ReadDRDirectory(*Stream, directory, leader);
      auto where = [&] { return "the record at byte " + std::to_string(recordStart); };
      CheckDirectoryBounds(*Stream, directory, leader.RecordLength > 0 ? recordStart + leader.RecordLength : size,
                           where);
      const int at = FindDirItem("CVLS", directory);
      if (at < 0) Malformed(where() + " has no CVLS field");
      next = directory.FieldAreaStart + directory.Items[static_cast<size_t>(at)].Position;
      length = directory.Items[static_cast<size_t>(at)].Length;
      if (Numbers.Position >= 0) {
        const int cell = FindDirItem("CELL", directory);
        if (cell < 0) Malformed(where() + " has no CELL field");
        cellStart = directory.FieldAreaStart + directory.Items[static_cast<size_t>(cell)].Position;
        cellLength = directory.Items[static_cast<size_t>(cell)].Length;
      }
    }
    // Every record must lie after the one before it: a crafted file must
    // not make the walk stand still or go back.
    if (next <= start) Malformed("the record after byte " + std::to_string(start) + " does not advance");
    start = next;
  }
}

// A 16-bit cell as a grid cell: elevation + 1000, 0 (void) below -1000.
uint16_t IntGridCell(int16_t value) {
  return value >= -kCellOffset ? static_cast<uint16_t>(value + kCellOffset) : uint16_t{0};
}

// A real as a grid cell: tenths where VerticalScale is 10 (decimal
// transfers keep their decimals), rounded with ties to even; 0 (void) below
// -32765 and outside the -999 to 64,535 the grid holds (-1000 counts and
// reads back as void).
bool InGrid(double rounded) { return rounded >= -kCellOffset && rounded <= 64535; }
uint16_t FloatGridCell(double value, double scale) {
  if (value < kLowestRawElevation) return 0;
  const double rounded = std::nearbyint(value * scale);
  return InGrid(rounded) ? static_cast<uint16_t>(static_cast<int32_t>(rounded) + kCellOffset) : uint16_t{0};
}

// Big-endian 16-bit cells to grid cells (elevation + 1000, 0 for void),
// widening lowest and highest over the valid elevations (-1000 and up).
// Written so that the loop vectorizes with SSE2's signed 16-bit compares:
// voids lie below every valid value, so the plain maximum is the valid
// one whenever there is one; for the minimum, the cell with its top bit
// flipped puts valid cells (0 to 33,767) below the wrapped voids.
void DecodeIntegerCells(const unsigned char* __restrict in, uint16_t* __restrict out, int64_t count,
                        int32_t& lowest, int32_t& highest) {
  int16_t high = INT16_MIN, lowKey = INT16_MAX;
  for (int64_t i = 0; i < count; ++i) {
    uint16_t raw;
    std::memcpy(&raw, in + 2 * i, 2);
    const auto value = static_cast<int16_t>(raw << 8 | raw >> 8);
    out[i] = IntGridCell(value);
    high = std::max(high, value);
    lowKey = std::min(lowKey, static_cast<int16_t>(static_cast<uint16_t>(value + kCellOffset) ^ 0x8000));
  }
  if (high < -kCellOffset) return;  // voids only
  lowest = std::min<int32_t>(lowest, static_cast<uint16_t>(lowKey ^ 0x8000) - kCellOffset);
  highest = std::max<int32_t>(highest, high);
}

void TCellReader::ReadIntegerCells(int64_t count) {
  Buffer.resize(static_cast<size_t>(count * 2));
  if (Stream->Read(Buffer.data(), count * 2) < count * 2) Malformed("a CVLS field cut short");
  DecodeIntegerCells(Buffer.data(), GridRow(), count, Info.ActualMin, Info.ActualMax);
  if (State.Grid.KeepRaw) {
    // The raw totals in the same pass, written so that it vectorizes.
    int16_t* raw = State.Grid.RawInt16.data() + At;
    int16_t low = INT16_MAX, high = INT16_MIN;
    int64_t noData = 0;
    for (int64_t i = 0; i < count; ++i) {
      const unsigned char* bytes = Buffer.data() + 2 * i;
      const auto value = static_cast<int16_t>(bytes[0] << 8 | bytes[1]);
      raw[i] = value;
      const bool elevation = value >= kLowestRawElevation;
      low = std::min(low, elevation ? value : int16_t{INT16_MAX});
      high = std::max(high, elevation ? value : int16_t{INT16_MIN});
      noData += !elevation;
    }
    AddRawTotals(low, high, count - noData, noData);
  }
  Count += count;
}

void TCellReader::ReadFloatCells(int64_t count) {
  // Float cells are big-endian: from now on 4-byte reals are read most
  // significant byte first.
  State.SwapFloatBytes = true;
  Buffer.resize(static_cast<size_t>(count * 4));
  if (Stream->Read(Buffer.data(), count * 4) < count * 4) Malformed("a CVLS field cut short");
  const unsigned char* b = Buffer.data();
  uint16_t* out = GridRow();
  const double scale = VerticalScaleOf(Info);
  float* raw = State.Grid.KeepRaw ? State.Grid.RawFloat.data() + At : nullptr;
  double low = HUGE_VAL, high = -HUGE_VAL;
  int64_t noData = 0;
  for (int64_t i = 0; i < count; ++i, b += 4) {
    const double value = DecodeSingle(b, State.SwapFloatBytes);
    if (raw) raw[i] = static_cast<float>(value);
    if (std::isnan(value) || value >= 9.2233720368547758e18) Fail(kInvalidOpMessage);
    out[i] = 0;
    if (value < kLowestRawElevation) {
      ++noData;
      continue;
    }
    low = std::min(low, value);
    high = std::max(high, value);
    const double rounded = std::nearbyint(value * scale);  // as FloatGridCell
    if (!InGrid(rounded)) continue;
    TrackExtremes(static_cast<int32_t>(rounded));
    out[i] = static_cast<uint16_t>(static_cast<int32_t>(rounded) + kCellOffset);
  }
  if (raw) AddRawTotals(low, high, count - noData, noData);
  Count += count;
}

}  // namespace

int64_t ReadCells(TConversionState& state, IProgress& progress, const TCellRequest& request) {
  return TCellReader(state, progress, request).Run();
}

void EnsureGrid(TConversionState& state) {
  TElevationGrid& grid = state.Grid;
  const size_t cells = static_cast<size_t>(grid.RowCount) * static_cast<size_t>(grid.ColCount);
  if (grid.KeepGrid || !grid.KeepRaw) return;
  grid.Cells.Resize(cells);
  uint16_t* out = grid.Cells.get();
  if (grid.RawFloat.size() >= cells) {
    const double scale = VerticalScaleOf(state.Info);
    for (size_t i = 0; i < cells; ++i) out[i] = FloatGridCell(grid.RawFloat[i], scale);
  } else if (grid.RawInt16.size() >= cells) {
    for (size_t i = 0; i < cells; ++i) out[i] = IntGridCell(grid.RawInt16[i]);
  }
  grid.CellsStored = std::max<int64_t>(grid.CellsStored, static_cast<int64_t>(cells));
  grid.KeepGrid = true;
}

}  // namespace veloran
