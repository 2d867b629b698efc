#include "sdts/cells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "sdts/metadata.h"
#include "sdts/moduleset.h"
#include "support/errors.h"
#include "tests/support/recorder.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

using testing::TTransferSpec;

class Cells : public ::testing::Test {
 protected:
  // The reader's gauge as a conversion shows it: to 50.
  void Read(const TTransferSpec& spec) {
    Write(spec);
    TProgressRange read(Gauge, 0, 50);
    ReadCells(State, read);
  }
  void Write(const TTransferSpec& spec) {
    CellPath = testing::WriteTransfer(Dir.Path(), spec);
    SplitCellFileName(State.ModuleSet, CellPath);
    ReadDdsh(State);
    ReadLdef(State);
  }
  std::string Error() {
    try {
      ReadCells(State, Gauge);
    } catch (const TConvertError& e) {
      return e.what();
    }
    return "no error";
  }
  std::vector<int> CellsFrom(int first, int count) const {
    return std::vector<int>(State.Grid.Cells.get() + first, State.Grid.Cells.get() + first + count);
  }
  testing::TTempDir Dir;
  TConversionState State;
  testing::TRecorder Gauge;
  std::string CellPath;
};

TEST_F(Cells, SixteenBitCellsAndThreshold) {
  TTransferSpec spec;
  spec.Rows = {{1000, 0, -1000, -1001, -32767}};
  Read(spec);
  EXPECT_EQ(CellsFrom(0, 5), (std::vector<int>{2000, 1000, 0, 0, 0}));
  EXPECT_EQ(State.Info.ActualMin, -1000);
  EXPECT_EQ(State.Info.ActualMax, 1000);
  EXPECT_FALSE(State.SwapFloatBytes);
  spec.Rows = {{32767, -999, 0}};
  Read(spec);
  EXPECT_EQ(CellsFrom(0, 3), (std::vector<int>{33767, 1, 1000}));
}

// Rows long enough for the vectorized decode: each extreme is tried at
// every position of a 40-cell row of voids, -1001, 100 and one 500.
TEST_F(Cells, SixteenBitExtremesAtEveryPositionOfALongRow) {
  struct Case {
    int16_t Extreme;
    int32_t Min, Max;
  };
  for (const Case& c : {Case{-1000, -1000, 500}, Case{-999, -999, 500}, Case{32767, 100, 32767}}) {
    for (int at = 0; at < 40; ++at) {
      std::vector<int16_t> row(40);
      for (int i = 0; i < 40; ++i) row[i] = i % 3 == 0 ? -32767 : i % 3 == 1 ? -1001 : 100;
      row[39 - at] = 500;
      row[at] = c.Extreme;
      TTransferSpec spec;
      spec.Rows = {row};
      Read(spec);
      EXPECT_EQ(State.Info.ActualMin, c.Min) << c.Extreme << " at " << at;
      EXPECT_EQ(State.Info.ActualMax, c.Max) << c.Extreme << " at " << at;
      std::vector<int> expected;
      for (int16_t v : row) expected.push_back(v >= -1000 ? v + 1000 : 0);
      EXPECT_EQ(CellsFrom(0, 40), expected) << c.Extreme << " at " << at;
    }
  }
  TTransferSpec voids;
  voids.Rows = {std::vector<int16_t>(40, -1001)};
  Read(voids);
  EXPECT_EQ(State.Info.ActualMin, 32766);
  EXPECT_EQ(State.Info.ActualMax, -32765);
}

// Float cells in feet are whole feet; in metres, tenths (VerticalScale 10),
// rounded after scaling, ties to even either way; the range check applies
// to the scaled value: -999 to 64,535 whole feet, -99.9 to 6,453.5 metres.
TEST_F(Cells, FloatCellsScaledRoundedAndKeptInRange) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* Unit;
    std::vector<float> In;
    std::vector<int> Cells;
    int Min, Max;
  } cases[] = {
      {"FEET", {1234.5f, 1235.5f, -0.5f, -32766.0f, 2.5f, 3.5f, -2.5f}, {2234, 2236, 1000, 0, 1002, 1004, 998}, -2, 1236},
      {"METERS", {9.5f, 0.25f, 0.75f, -0.25f, 1234.5f, 100.1f, -32767.0f}, {1095, 1002, 1008, 998, 13345, 2001, 0}, -2,
       12345},
      {"FEET", {-2000.0f, -1000.0f, 64535.0f, 64536.0f, 1e10f, -inf, -32765.0f, -999.4f, 100.25f},
       {0, 0, 65535, 0, 0, 0, 0, 1, 1100}, -1000, 64535},  // -1000 counts, as in the 16-bit path
      {"METERS", {-200.0f, -100.0f, 6453.5f, 6453.6f, 1e10f, -inf, -32765.0f, -99.94f, 10.025f},
       {0, 0, 65535, 0, 0, 0, 0, 1, 1100}, -1000, 64535},
  };
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.Fmt = "BFP32";
    spec.Unit = c.Unit;
    spec.FloatRows = {c.In};
    Read(spec);
    EXPECT_EQ(CellsFrom(0, static_cast<int>(c.Cells.size())), c.Cells) << c.Unit;
    EXPECT_EQ(State.Info.ActualMin, c.Min) << c.Unit;
    EXPECT_EQ(State.Info.ActualMax, c.Max) << c.Unit;
    EXPECT_TRUE(State.SwapFloatBytes);
  }
}

TEST_F(Cells, NotANumberAndHugeFloatsFail) {
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f}) {
    TTransferSpec spec;
    spec.Fmt = "BFP32";
    spec.FloatRows = {{1.0f, bad}};
    Write(spec);
    EXPECT_EQ(Error(), "Invalid floating point operation in " + CellPath) << bad;
  }
}

TEST_F(Cells, NoElevationLeavesTheStartingExtremes) {
  TTransferSpec spec;
  spec.Rows = {{-32767, -32766}, {-5000, -1001}};
  Read(spec);
  EXPECT_EQ(State.Info.ActualMin, 32766);
  EXPECT_EQ(State.Info.ActualMax, -32765);
}

TEST_F(Cells, BothRecordWalksFillTheGridRowAfterRow) {
  for (bool repeat : {false, true}) {
    TTransferSpec spec;
    spec.RepeatRecords = repeat;
    spec.Rows.clear();
    for (int r = 0; r < 10; ++r) spec.Rows.push_back({static_cast<int16_t>(r * 10), static_cast<int16_t>(r * 10 + 1), 7});
    Read(spec);
    for (int r = 0; r < 10; ++r)
      EXPECT_EQ(CellsFrom(r * 3, 3), (std::vector<int>{1000 + r * 10, 1001 + r * 10, 1007})) << repeat << r;
    EXPECT_EQ(State.Info.ActualMax, 91);
    // One gauge value per record, rising to 50 for a file of 100 bytes or more.
    ASSERT_EQ(Gauge.Progress.size(), 10u) << repeat;
    EXPECT_TRUE(std::is_sorted(Gauge.Progress.begin(), Gauge.Progress.end()));
    EXPECT_EQ(Gauge.Progress.back(), 50);
    Gauge.Progress.clear();
  }
}

// Each record lands at the row its CELL field names, in either walk; a row
// outside the grid, named twice, or a record not starting at the first
// column is refused, naming the module.
TEST_F(Cells, RecordsLandAtTheRowTheirCellFieldNames) {
  const struct {
    std::vector<std::string> Numbers;
    std::string Column;
    std::string Error;  // empty: read, rows in the order Numbers gives
  } cases[] = {
      {{"4", "3", "2", "1"}, "1", ""},
      {{"00003", "00001", "00004", "00002"}, "00001", ""},
      {{"1", "0", "2", "3"}, "1", "record 2 names row 0, outside the 4 rows of LDEF"},
      {{"1", "2", "1", "3"}, "1", "record 3 names row 1, as record 1 does"},
      {{"1", "x", "2", "3"}, "1", "record 2 has no row number (CELL ROWI)"},
      {{"1", "2", "3", "4"}, "2", "record 1 starts at column 2, not at the grid's first column 1"},
  };
  for (const bool repeat : {false, true})
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Numbers[0] + c.Numbers[1] + c.Numbers[2] + c.Numbers[3] + " " + c.Column);
      TTransferSpec spec;
      spec.RepeatRecords = repeat;
      spec.RowNumbers = c.Numbers;
      spec.FirstColumn = c.Column;
      Write(spec);
      State.Grid.Cells.Resize(16);
      std::fill_n(State.Grid.Cells.get(), 16, uint16_t{0});
      if (!c.Error.empty()) {
        EXPECT_EQ(Error(), "The cell module " + CellPath + " is malformed: " + c.Error);
        continue;
      }
      ASSERT_EQ(Error(), "no error");
      for (size_t record = 0; record < 4; ++record) {
        const int row = std::stoi(c.Numbers[record]) - 1;
        EXPECT_EQ(CellsFrom(row * 4, 4), (std::vector<int>{1010 + static_cast<int>(record), 1020 + static_cast<int>(record),
                                                           1030 + static_cast<int>(record), 1040 + static_cast<int>(record)}))
            << record;
      }
      EXPECT_EQ(State.Grid.RowsRead.load(), 4);
    }
}

TEST_F(Cells, LowerCaseTransferIsFound) {
  TTransferSpec spec;
  spec.LowerCaseNames = true;
  spec.Unit = "FEET";
  Read(spec);
  EXPECT_EQ(CellPath, Dir.Path() + "/1234cel0.ddf");
  EXPECT_EQ(State.Info.UnitsCode, 1);
  EXPECT_EQ(CellsFrom(0, 2), (std::vector<int>{1010, 1020}));
}

TEST_F(Cells, GaugeFollowsThePositionInTheFile) {
  TTransferSpec spec;
  spec.Rows = {std::vector<int16_t>(1000, 1), std::vector<int16_t>(1000, 2)};
  Read(spec);
  const double size = static_cast<double>(testing::ReadFileBytes(CellPath).size());
  ASSERT_EQ(Gauge.Progress.size(), 2u);
  // The first record ends just before the FT of its CVLS field, about half way.
  EXPECT_NEAR(Gauge.Progress[0], 50.0 * (size / 2) / size, 1.0);
  EXPECT_EQ(Gauge.Progress[1], static_cast<int>(std::nearbyint(50.0 * (size - 1) / size)));
}

TEST_F(Cells, AFieldReachingBeyondTheFileIsMalformed) {
  TTransferSpec spec;
  spec.Rows = {{1, 2}, {3, 4, 5}};
  Write(spec);
  const std::string whole = testing::ReadFileBytes(CellPath);
  std::string bytes = whole;
  bytes.resize(bytes.size() - 4);  // drops the FT, cell 5 and the low byte of cell 4
  testing::WriteFileBytes(CellPath, bytes);
  const std::string message = Error();
  EXPECT_EQ(message.rfind("The file " + CellPath + " is malformed: the field CVLS of the record at byte ", 0), 0u)
      << message;
}

TEST_F(Cells, MalformedModulesFailWithClearMessages) {
  TTransferSpec spec;
  Write(spec);
  const std::string cel0 = Dir.Path() + "/1234CEL0.DDF";

  // No CVLS in the first record.
  testing::TDdfWriter noCvls({{"CELL", "CELL", "MODN!RCID", "(A,I)"}});
  noCvls.Record({{"CELL", testing::Text({"CEL0", "1"})}});
  noCvls.WriteFile(cel0);
  EXPECT_EQ(Error(), "The cell module " + cel0 + " has no CVLS field in its first record");
  EXPECT_EQ(State.Info.ActualMin, 32766);

  // A module with a descriptive record only.
  testing::WriteFileBytes(cel0, noCvls.Ddr());
  EXPECT_EQ(Error(), "The cell module " + cel0 + " has no CVLS field in its first record");

  // A grid of one row of one cell.
  State.Grid.RowCount = 1;
  State.Grid.ColCount = 1;
  // An "R" record whose CVLS field is empty and first: the walk would stand still.
  testing::TDdfWriter still({{"CVLS", "CELL VALUES", "ELEVATION", "(B(16))"}});
  still.Record({{"CVLS", ""}}, 'R').Raw("xxxx");
  still.WriteFile(cel0);
  EXPECT_EQ(Error(), "The cell module " + cel0 + " is malformed: record 1 holds 0 cells, but LDEF declares 1 columns");
  State.Grid.RowCount = 2;

  // A later record whose CVLS field lies before its own start.
  testing::TDdfWriter back({{"CVLS", "CELL VALUES", "ELEVATION", "(B(16))"}});
  std::string second = testing::MakeRecord({{"CVLS", testing::Int16Cells({5})}}, 'D', 4, 5, 4);
  second.replace(24 + 8, 5, "-9999");
  back.Record({{"CVLS", testing::Int16Cells({1})}}).Raw(second);
  back.WriteFile(cel0);
  EXPECT_NE(Error().find("reaches beyond its record"), std::string::npos);
  EXPECT_EQ(State.Grid.Cells[0], 1001);

  // A later leader that is not well formed.
  back = testing::TDdfWriter({{"CVLS", "CELL VALUES", "ELEVATION", "(B(16))"}});
  back.Record({{"CVLS", testing::Int16Cells({1})}}).Raw("0003x D");
  back.WriteFile(cel0);
  EXPECT_EQ(Error(), "'0003x' is not a valid integer value in " + cel0);
}

}  // namespace
}  // namespace veloran
