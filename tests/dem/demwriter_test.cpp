#include "dem/demwriter.h"

#include "convert/driver.h"
#include "dem/demformat.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <tuple>

#include "dem/demfields.h"
#include "dem/records.h"
#include "support/errors.h"
#include "support/numfmt.h"
#include "tests/support/locale.h"
#include "tests/support/recorder.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

const std::string kDate = "12/08/26";
constexpr double kSouth = 4999980.0;

class Writer : public ::testing::Test {
 protected:
  Writer() {
    TSdtsInfo& i = State.Info;
    i.Title = "TEST QUAD";
    i.DataId = "D1";
    i.UnitsCode = 2;
    i.VerticalScale = 1;
    i.Zone = 10;
    i.Datum = 1;
    i.SpacingX = i.SpacingY = 30.0;
    i.UpperLeftX = 600000.0;
    i.UpperLeftY = 5000090.0;
    i.SW = {599985, 4999985};
    i.NW = {599985, 5000105};
    i.NE = {600105, 5000105};
    i.SE = {600105, 4999985};
    i.ActualMin = 0;
    i.ActualMax = 0;
  }
  // Sets the grid from rows listed north first; -1 is a void cell.
  void Grid(const std::vector<std::vector<int>>& rows) {
    State.Grid.RowCount = static_cast<int32_t>(rows.size());
    State.Grid.ColCount = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    // The southern row lies at 4999980, on the 30 m lattice.
    State.Info.UpperLeftY = kSouth + 30.0 * (static_cast<double>(rows.size()) - 1);
    State.Grid.Cells.Resize(rows.size() * static_cast<size_t>(State.Grid.ColCount));
    size_t n = 0;
    for (const auto& row : rows)
      for (int e : row) State.Grid.Cells[n++] = e < 0 ? 0 : static_cast<uint16_t>(e + kCellOffset);
  }
  // A grid of one column holding `count` elevations 1, 2, 3...
  void Column(int count) {
    State.Grid.RowCount = count;
    State.Grid.ColCount = 1;
    State.Grid.Cells.Resize(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r) State.Grid.Cells[r] = static_cast<uint16_t>(count - r + kCellOffset);
  }
  // The writer's gauge as a conversion shows it: from 50 on.
  std::string Write(bool addNewLines = false) {
    TStringSink sink;
    TProgressRange written(Gauge, 50, 100);
    WriteDemRecords(State, sink, addNewLines, written, kDate);
    return sink.Bytes;
  }
  static std::string BlockOf(const std::string& bytes, int n, int stride = 1024) {
    return bytes.substr(static_cast<size_t>(n) * static_cast<size_t>(stride), 1024);
  }
  static std::string Error(const std::function<void()>& f) {
    try {
      f();
    } catch (const TConvertError& e) {
      return e.what();
    }
    return "no error";
  }
  TConversionState State;
  testing::TRecorder Gauge;
};

TEST_F(Writer, RecordAFieldByField) {
  Grid({{1, 2}, {3, 4}});
  State.Info.ActualMin = 32766;
  State.Info.ActualMax = -32765;
  const std::string a = BlockOf(Write(), 0);
  const std::string title = "TEST QUAD  D1 Belvaret STDS-DEM Conversion on 12/08/26";
  EXPECT_EQ(a.substr(0, 144), title + std::string(144 - title.size(), ' '));
  EXPECT_EQ(a.substr(144, 24), "     1     1     1    10");
  for (int p = 0; p < 15; ++p) EXPECT_EQ(a.substr(168 + 24 * p, 24), "  0.000000000000000D+000");
  EXPECT_EQ(a.substr(528, 18), "     2     2     4");
  EXPECT_EQ(a.substr(546, 48), "  5.999850000000000D+005  4.999985000000000D+006");  // SW
  EXPECT_EQ(a.substr(594, 48), "  5.999850000000000D+005  5.000105000000000D+006");  // NW
  EXPECT_EQ(a.substr(690, 48), "  6.001050000000000D+005  4.999985000000000D+006");  // SE
  EXPECT_EQ(a.substr(738, 48), "  3.276600000000000D+004 -3.276500000000000D+004");
  EXPECT_EQ(a.substr(786, 30), "  0.000000000000000D+000     1");  // record C follows
  EXPECT_EQ(a.substr(816, 36), "3.000000E+013.000000E+011.000000E+00");
  EXPECT_EQ(a.substr(852, 12), "     1     2");
  EXPECT_EQ(a.substr(864, 28), std::string(25, ' ') + "2 1");
  EXPECT_EQ(a.substr(892), std::string(1024 - 892, ' '));
}

TEST_F(Writer, EmptyTitleAndLongTitle) {
  Grid({{1}});
  State.Info.Title = "";
  State.Info.DataId = "";
  EXPECT_EQ(Write().substr(0, 2 + 33 + 8), "   Belvaret STDS-DEM Conversion on " + kDate);
  State.Info.Title = std::string(2000, 'T');
  const std::string a = BlockOf(Write(), 0);
  EXPECT_EQ(a.substr(0, 144), std::string(144, 'T'));
  EXPECT_EQ(a.substr(144, 24), "     1     1     1    10");  // later fields keep their columns
}

TEST_F(Writer, FourRowColumnWithVoids) {
  // Column 0 from north to south: void, 250, void, 200.
  Grid({{-1, 5}, {250, 5}, {-1, 5}, {200, 5}});
  const std::string b = BlockOf(Write(), 1);
  EXPECT_EQ(b.substr(0, 24), "     1     1     3     1");
  EXPECT_EQ(b.substr(24, 24), "  6.000000000000000D+005");
  EXPECT_EQ(b.substr(48, 24), "  4.999980000000000D+006");  // the southern row's northing
  EXPECT_EQ(b.substr(72, 72), "  0.000000000000000D+000  2.000000000000000D+002  2.500000000000000D+002");
  EXPECT_EQ(b.substr(144, 18), "   200-32767   250");
  EXPECT_EQ(b.substr(162), std::string(1024 - 162, ' '));
}

// Columns long enough for the vectorized extremes, with the lowest and the
// highest cell the grid holds at every position among voids and 7s.
TEST_F(Writer, ProfileExtremesAtEveryPositionOfALongColumn) {
  for (int at = 0; at < 40; ++at) {
    std::vector<std::vector<int>> rows(40);
    for (int r = 0; r < 40; ++r) rows[r] = {r % 4 == 1 ? -1 : 7, 7};
    rows[39 - at][0] = 64535;
    rows[at][1] = 64535;
    Grid(rows);
    State.Grid.Cells[static_cast<size_t>(at) * 2] = 1;  // -999: Grid() takes negatives as voids
    const std::string dem = Write();
    EXPECT_EQ(BlockOf(dem, 1).substr(96, 48), FormatD24(-999) + FormatD24(64535)) << at;
    EXPECT_EQ(BlockOf(dem, 2).substr(96, 48), FormatD24(7) + FormatD24(64535)) << at;
  }
}

TEST_F(Writer, ProfilesAreGeoreferencedAtTheirFirstElevation) {
  // Aligned grid: entry F of a column lies F spacings north of the southern row.
  Grid({{7, -1, 3}, {-1, 8, -1}, {-1, -1, -1}, {6, -1, -1}});
  const std::string dem = Write();
  const double south = kSouth;
  const struct {
    int column;
    double firstY;
    const char* count;
  } cases[] = {{0, south, "     4"}, {1, south + 60, "     1"}, {2, south + 90, "     1"}};
  for (const auto& c : cases) {
    const std::string b = BlockOf(dem, 1 + c.column);
    EXPECT_EQ(b.substr(12, 6), c.count) << c.column;
    EXPECT_EQ(b.substr(24, 24), FormatD24(600000.0 + 30.0 * c.column)) << c.column;
    EXPECT_EQ(b.substr(48, 24), FormatD24(c.firstY)) << c.column;
  }
}

TEST_F(Writer, UnalignedGridStartsFromTheCorners) {
  Grid({{-1, 1}, {2, -1}});
  State.Info.UpperLeftX = 600015.0;  // half a spacing off the lattice
  const std::string dem = Write();
  // StartX = SW.X + 30; StartY = SW.Y + 30; FirstY keeps (F - 1) spacings.
  EXPECT_EQ(BlockOf(dem, 1).substr(24, 48), FormatD24(600015.0) + FormatD24(4999985.0 + 30 - 30));
  EXPECT_EQ(BlockOf(dem, 2).substr(24, 48), FormatD24(600045.0) + FormatD24(4999985.0 + 30));
}

TEST_F(Writer, NegativeCoordinatesCountAsAligned) {
  Grid({{1}});
  State.Info.UpperLeftX = -1000.5;
  State.Info.UpperLeftY = -77.7;
  EXPECT_EQ(BlockOf(Write(), 1).substr(24, 48), FormatD24(-1000.5) + FormatD24(-77.7));
}

// A grid of tenths (VerticalScale 10): z resolution 0.1, and every
// extreme in elevation units but the void value.
TEST_F(Writer, EmptyAndSingleElevationColumns) {
  Grid({{-1, 9}, {-1, -1}});
  State.Info.VerticalScale = 10;
  State.Info.ActualMin = -5;
  State.Info.ActualMax = 12345;
  const std::string dem = Write();
  ASSERT_EQ(dem.size(), 4u * 1024);
  EXPECT_EQ(dem.substr(738, 48), " -5.000000000000000D-001  1.234500000000000D+003");
  EXPECT_EQ(dem.substr(816, 36), "3.000000E+013.000000E+011.000000E-01");
  const std::string empty = BlockOf(dem, 1);
  EXPECT_EQ(empty.substr(0, 24), "     1     1     0     1");
  EXPECT_EQ(empty.substr(96, 48), " -3.276700000000000D+004 -3.276700000000000D+004");
  EXPECT_EQ(empty.substr(144), std::string(1024 - 144, ' '));
  const std::string single = BlockOf(dem, 2);
  EXPECT_EQ(single.substr(0, 24), "     1     2     1     1");
  EXPECT_EQ(single.substr(48, 24), FormatD24(kSouth + 30));  // entry 1: one spacing north
  EXPECT_EQ(single.substr(96, 48), "  9.000000000000000D-001  9.000000000000000D-001");
  EXPECT_EQ(single.substr(144, 6), "     9");
}

TEST_F(Writer, LongProfilesTakeFurtherBlocks) {
  const struct {
    int elevations, blocks;
  } cases[] = {{146, 1}, {147, 2}, {316, 2}, {317, 3}, {1201, 8}};
  for (const auto& c : cases) {
    Column(c.elevations);
    const std::string dem = Write();
    EXPECT_EQ(dem.size(), (2u + static_cast<size_t>(c.blocks)) * 1024) << c.elevations;
    // South first: the last row of the grid holds 1.
    EXPECT_EQ(BlockOf(dem, 1).substr(144, 12), "     1     2") << c.elevations;
    if (c.blocks > 1) {
      EXPECT_EQ(BlockOf(dem, 1).substr(1014, 10), "   146    ");
      EXPECT_EQ(BlockOf(dem, 2).substr(0, 6), "   147");
    }
    std::string lastBlock = BlockOf(dem, c.blocks);
    const std::string lastValue = FormatInt(c.elevations);
    EXPECT_NE(lastBlock.find(std::string(6 - lastValue.size(), ' ') + lastValue), std::string::npos);
  }
}

TEST_F(Writer, NewLinesFollowEveryBlock) {
  Column(317);
  const std::string plain = Write(false);
  const std::string lines = Write(true);
  EXPECT_EQ(plain.size() % 1024, 0u);
  ASSERT_EQ(lines.size(), plain.size() / 1024 * 1026);
  for (size_t b = 0; b < plain.size() / 1024; ++b) {
    EXPECT_EQ(lines.substr(b * 1026, 1024), plain.substr(b * 1024, 1024));
    EXPECT_EQ(lines.substr(b * 1026 + 1024, 2), "\r\n");
  }
}

TEST_F(Writer, RecordCAndGridsWithoutElevations) {
  Grid({{7}});
  const std::string dem = Write();
  ASSERT_EQ(dem.size(), 3072u);
  std::string recordC = " ";
  for (int i = 0; i < 10; ++i) recordC += "     0";
  EXPECT_EQ(BlockOf(dem, 2), recordC + std::string(1024 - 61, ' '));
  // No rows or no columns: nothing to write, and no file either.
  for (const auto& [rows, cols] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{3, 0}}) {
    State.Grid.RowCount = rows;
    State.Grid.ColCount = cols;
    EXPECT_EQ(Error([&] { Write(); }), "The transfer holds no elevations") << rows << " x " << cols;
  }
}

TEST_F(Writer, GaugeMovesOncePerColumnFromFifty) {
  Grid({{1, 2, 3, 4}});
  Write();
  EXPECT_EQ(Gauge.Progress, (std::vector<int>{50, 63, 75, 88}));
}

TEST_F(Writer, ZeroSpacingFailsWithTheRuntimeMessage) {
  Grid({{1}});
  State.Info.SpacingX = 0;
  EXPECT_EQ(Error([&] { Write(); }), "Floating point division by zero");
  State.Info.UpperLeftX = 0;
  EXPECT_EQ(Error([&] { Write(); }), "Invalid floating point operation");
  // Aligned X, zero Y spacing in the unaligned branch.
  State.Info.SpacingX = 30;
  State.Info.UpperLeftX = 15;
  State.Info.SpacingY = 0;
  EXPECT_EQ(Error([&] { Write(); }), "Floating point division by zero");
}

TEST_F(Writer, GridsBeyondTheCellStoreAreRefused) {
  Grid({{1, 2}, {3, 4}});
  State.Grid.RowCount = 3;
  EXPECT_EQ(Error([&] { Write(); }), "A grid of 3 rows and 2 columns does not fit in the 4 cells read");
  State.Grid.RowCount = -1;
  EXPECT_NE(Error([&] { Write(); }).find("does not fit"), std::string::npos);
}

TEST(RealRemainder, SignOfTheValue) {
  EXPECT_DOUBLE_EQ(RealRemainder(600015, 30), 15);
  EXPECT_DOUBLE_EQ(RealRemainder(-600015, 30), -15);
  EXPECT_DOUBLE_EQ(RealRemainder(600000, 30), 0);
  EXPECT_DOUBLE_EQ(RealRemainder(7.5, 2.5), 0);
}

TEST(DemDateText, SourceDateEpochGivesARepeatableDate) {
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  const std::string c = DemDateText();
  std::string german;
  if (testing::UseLocale("de_DE.UTF-8")) german = DemDateText();
  testing::RestoreLocale();
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(c, "01/02/70");
  if (!german.empty()) {
    EXPECT_EQ(german, "02.01.1970");
  }
  // The last second of 9999 is the latest date; a value outside 1970 to
  // 9999 is ignored like one that is no number: today's date.
  setenv("SOURCE_DATE_EPOCH", "253402300799", 1);
  EXPECT_EQ(DemDateText(), "12/31/99");
  for (const char* ignored : {"99999999999999999", "253402300800", "-1", "1e9"}) {
    setenv("SOURCE_DATE_EPOCH", ignored, 1);
    const std::string date = DemDateText();
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(date, DemDateText()) << ignored;
  }
}

class WriterFile : public Writer {
 protected:
  testing::TTempDir Dir;
  std::string Path = Dir / "out.dem";
  std::vector<std::string> FilesInDir() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Dir.Path())) names.push_back(e.path().filename());
    return names;
  }
};

TEST_F(WriterFile, WritesTheFileAndTheSummary) {
  Grid({{-1, 5}, {250, -1}, {-1, 7}, {200, 5}});
  State.Info.SW = {599985.5, 4999985};
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  const TGridTotals totals = WriteDemFile(State, Path, false, Gauge);
  unsetenv("SOURCE_DATE_EPOCH");
  TStringSink expected;
  testing::TRecorder ignored;
  WriteDemRecords(State, expected, false, ignored, "01/02/70");
  EXPECT_EQ(testing::ReadFileBytes(Path), expected.Bytes);
  ShowDemSummary(State, totals, Gauge);
  EXPECT_EQ(Gauge.Lines, (std::vector<std::string>{
                             "Final Output USGS DEM:", "Min:           5", "Max:           250",
                             "Missing Count: 2", "Rows:          4", "Cols:          2", "   Quad Boundary ",
                             "SW 599985.5 4999985", "NW 599985 5000105", "NE 600105 5000105",
                             "SE 600105 4999985"}));
  struct stat st {};
  ASSERT_EQ(stat(Path.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(FilesInDir(), std::vector<std::string>{"out.dem"});
}

// The file is given room for every column at full length; columns whose
// ends are void take fewer blocks, and the room left over must not remain
// in the file, neither as bytes nor as disk blocks.
TEST_F(WriterFile, RoomLeftOverIsGivenBack) {
  std::vector<std::vector<int>> rows(400, std::vector<int>{7, -1, -1});
  rows[200][1] = 9;
  Grid(rows);
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  for (bool newLines : {false, true}) {
    WriteDemFile(State, Path, newLines, Gauge);
    TStringSink expected;
    WriteDemRecords(State, expected, newLines, Gauge, "01/02/70");
    const size_t blocks = 2 + 3 + 1 + 1;  // records A and C, 400 elevations, one, none
    ASSERT_EQ(expected.Bytes.size(), blocks * (newLines ? 1026 : 1024));
    EXPECT_EQ(testing::ReadFileBytes(Path), expected.Bytes) << newLines;
    struct stat st {};
    ASSERT_EQ(stat(Path.c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, (st.st_size + 4095) / 4096 * 4096) << newLines;
  }
  unsetenv("SOURCE_DATE_EPOCH");
}

// Room is never asked beyond the file size limit: the kernel would raise
// SIGXFSZ, whose default action ends the program, for a DEM that fits.
std::atomic<int> FileSizeSignals{0};
TEST_F(WriterFile, RoomStaysWithinTheFileSizeLimit) {
  std::vector<std::vector<int>> rows(400, std::vector<int>{7, -1, -1});
  Grid(rows);  // 7 blocks written, 11 at most
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limit = old;
  limit.rlim_cur = 8192;
  auto previous = std::signal(SIGXFSZ, [](int) { ++FileSizeSignals; });
  setrlimit(RLIMIT_FSIZE, &limit);
  const std::string error = Error([&] { WriteDemFile(State, Path, false, Gauge); });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(error, "no error");
  EXPECT_EQ(FileSizeSignals, 0);
  EXPECT_EQ(testing::ReadFileBytes(Path).size(), 7u * 1024);
}

TEST_F(WriterFile, NoElevationGivesTheStartingTotals) {
  Grid({{-1}});
  ShowDemSummary(State, WriteDemFile(State, Path, true, Gauge), Gauge);
  EXPECT_EQ(Gauge.Lines[1], "Min:           2147483647");
  EXPECT_EQ(Gauge.Lines[2], "Max:           -2147483648");
  EXPECT_EQ(testing::ReadFileBytes(Path).size(), 3u * 1026);
}

TEST_F(WriterFile, TargetsThatCannotBeCreated) {
  Grid({{1}});
  const std::string missing = Dir / "no/such/dir/out.dem";
  EXPECT_EQ(Error([&] { WriteDemFile(State, missing, false, Gauge); }),
            "Cannot create file " + missing + ": No such file or directory");
  std::filesystem::create_directory(Path);
  EXPECT_EQ(Error([&] { WriteDemFile(State, Path, false, Gauge); }), "Cannot create file " + Path + ": Is a directory");
  EXPECT_TRUE(Gauge.Lines.empty());
  EXPECT_TRUE(Gauge.Progress.empty());
}

TEST_F(WriterFile, AFailedWriteLeavesTheExistingFileAsItWas) {
  testing::WriteFileBytes(Path, "previous DEM");
  // A zero spacing fails after the temporary file is created.
  Grid({{1}});
  State.Info.SpacingX = 0;
  EXPECT_EQ(Error([&] { WriteDemFile(State, Path, false, Gauge); }), "Floating point division by zero");
  EXPECT_EQ(testing::ReadFileBytes(Path), "previous DEM");
  EXPECT_EQ(FilesInDir(), std::vector<std::string>{"out.dem"});
  EXPECT_TRUE(Gauge.Lines.empty());

  // A write refused by the system (a file size limit stands in for a full disk).
  State.Info.SpacingX = 30;
  Column(1200);
  State.Grid.ColCount = 1;
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 2048;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::vector<uint16_t> big(2000 * 2000, 1001);
  State.Grid.Cells.Resize(big.size());
  std::copy(big.begin(), big.end(), State.Grid.Cells.get());
  State.Grid.RowCount = 2000;
  State.Grid.ColCount = 2000;
  const std::string error = Error([&] { WriteDemFile(State, Path, false, Gauge); });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(error, "Cannot write file " + Path + ": File too large");
  EXPECT_EQ(testing::ReadFileBytes(Path), "previous DEM");
  EXPECT_EQ(FilesInDir(), std::vector<std::string>{"out.dem"});
}

TEST_F(WriterFile, SameBytesUnderACommaLocale) {
  Grid({{-1, 5}, {250, -1}});
  State.Info.SpacingX = 30.5;
  State.Info.SW.X = 599985.25;
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  const std::string c = Write();
  WriteDemFile(State, Path, false, Gauge);
  const std::string cFile = testing::ReadFileBytes(Path);
  if (!testing::UseLocale("de_DE.UTF-8")) {
    unsetenv("SOURCE_DATE_EPOCH");
    GTEST_SKIP() << "de_DE.UTF-8 cannot be built here";
  }
  const std::string german = Write(false);
  testing::RestoreLocale();
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(german, c);
  EXPECT_EQ(cFile.substr(144), c.substr(144));  // the file is what the records give, date aside
  EXPECT_NE(c.find("5.999852500000000D+005"), std::string::npos);
}

}  // namespace
}  // namespace veloran
