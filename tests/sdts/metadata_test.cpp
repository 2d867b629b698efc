#include "sdts/metadata.h"

#include <gtest/gtest.h>

#include <functional>

#include "sdts/moduleset.h"
#include "support/errors.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

using testing::TTransferSpec;

class Metadata : public ::testing::Test {
 protected:
  // Writes the transfer and runs the eight readers in the driver's order.
  void ReadAll(const TTransferSpec& spec) {
    const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
    SplitCellFileName(State.ModuleSet, cell);
    ReadDdsh(State);
    ReadIden(State);
    ReadDdom(State);
    ReadIref(State);
    ReadXref(State);
    ReadRsdf(State);
    ReadSpdm(State);
    ReadLdef(State);
  }
  testing::TTempDir Dir;
  TConversionState State;
};

TEST_F(Metadata, ReadsARealisticTransfer) {
  TTransferSpec spec;
  spec.Title = "CASCADE PASS, WA ";
  spec.SadrX = "666030.00000000";
  spec.SadrY = "5040720.00000000";
  spec.Corners = {"665985.5", "5026845", "665985.5", "5040765", "676815", "5040765", "676815", "5026845"};
  spec.Nrow = "465";
  spec.Ncol = "362";
  ReadAll(spec);
  const TSdtsInfo& i = State.Info;
  EXPECT_EQ(i.UnitsCode, 2);
  EXPECT_EQ(i.VerticalScale, 1);
  EXPECT_EQ(i.CellFormat, 1);
  EXPECT_EQ(i.Title, "CASCADE PASS, WA ");
  EXPECT_EQ(i.DataId, "DAID-1");
  EXPECT_EQ(i.DataDate, "19990101");
  EXPECT_EQ(i.Scale, 24000);
  EXPECT_EQ(i.VoidValue, -32767);
  EXPECT_EQ(i.FillValue, -32766);
  EXPECT_EQ(i.MinElevation, 100);
  EXPECT_EQ(i.MaxElevation, 2000);
  EXPECT_EQ(i.ScaleX, 1.0);
  EXPECT_EQ(i.ResolutionX, 30.0);
  EXPECT_EQ(i.SpacingY, 30.0);
  EXPECT_EQ(i.RefSysName, "UTM");
  EXPECT_EQ(i.Zone, 10);
  EXPECT_EQ(i.Datum, 1);
  EXPECT_EQ(i.SadrX, 666030);
  EXPECT_EQ(i.SadrY, 5040720);
  EXPECT_EQ(i.UpperLeftX, 666030.0);
  EXPECT_EQ(i.UpperLeftY, 5040720.0);
  EXPECT_EQ(i.SW.X, 665985.5);
  EXPECT_EQ(i.SW.Y, 5026845.0);
  EXPECT_EQ(i.NW.Y, 5040765.0);
  EXPECT_EQ(i.NE.X, 676815.0);
  EXPECT_EQ(i.SE.Y, 5026845.0);
  EXPECT_EQ(State.Grid.RowCount, 465);
  EXPECT_EQ(State.Grid.ColCount, 362);
}

TEST_F(Metadata, UnitsFormatAndVerticalScale) {
  struct Case {
    const char* unit;
    const char* fmt;
    int units, format, scale;
  } cases[] = {
      {"FEET", "BFP32", 1, 9, 1}, {"METERS", "BFP32", 2, 9, 10}, {"METERS", "BI16", 2, 1, 1},
      {"feet", "BFP32", 1, 9, 1}, {"", "BI16", 2, 1, 1},         {"FEET", "BI16", 1, 1, 1},
  };
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.Unit = c.unit;
    spec.Fmt = c.fmt;
    ReadAll(spec);
    EXPECT_EQ(State.Info.UnitsCode, c.units) << c.unit << c.fmt;
    EXPECT_EQ(State.Info.CellFormat, c.format) << c.unit << c.fmt;
    EXPECT_EQ(State.Info.VerticalScale, c.scale) << c.unit << c.fmt;
  }
}

// Units in any case, with blanks around, in the spellings GDAL takes; an
// unknown unit is refused by name (0 below).
TEST_F(Metadata, UnitSpellings) {
  const std::pair<const char*, int> cases[] = {
      {"Feet", 1}, {"FT", 1},     {"FEET ", 1},  {" foot", 1},  {"METERS", 2},   {"metres", 2},
      {"Meter", 2}, {"M", 2},     {"   ", 2},    {"FATHOMS", 0}, {"DECIMETERS", 0}, {"FEETS", 0},
  };
  for (const auto& [unit, code] : cases) {
    TTransferSpec spec;
    spec.Unit = unit;
    testing::WriteTransfer(Dir.Path(), spec);
    SplitCellFileName(State.ModuleSet, Dir / "1234CEL0.DDF");
    try {
      ReadDdsh(State);
      EXPECT_EQ(State.Info.UnitsCode, code) << unit;
    } catch (const TConvertError& e) {
      EXPECT_EQ(code, 0) << unit;
      EXPECT_EQ(e.what(), "The elevation unit '" + std::string(unit) +
                              "' is not supported (only feet and metres are read) in " + Dir / "1234DDSH.DDF");
    }
  }
}

TEST_F(Metadata, DomainRecordsByIdentifier) {
  TTransferSpec spec;
  spec.Domain = {{4, "2400"}, {3, "120"}, {2, "22"}, {1, "11"}};
  ReadAll(spec);
  EXPECT_EQ(State.Info.VoidValue, 11);
  EXPECT_EQ(State.Info.FillValue, 22);
  EXPECT_EQ(State.Info.MinElevation, 120);
  EXPECT_EQ(State.Info.MaxElevation, 2400);

  // Only four records are read; a fraction is no integer; a missing RCID
  // keeps the earlier value.
  spec.Domain = {{1, "5"}, {4, "2400.5"}, {7, "99"}, {3, " 77"}, {2, "66"}};
  ReadAll(spec);
  EXPECT_EQ(State.Info.VoidValue, 5);
  EXPECT_EQ(State.Info.MaxElevation, 0);
  EXPECT_EQ(State.Info.MinElevation, 77);
  EXPECT_EQ(State.Info.FillValue, 22);
}

TEST_F(Metadata, DatumCodes) {
  struct Case {
    const char* hdat;
    int datum;
  } cases[] = {{"NAS", 1}, {"WGS72", 2}, {"WGS84", 3}, {"NAS", 1}, {"NAX", 3}, {"nas", 3}, {"", 3}, {"WGS72", 2},
                 {"WGE", 3}, {"WGC", 2}, {"NAS", 1}, {"WGC", 2}};
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.Hdat = c.hdat;
    ReadAll(spec);
    EXPECT_EQ(State.Info.Datum, c.datum) << c.hdat;  // unknown texts keep the previous code
  }
}

TEST_F(Metadata, SpatialAddressTextAndBinary) {
  struct Case {
    bool binary;
    std::string x, y;
    int32_t binX, binY;
    std::string sfax, xorg;
    double sadrX, sadrY;
    double upperLeftX, upperLeftY;
  } cases[] = {
      {true, "", "", 4000, 52000, "1.0", "0.0", 4000, 52000, 4000.0, 52000.0},
      {true, "", "", 4000, 52000, "0.01", "0.0", 4000, 52000, 40.0, 52000.0},
      // 0x1E and 0x1F inside binary values.
      {true, "", "", 0x1E1F, 0x1F1E, "1.0", "0.0", 0x1E1F, 0x1F1E, 0x1E1F, 0x1F1E},
      {true, "", "", -30, 100, "1.0", "500.5", -30, 100, 470.5, 100.0},
      {false, "7.9", "-7.9", 0, 0, "1.0", "0.0", 7.9, -7.9, 7.9, -7.9},
      {false, "600000.75", "-7.9", 0, 0, "1.0", "0.0", 600000.75, -7.9, 600000.75, -7.9},
      {false, "666030.00000000", "5040720.00000000", 0, 0, "0.01", "100", 666030, 5040720, 6760.3, 5040720.0},
  };
  for (const auto& c : cases) {
    TTransferSpec spec;
    spec.BinarySadr = c.binary;
    spec.SadrX = c.x;
    spec.SadrY = c.y;
    spec.BinSadrX = c.binX;
    spec.BinSadrY = c.binY;
    spec.Sfax = c.sfax;
    spec.Sfay = "1.0";
    spec.Xorg = c.xorg;
    ReadAll(spec);
    EXPECT_EQ(State.Info.SadrX, c.sadrX) << c.x << c.binX;
    EXPECT_EQ(State.Info.SadrY, c.sadrY) << c.y << c.binY;
    EXPECT_DOUBLE_EQ(State.Info.UpperLeftX, c.upperLeftX) << c.x << c.binX;
    EXPECT_DOUBLE_EQ(State.Info.UpperLeftY, c.upperLeftY) << c.y;
  }
}

TEST_F(Metadata, RealsAreReadWithAFullStopInAnyLocale) {
  // Numbers in the modules always use "."; the user's separator must not
  // matter (a "," locale would read 0.01 as 0).
  TTransferSpec spec;
  spec.Sfax = "0.01";
  spec.Sfay = "0.01";
  spec.Xhrs = "2.5";
  spec.Corners = {"1.5", "2.25", "3", "4", "5", "6", "7", "8.75"};
  ReadAll(spec);
  EXPECT_EQ(State.Info.ScaleX, 0.01);
  EXPECT_EQ(State.Info.ResolutionX, 2.5);
  EXPECT_EQ(State.Info.SW.X, 1.5);
  EXPECT_EQ(State.Info.SE.Y, 8.75);
}

TEST_F(Metadata, CornersFromTheRepeatingField) {
  TTransferSpec spec;
  spec.Corners = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
  ReadAll(spec);
  const TSdtsInfo& i = State.Info;
  EXPECT_EQ(std::vector<double>({i.SW.X, i.SW.Y, i.NW.X, i.NW.Y, i.NE.X, i.NE.Y, i.SE.X, i.SE.Y}),
            std::vector<double>({1, 2, 3, 4, 5, 6, 7, 8}));
  spec.Corners = {"1", "2", "3", "4", "5", "6"};
  ReadAll(spec);
  EXPECT_EQ(State.Info.SE.X, 0.0);
  EXPECT_EQ(State.Info.SE.Y, 0.0);
  EXPECT_EQ(State.Info.NE.Y, 6.0);
}

TEST_F(Metadata, MissingFieldsGiveEmptyOrZero) {
  TTransferSpec spec;
  spec.Ncol = "";
  spec.Title = "";
  spec.Zone = "1O";
  ReadAll(spec);
  EXPECT_EQ(State.Grid.ColCount, 0);
  EXPECT_EQ(State.Info.Title, "");
  EXPECT_EQ(State.Info.Zone, 0);
}

TEST_F(Metadata, FailuresCarryTheirMessages) {
  TTransferSpec spec;
  ReadAll(spec);
  auto error = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const TConvertError& e) {
      return e.what();
    }
    return "no error";
  };
  // A missing module names the formed path; DDSH has set metres already.
  State.Info.UnitsCode = 7;
  std::remove(testing::ModulePath(Dir.Path(), spec, "DDSH").c_str());
  EXPECT_EQ(error([&] { ReadDdsh(State); }), "The transfer 1234 in " + Dir.Path() + " is incomplete: its DDSH module (" + Dir.Path() + "/1234DDSH.DDF) is missing");
  EXPECT_EQ(State.Info.UnitsCode, 2);
  // Malformed content passes through with the reader's message.
  testing::WriteFileBytes(testing::ModulePath(Dir.Path(), spec, "IDEN"), "001003LE1 0600x24   3404");
  // Every message names the module's file.
  EXPECT_EQ(error([&] { ReadIden(State); }), "'00x24' is not a valid integer value in " + Dir.Path() + "/1234IDEN.DDF");
  EXPECT_EQ(State.Info.Title, "TEST QUAD");
  // An address beyond a double's range is no address.
  spec.SadrX = "1E400";
  testing::WriteTransfer(Dir.Path(), spec);
  EXPECT_EQ(error([&] { ReadRsdf(State); }),
            "The file " + Dir / "1234RSDF.DDF" + " is malformed: RSDF SADR X is '1E400', not a number");
}

}  // namespace
}  // namespace veloran
