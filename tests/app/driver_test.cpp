#include "app/driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/errors.h"
#include "tests/support/recorder.h"
#include "tests/support/transfer.h"

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
  } cases[] = {{"CASCADE", "CASCADE.dem"}, {"", "New.dem"}, {"PEAK  ", "PEAK  .dem"}, {"A/B", "A/B.dem"}};
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.Title = c.title;
    const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
    EXPECT_EQ(MakeDefaultDemName(State, cell), c.name);
  }
  std::filesystem::remove(Dir / "1234IDEN.DDF");
  EXPECT_EQ(Error([&] { MakeDefaultDemName(State, Dir / "1234CEL0.DDF"); }),
            "Cannot open file " + Dir.Path() + "/1234IDEN.DDF");
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
  ConvertSdtsToDem(State, cell, Dir / "out.dem", true, Pane);
  EXPECT_EQ(Pane.Clears, 1);
  const std::vector<std::string> report(Pane.Lines.begin(), Pane.Lines.begin() + 32);
  EXPECT_EQ(report, (std::vector<std::string>{
                        "Units: Meters", "Vertical Scale: 1", "Title: CASCADE", "Scale: 24000",
                        "Data ID DAID: DAID-1", "Date (DCDT): 19990101", "Void Value: -32767",
                        "Fill Value: -32766", "Min Elevation: 100", "Max Elevation: 2000",
                        "Actual Min Elevation: 10", "Actual Max Elevation: 31", "Scale Factors: 0.5,1",
                        "Origins: 0,0", "Horizon Res: 1E-5,30", "Ref Sys Name: UTM", "UTM Szone: 10",
                        "Datum: 3", "SADR X: 1200000", "SADR Y: 5000000", "UpperLX: 600000",
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
  ConvertSdtsToDem(State, cell, Dir / "out.dem", false, Pane);
  EXPECT_EQ(std::filesystem::file_size(Dir / "out.dem") % 1024, 0u);
}

TEST_F(Driver, MetadataFailureLeavesThePaneEmpty) {
  const std::string cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  std::filesystem::remove(Dir / "1234DDSH.DDF");
  Pane.Lines = {"previous report"};
  EXPECT_EQ(Error([&] { ConvertSdtsToDem(State, cell, Dir / "out.dem", false, Pane); }),
            "Cannot open file " + Dir.Path() + "/1234DDSH.DDF");
  EXPECT_TRUE(Pane.Lines.empty());
  EXPECT_FALSE(std::filesystem::exists(Dir / "out.dem"));
}

TEST_F(Driver, AMetadataModuleAsCellFileFailsAtTheCellStep) {
  testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  EXPECT_EQ(Error([&] { ConvertSdtsToDem(State, Dir / "1234IDEN.DDF", Dir / "out.dem", false, Pane); }),
            "Cannot open file " + Dir.Path() + "/1234CEEN.DDF");
  EXPECT_EQ(State.Grid.RowCount, 4);  // all eight metadata modules were read
  EXPECT_TRUE(Pane.Lines.empty());
}

TEST_F(Driver, WriterFailureKeepsTheReportAndLeavesNoDem) {
  const std::string cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  const std::string dem = Dir / "missing/out.dem";
  EXPECT_EQ(Error([&] { ConvertSdtsToDem(State, cell, dem, false, Pane); }), "Cannot create file " + dem);
  EXPECT_EQ(Pane.Lines.size(), 32u);
  EXPECT_FALSE(std::filesystem::exists(dem));
}

TEST_F(Driver, FieldsPersistAcrossConversions) {
  TTransferSpec first;
  first.Hdat = "NAX";
  first.Rows = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  ConvertSdtsToDem(State, testing::WriteTransfer(Dir.Path(), first), Dir / "a.dem", false, Pane);
  TTransferSpec second;
  second.Hdat = "OTHER";
  second.Domain = {{1, "-5"}};
  second.Nrow = "1";
  second.Rows = {{40, 41, 42, 43}};
  ConvertSdtsToDem(State, testing::WriteTransfer(Dir.Path(), second), Dir / "b.dem", false, Pane);
  EXPECT_EQ(State.Info.Datum, 3);
  EXPECT_EQ(State.Info.VoidValue, -5);
  EXPECT_EQ(State.Info.FillValue, -32766);
  EXPECT_EQ(State.Grid.Cells[4], 1005);  // beyond the cells read this time
  EXPECT_EQ(Pane.Lines[7], "Fill Value: -32766");
}

}  // namespace
}  // namespace veloran
