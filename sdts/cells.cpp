#include "sdts/cells.h"

#include <algorithm>
#include <cstdio>
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
  TCellReader(TConversionState& state, IProgress& progress)
      : State(state), Info(state.Info), Cells(state.Grid.Cells.get()), Progress(progress) {}

  int64_t Run();

 private:
  void Walk();
  void ReadIntegerCells(int64_t count);
  void ReadFloatCells(int64_t count);
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
  std::unique_ptr<TStream> Stream;
  std::vector<unsigned char> Buffer;  // one CVLS field, reused for every record
  int64_t Count = 0;                  // cells stored so far
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
int CellBits(std::string formats) {
  std::erase(formats, ' ');
  int bits = 0;
  const int n = std::sscanf(formats.c_str(), "(B(%d))", &bits);
  return n == 1 && formats == "(B(" + std::to_string(bits) + "))" ? bits : 0;
}

}  // namespace

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
  State.Grid.Cells.Resize(static_cast<size_t>(rows * cols));
  Cells = State.Grid.Cells.get();
  if (State.Grid.KeepRaw) {
    if (floats) {
      State.Grid.RawFloat.Resize(static_cast<size_t>(rows * cols));
    } else {
      State.Grid.RawInt16.Resize(static_cast<size_t>(rows * cols));
    }
  }

  TDRLeader leader;
  TDDRDirectory directory;
  for (;;) {
    if (start >= size) break;
    if (length < 0) Malformed("a CVLS field of negative length");
    if (length > size - start)
      Malformed("the CVLS field at byte " + std::to_string(start) + " reaches beyond the end of the file");
    const int64_t cells = length / cellSize;
    const int64_t row = Count / cols + 1;
    if (row > rows) Malformed("record " + std::to_string(row) + " is beyond the " + std::to_string(rows) + " rows of LDEF");
    if (cells != cols)
      Malformed("record " + std::to_string(row) + " holds " + std::to_string(cells) + " cells, but LDEF declares " +
                std::to_string(cols) + " columns");
    Stream->Seek(start);
    // Recorded before the cells land, so that a reset finds them all.
    State.Grid.CellsStored = std::max(State.Grid.CellsStored, Count + cells);
    if (floats) {
      ReadFloatCells(cells);
    } else {
      ReadIntegerCells(cells);
    }
    Progress.SetProgress(static_cast<int>(std::nearbyint(50.0 * static_cast<double>(Stream->Position()) /
                                                         static_cast<double>(size))));

    int64_t next;
    if (repeat) {
      // Leaderless records repeat the first record's layout.
      next = start + length + offset;
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
    }
    // Every record must lie after the one before it: a crafted file must
    // not make the walk stand still or go back.
    if (next <= start) Malformed("the record after byte " + std::to_string(start) + " does not advance");
    start = next;
  }
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
    const auto cell = static_cast<uint16_t>(value + kCellOffset);
    out[i] = value >= -kCellOffset ? cell : uint16_t{0};
    high = std::max(high, value);
    lowKey = std::min(lowKey, static_cast<int16_t>(cell ^ 0x8000));
  }
  if (high < -kCellOffset) return;  // voids only
  lowest = std::min<int32_t>(lowest, static_cast<uint16_t>(lowKey ^ 0x8000) - kCellOffset);
  highest = std::max<int32_t>(highest, high);
}

void TCellReader::ReadIntegerCells(int64_t count) {
  Buffer.resize(static_cast<size_t>(count * 2));
  if (Stream->Read(Buffer.data(), count * 2) < count * 2) Malformed("a CVLS field cut short");
  DecodeIntegerCells(Buffer.data(), Cells + Count, count, Info.ActualMin, Info.ActualMax);
  if (!State.Grid.RawInt16.empty())
    for (int64_t i = 0; i < count; ++i)
      State.Grid.RawInt16[static_cast<size_t>(Count + i)] =
          static_cast<int16_t>(Buffer[static_cast<size_t>(2 * i)] << 8 | Buffer[static_cast<size_t>(2 * i + 1)]);
  Count += count;
}

void TCellReader::ReadFloatCells(int64_t count) {
  // Float cells are big-endian: from now on 4-byte reals are read most
  // significant byte first.
  State.SwapFloatBytes = true;
  Buffer.resize(static_cast<size_t>(count * 4));
  if (Stream->Read(Buffer.data(), count * 4) < count * 4) Malformed("a CVLS field cut short");
  const unsigned char* b = Buffer.data();
  uint16_t* out = Cells + Count;
  const double scale = VerticalScaleOf(Info);
  float* raw = State.Grid.RawFloat.empty() ? nullptr : State.Grid.RawFloat.data() + Count;
  for (int64_t i = 0; i < count; ++i, b += 4) {
    const double value = DecodeSingle(b, State.SwapFloatBytes);
    if (raw) raw[i] = static_cast<float>(value);
    if (std::isnan(value) || value >= 9.2233720368547758e18) Fail(kInvalidOpMessage);
    out[i] = 0;
    if (value < -32765.0) continue;
    // Tenths where VerticalScale is 10: decimal transfers keep their decimals.
    const double rounded = std::nearbyint(value * scale);  // ties to even
    // The grid holds -999 to 64,535; -1000 counts and reads back as void.
    if (rounded < -kCellOffset || rounded > 64535) continue;
    TrackExtremes(static_cast<int32_t>(rounded));
    out[i] = static_cast<uint16_t>(static_cast<int32_t>(rounded) + kCellOffset);
  }
  Count += count;
}

}  // namespace

int64_t ReadCells(TConversionState& state, IProgress& progress) { return TCellReader(state, progress).Run(); }

}  // namespace veloran
