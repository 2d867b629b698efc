#include "convert/driver.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>

#include "support/errors.h"
#include "tests/support/convert.h"
#include "tests/support/recorder.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

using testing::TTransferSpec;

class Driver : public ::testing::Test {
 protected:
  std::string Error(const std::function<void()>& f) {
    try {
      f();
    } catch (const TConvertError& e) {
      return e.what();
    }
    return "no error";
  }
  testing::TTempDir Dir;
  TConversionState State;
  testing::TRecorder Pane;
};

TEST_F(Driver, ProposesTheTitleAsTheDemName) {
  const struct {
    const char* title;
    const char* name;
  } cases[] = {{"CASCADE", "CASCADE.dem"},
               {"", "New.dem"},
               {"PEAK  ", "PEAK  .dem"},
               // A plain visible file name in the chosen folder, whatever the title holds.
               {"A/B\\C", "A_B_C.dem"},
               {"..", "__.dem"},
               {".", "_.dem"},
               {"..x.y", "__x.y.dem"},
               {"RED\x1B[31m\tX\x7F", "RED_[31m_X_.dem"},
               {"MONT \xC3\x89TOILE", "MONT \xC3\x89TOILE.dem"}};
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.Title = c.title;
    const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
    EXPECT_EQ(testing::DefaultDemName(cell), c.name);
  }
  // A long title is cut on a character boundary: room for " (NN).dem".
  TTransferSpec spec;
  spec.Title = std::string(244, 'a') + "\xC3\x89" + std::string(20, 'b');
  EXPECT_EQ(testing::DefaultDemName(testing::WriteTransfer(Dir.Path(), spec)), std::string(244, 'a') + ".dem");
  std::filesystem::remove(Dir / "1234IDEN.DDF");
  EXPECT_EQ(Error([&] { testing::DefaultDemName(Dir / "1234CEL0.DDF"); }),
            "The transfer 1234 in " + Dir.Path() + " is incomplete: its IDEN module (" + Dir.Path() +
                "/1234IDEN.DDF) is missing");
  // A cell file that does not exist never leads to a sibling transfer.
  EXPECT_EQ(Error([&] { testing::DefaultDemName(Dir / "1234CEL0.DDF.old"); }),
            "Cannot open file " + Dir.Path() + "/1234CEL0.DDF.old: No such file or directory");
}

TEST_F(Driver, ConvertsAndReports) {
  TTransferSpec spec;
  spec.Title = "CASCADE";
  spec.Sfax = "0.5";
  spec.Xhrs = "0.00001";
  spec.Yhrs = "30";
  spec.SadrX = "1200000.7";
  spec.Hdat = "WGS84";
  spec.Corners = {"599985.25", "4999895", "599985", "5000015", "600105", "5000015", "600105", "4999895"};
  spec.Rows = {{10, -32767, 30}, {11, 21, 31}};
  spec.Nrow = "2";
  spec.Ncol = "3";
  const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
  Pane.Lines = {"old line"};
  testing::ConvertDem(State, cell, Dir / "out.dem", true, Pane);
  EXPECT_EQ(Pane.Clears, 1);
  const std::vector<std::string> report(Pane.Lines.begin(), Pane.Lines.begin() + 32);
  EXPECT_EQ(report, (std::vector<std::string>{
                        "Units: Meters", "Vertical Scale: 1", "Title: CASCADE", "Scale: 24000",
                        "Data ID DAID: DAID-1", "Date (DCDT): 19990101", "Void Value: -32767",
                        "Fill Value: -32766", "Min Elevation: 100", "Max Elevation: 2000",
                        "Actual Min Elevation: 10", "Actual Max Elevation: 31", "Scale Factors: 0.5,1",
                        "Origins: 0,0", "Horizon Res: 1E-5,30", "Ref Sys Name: UTM", "UTM Szone: 10",
                        "Datum: 3", "SADR X: 1200000.7", "SADR Y: 5000000", "UpperLX: 600000.35",
                        "UpperLY: 5000000", "SW.X: 599985.25", "SW.Y: 4999895", "NW.X: 599985",
                        "NW.Y: 5000015", "NE.X: 600105", "NE.Y: 5000015", "SE.X: 600105", "SE.Y: 4999895",
                        "Row Count: 2", "Col Count: 3"}));
  ASSERT_EQ(Pane.Lines.size(), 43u);
  EXPECT_EQ(Pane.Lines[32], "Final Output USGS DEM:");
  EXPECT_EQ(Pane.Lines[35], "Missing Count: 0");
  EXPECT_EQ(Pane.Lines[39], "SW 599985.25 4999895");
  // The gauge starts at 0, the cell reader takes it to 50, the writer on.
  ASSERT_GE(Pane.Progress.size(), 6u);
  EXPECT_EQ(Pane.Progress.front(), 0);
  EXPECT_EQ(Pane.Progress[2], 50);
  EXPECT_EQ(std::vector<int>(Pane.Progress.end() - 3, Pane.Progress.end()), (std::vector<int>{50, 67, 83}));
  // "Add New Lines" reached the writer.
  EXPECT_EQ(std::filesystem::file_size(Dir / "out.dem") % 1026, 0u);
  testing::ConvertDem(State, cell, Dir / "out.dem", false, Pane);
  EXPECT_EQ(std::filesystem::file_size(Dir / "out.dem") % 1024, 0u);
}

// X and Y differ in spacing and scale factor: each reaches its own field.
TEST_F(Driver, XAndYKeepTheirOwnSpacingAndScale) {
  TTransferSpec spec;
  spec.Xhrs = "30";
  spec.Yhrs = "10";
  spec.Sfax = "0.5";
  spec.Sfay = "2";
  spec.SadrX = "1200000";  // 600,000 m east
  spec.SadrY = "2500000";  // 5,000,000 m north
  testing::ConvertDem(State, testing::WriteTransfer(Dir.Path(), spec), Dir / "xy.dem", false, Pane);
  EXPECT_EQ(Pane.Lines[12], "Scale Factors: 0.5,2");
  EXPECT_EQ(Pane.Lines[14], "Horizon Res: 30,10");
  EXPECT_EQ(Pane.Lines[20], "UpperLX: 600000");
  EXPECT_EQ(Pane.Lines[21], "UpperLY: 5000000");
  const std::string dem = testing::ReadFileBytes(Dir / "xy.dem");
  EXPECT_EQ(dem.substr(816, 24), "3.000000E+011.000000E+01");  // record A: x, then y resolution
  // Profiles step east by the x spacing and start 3 y spacings south of the top row.
  for (int c = 0; c < 4; ++c) {
    const std::string profile = dem.substr(1024 * (c + 1), 72);
    EXPECT_EQ(profile.substr(24, 48), "  6.000" + std::to_string(c * 3) + "00000000000D+005  4.999970000000000D+006") << c;
  }
}

TEST_F(Driver, MetadataFailureLeavesThePaneEmpty) {
  const std::string cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  testing::WriteFileBytes(Dir / "1234DDSH.DDF", "");
  Pane.Lines = {"previous report"};
  EXPECT_EQ(Error([&] { testing::ConvertDem(State, cell, Dir / "out.dem", false, Pane); }),
            "The file " + Dir / "1234DDSH.DDF" + " is malformed: it is empty");
  EXPECT_TRUE(Pane.Lines.empty());
  EXPECT_FALSE(std::filesystem::exists(Dir / "out.dem"));
}

// Any file of a transfer selects it: its catalog, its cell module or
// another module, also when the catalog names files that do not follow the
// prefix rule; what is no module, or an incomplete transfer, says so.
TEST_F(Driver, AnyFileOfATransferSelectsIt) {
  TTransferSpec named;
  named.FileNames = {{"CATD", "catalog.ddf"}, {"CEL0", "cells.ddf"}, {"IDEN", "ident.ddf"}, {"LDEF", "LAYER.DDF"}};
  const struct {
    TTransferSpec Spec;
    const char* Chosen;
    const char* Error;  // after the folder's path and "/", or "" when it converts
  } cases[] = {
      {TTransferSpec{}, "1234CEL0.DDF", ""},
      {TTransferSpec{}, "1234CATD.DDF", ""},
      {TTransferSpec{}, "1234IDEN.DDF", ""},
      {TTransferSpec{}, "1234LDEF.DDF", ""},
      {named, "catalog.ddf", ""},
      {named, "ident.ddf", ""},
      {named, "cells.ddf", ""},
      {named, "1234DDSH.DDF", ""},
      {TTransferSpec{}, "README.DDF", "README.DDF is not a module of an SDTS transfer"},
      {TTransferSpec{}, "picture.png", "picture.png is not a module of an SDTS transfer"},
  };
  testing::TTempDir reference;
  testing::ConvertDem(State, testing::WriteTransfer(reference.Path(), TTransferSpec{}), reference / "ref.dem", false, Pane);
  const std::string expected = testing::ReadFileBytes(reference / "ref.dem");
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  for (const auto& c : cases) {
    testing::TTempDir dir;
    testing::WriteTransfer(dir.Path(), c.Spec);
    testing::WriteFileBytes(dir / "README.DDF", "Readme of the transfer");
    testing::WriteFileBytes(dir / "picture.png", "\x89PNG");
    const std::string error = Error([&] { testing::ConvertDem(State, dir / c.Chosen, dir / "out.dem", false, Pane); });
    if (*c.Error) {
      EXPECT_EQ(error, dir.Path() + "/" + c.Error) << c.Chosen;
      continue;
    }
    EXPECT_EQ(error, "no error") << c.Chosen;
    EXPECT_EQ(testing::DefaultDemName(dir / c.Chosen), "TEST QUAD.dem") << c.Chosen;
    EXPECT_EQ(testing::ReadFileBytes(dir / "out.dem").size(), expected.size()) << c.Chosen;
  }
  // A transfer of four modules.
  testing::TTempDir dir;
  testing::WriteTransfer(dir.Path(), TTransferSpec{});
  for (const char* code : {"DDSH", "DDOM", "IREF", "XREF", "RSDF"}) std::filesystem::remove(dir / ("1234" + std::string(code) + ".DDF"));
  EXPECT_EQ(Error([&] { testing::DefaultDemName(dir / "1234CATD.DDF"); }),
            "The transfer 1234 in " + dir.Path() + " is incomplete: its DDSH module (" + dir.Path() +
                "/1234DDSH.DDF) is missing");
  unsetenv("SOURCE_DATE_EPOCH");
}

// A georeference that cannot be read is refused, naming the module and the
// field, never read as 0; so is a module file the catalog names that holds
// another module.
TEST_F(Driver, DamagedGeoreferenceIsRefused) {
  const struct {
    std::function<void(TTransferSpec&)> Spec;
    const char* Module;  // the file named, "" for the module's own
    const char* Error;   // after "The file FILE "
  } cases[] = {
      {[](TTransferSpec& s) { s.Xhrs = ""; }, "IREF", "is malformed: IREF XHRS is missing"},
      {[](TTransferSpec& s) { s.Yhrs = "0"; }, "IREF", "is malformed: IREF YHRS is '0', not a positive number"},
      {[](TTransferSpec& s) { s.Yhrs = "30m"; }, "IREF", "is malformed: IREF YHRS is '30m', not a positive number"},
      {[](TTransferSpec& s) { s.Sfax = "0"; }, "IREF", "is malformed: IREF SFAX is '0', not a number other than 0"},
      {[](TTransferSpec& s) { s.Yorg = "north"; }, "IREF", "is malformed: IREF YORG is 'north', not a number"},
      {[](TTransferSpec& s) { s.SadrX = ""; }, "RSDF", "is malformed: RSDF SADR X is missing"},
      {[](TTransferSpec& s) { s.SadrY = "5000000,5"; }, "RSDF", "is malformed: RSDF SADR Y is '5000000,5', not a number"},
      // The catalog's entry names the file of another module.
      {[](TTransferSpec& s) { s.FileNames = {{"IREF", "1234XREF.DDF"}, {"XREF", "OTHER.DDF"}}; }, "XREF",
       "is not the IREF module of the transfer: it has no IREF field"},
      {[](TTransferSpec& s) { s.FileNames = {{"RSDF", "1234LDEF.DDF"}, {"LDEF", "OTHER.DDF"}}; }, "LDEF",
       "is not the RSDF module of the transfer: it has no RSDF field"},
  };
  for (const auto& c : cases) {
    testing::TTempDir dir;
    TTransferSpec spec;
    c.Spec(spec);
    const std::string cell = testing::WriteTransfer(dir.Path(), spec);
    if (!spec.FileNames.empty())
      std::filesystem::copy(dir / "OTHER.DDF", dir / ("1234" + std::string(c.Module) + ".DDF"),
                            std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(Error([&] { testing::ConvertTo(State, cell, dir / "out.tif", "gtiff", Pane); }),
              "The file " + dir / ("1234" + std::string(c.Module) + ".DDF") + " " + c.Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.tif"));
  }
  // The title comes from an IDEN module only.
  TTransferSpec spec;
  spec.FileNames = {{"IDEN", "T.DDF"}};
  const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
  std::filesystem::copy(Dir / "1234XREF.DDF", Dir / "T.DDF", std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Error([&] { testing::DefaultDemName(cell); }),
            "The file " + Dir / "T.DDF" + " is not the IDEN module of the transfer: it has no IDEN field");
}

// The catalog picks the modules whatever its length and the case of its
// names, and a stale module named by the prefix rule is not read; in a
// folder holding a transfer in capitals and one unpacked in lower case, the
// chosen file's case picks its own transfer's modules.
TEST_F(Driver, EveryCatalogEntryInAnyCase) {
  auto datumOf = [&](const std::string& chosen) {
    testing::ReadChosen(State, chosen, Pane);
    return State.Info.DatumName;
  };
  for (const auto& [padding, lower] : {std::pair{0, true}, std::pair{17, false}, std::pair{25, true}}) {
    testing::TTempDir dir, stale;
    TTransferSpec spec;
    spec.Hdat = "NAX";
    spec.FileNames = {{"XREF", "X83.DDF"}};
    spec.CatalogPadding = padding;
    spec.LowerCaseCatalogNames = lower;
    const std::string cell = testing::WriteTransfer(dir.Path(), spec);
    testing::WriteTransfer(stale.Path(), TTransferSpec{});  // NAS
    std::filesystem::copy(stale / "1234XREF.DDF", dir / "1234XREF.DDF");
    EXPECT_EQ(datumOf(cell), "NAX") << padding;
    EXPECT_EQ(datumOf(dir / "1234CATD.DDF"), "NAX") << padding;
  }
  // Upper-case names beside a lower-case copy of another transfer whose
  // catalog, as USGS wrote it, names its files in capitals.
  testing::TTempDir stage;
  TTransferSpec other;
  other.Title = "LOWER";
  testing::WriteTransfer(stage.Path(), other);
  testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  for (const auto& e : std::filesystem::directory_iterator(stage.Path())) {
    std::string name = e.path().filename();
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::filesystem::copy(e.path(), Dir / name);
  }
  for (const char* chosen : {"1234cel0.ddf", "1234catd.ddf", "1234iden.ddf", "1234CEL0.DDF", "1234CATD.DDF"}) {
    testing::ReadChosen(State, Dir / chosen, Pane);
    EXPECT_EQ(State.Info.Title, std::islower(chosen[4]) ? "LOWER" : "TEST QUAD") << chosen;
    EXPECT_EQ(testing::DefaultDemName(Dir / chosen), State.Info.Title + ".dem") << chosen;
  }
}

// A GeoTIFF's summary tells the file written: its extremes in the
// transfer's own units (tenths kept), its cells without data, its levels.
TEST_F(Driver, GeoTiffSummaryTellsTheFileWritten) {
  const std::string data = VELORAN_SOURCE_DIR "/tests/data/";
  const struct {
    const char* Cell;
    const char* Format;
    std::vector<std::string> Summary;  // the lines before the quadrangle's
  } cases[] = {
      {"cape-canaveral-9838/9838CEL0.DDF", "cog",
       {"Final Output Cloud Optimized GeoTIFF:", "Min:           0 m", "Max:           9.5 m", "No Data Count: 1120",
        "Rows:          463", "Cols:          409", "Levels:        1"}},
      {"mount-tabor-7974/7974CEL0.DDF", "cog",
       {"Final Output Cloud Optimized GeoTIFF:", "Min:           2 ft", "Max:           646 ft",
        "No Data Count: 15494", "Rows:          1394", "Cols:          983", "Levels:        3"}},
      {"oregon-basin-8821/8821CEL0.DDF", "gtiff",
       {"Final Output GeoTIFF:", "Min:           1520 m", "Max:           1826 m", "No Data Count: 7981",
        "Rows:          471", "Cols:          343", "Levels:        1"}},
  };
  for (const auto& c : cases) {
    testing::ConvertTo(State, data + c.Cell, Dir / "out.tif", c.Format, Pane);
    ASSERT_EQ(Pane.Lines.size(), 32u + 12u) << c.Cell;
    EXPECT_EQ(std::vector<std::string>(Pane.Lines.begin() + 32, Pane.Lines.begin() + 39), c.Summary);
  }
}

TEST_F(Driver, WriterFailureKeepsTheReportAndLeavesNoDem) {
  const std::string cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  const std::string dem = Dir / "missing/out.dem";
  EXPECT_EQ(Error([&] { testing::ConvertDem(State, cell, dem, false, Pane); }),
            "Cannot create file " + dem + ": No such file or directory");
  EXPECT_EQ(Pane.Lines.size(), 32u);
  EXPECT_FALSE(std::filesystem::exists(dem));
}

// Every conversion starts from the start-up state: a value that a module
// lacks never comes from the transfer converted before.
TEST_F(Driver, NothingOfOneConversionReachesTheNext) {
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  TTransferSpec a;
  a.Title = "A";
  a.Hdat = "NAX";
  a.Rows = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  TTransferSpec b;
  b.Prefix = "5678";
  b.Title = "B";
  b.Hdat = "OTHER";          // no known datum
  b.Domain = {{1, "-5"}};    // no fill, minimum or maximum
  b.Fmt = "BFP32";
  b.Nrow = "1";
  b.FloatRows = {{40, 41, 42, 43}};
  const std::string cellA = testing::WriteTransfer(Dir.Path(), a);
  const std::string cellB = testing::WriteTransfer(Dir.Path(), b);

  auto convertAlone = [&](const std::string& cell, const std::string& dem) {
    TConversionState state;
    testing::TRecorder pane;
    testing::ConvertDem(state, cell, dem, false, pane);
    return std::make_pair(pane.Lines, testing::ReadFileBytes(dem));
  };
  const auto aloneA = convertAlone(cellA, Dir / "a.dem");
  const auto aloneB = convertAlone(cellB, Dir / "b.dem");
  EXPECT_NE(aloneA.second, aloneB.second);
  for (const auto& order : {std::vector<std::string>{cellA, cellB}, std::vector<std::string>{cellB, cellA}}) {
    for (const std::string& cell : order) {
      testing::ConvertDem(State, cell, Dir / "shared.dem", false, Pane);
      const auto& alone = cell == cellA ? aloneA : aloneB;
      EXPECT_EQ(Pane.Lines, alone.first) << cell;
      EXPECT_TRUE(testing::ReadFileBytes(Dir / "shared.dem") == alone.second) << cell;
    }
  }
  // A (4 x 4) was converted last; B's grid is 1 x 4: the cells A stored
  // are back at their start-up 0.
  testing::ConvertDem(State, cellB, Dir / "shared.dem", false, Pane);
  EXPECT_EQ(State.Grid.CellsStored, 4);
  for (int i = 4; i < 16; ++i) EXPECT_EQ(State.Grid.Cells[static_cast<size_t>(i)], 0) << i;
  unsetenv("SOURCE_DATE_EPOCH");
}

// The DEM path is compared, after following links, with every file of the
// transfer: none of them is ever written over.
TEST_F(Driver, NeverWritesOverAFileOfTheTransfer) {
  TTransferSpec spec;
  spec.LowerCaseNames = true;
  const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
  std::filesystem::create_symlink(Dir / "1234iden.ddf", Dir / "link.dem");
  std::filesystem::create_hard_link(Dir / "1234ldef.ddf", Dir / "hard.dem");
  for (const std::string& target : std::vector<std::string>{cell, Dir / "1234ddsh.ddf", Dir / "1234catd.ddf", Dir / "link.dem",
                                   Dir / "hard.dem", Dir.Path() + "/./1234cel0.ddf"}) {
    const std::string before = testing::ReadFileBytes(target);
    const std::string message = Error([&] { testing::ConvertDem(State, cell, target, false, Pane); });
    EXPECT_EQ(message.rfind("Cannot create file " + target + ": it is ", 0), 0u) << message;
    EXPECT_TRUE(testing::ReadFileBytes(target) == before) << target;
  }
  testing::ConvertDem(State, cell, Dir / "1234other.dem", false, Pane);  // a new file beside them is fine
}

// The grid is sized to the transfer: beyond the 2000 x 2000 of old, and
// one row or one column long.
TEST_F(Driver, GridsOfAnySize) {
  const struct {
    int Rows, Cols;
  } cases[] = {{2100, 2100}, {1, 5000}, {5000, 1}};
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.RepeatRecords = true;
    spec.Rows.assign(static_cast<size_t>(c.Rows), std::vector<int16_t>(static_cast<size_t>(c.Cols), 7));
    spec.Rows.back().back() = 9;
    const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
    testing::ConvertDem(State, cell, Dir / "big.dem", false, Pane, false);
    // Records A and C, and per column one block for the first 146
    // elevations and one for each further 170.
    const int64_t blocks = 2 + int64_t{c.Cols} * (1 + (std::max(c.Rows - 146, 0) + 169) / 170);
    EXPECT_EQ(std::filesystem::file_size(Dir / "big.dem"), static_cast<uintmax_t>(blocks * 1024)) << c.Rows;
    EXPECT_EQ(State.Grid.Cells[static_cast<size_t>(c.Rows) * c.Cols - 1], 1009) << c.Rows;
    EXPECT_EQ(Pane.Lines[34], "Max:           9") << c.Rows;
  }
}

// What a source was asked, by file.
class TCountingFiles final : public ITransferSource {
 public:
  void CheckFile(const std::string& path) const override {
    ++Looks[path];
    DiskFiles().CheckFile(path);
  }
  bool Exists(const std::string& path) const override {
    ++Looks[path];
    return DiskFiles().Exists(path);
  }
  bool List(const std::string& dir, std::vector<std::string>& names) const override {
    ++Looks[dir];
    return DiskFiles().List(dir, names);
  }
  std::unique_ptr<TStream> Open(const std::string& path) const override {
    ++Opens[path];
    return DiskFiles().Open(path);
  }
  bool OnDisk() const override { return true; }
  mutable std::map<std::string, int> Looks, Opens;
};

// A transfer is looked for once: its title proposed as the name, then its
// conversion, open each module once and look for nothing again.
TEST_F(Driver, LocatedOnceEachModuleOpenedOnce) {
  const std::string cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  TCountingFiles files;
  TLocatedTransfer transfer = LocateTransfer(Dir / "1234CATD.DDF", files);
  EXPECT_EQ(DefaultName(transfer, DemFormat()), "TEST QUAD.dem");
  files.Looks.clear();
  ConvertTransfer(State, transfer, Dir / "out.dem", TRequest{}, Pane);
  EXPECT_TRUE(files.Looks.empty()) << files.Looks.begin()->first;
  size_t modules = 0;
  for (const auto& e : std::filesystem::directory_iterator(Dir.Path()))
    if (e.path().extension() == ".DDF") {
      ++modules;
      EXPECT_EQ(files.Opens[e.path()], 1) << e.path();
    }
  EXPECT_EQ(files.Opens.size(), modules);
}

}  // namespace
}  // namespace veloran
