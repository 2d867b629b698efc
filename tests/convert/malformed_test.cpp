// Bad transfers and bad targets, each with the exact message the user sees.
// Whatever happens, no crash, no hang, and an existing DEM at the output path
// stays as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>

#include "tests/support/convert.h"
#include "convert/driver.h"
#include "iso8211/ddfreader.h"
#include "support/errors.h"
#include "tests/support/recorder.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

namespace fs = std::filesystem;
using testing::TTransferSpec;

const std::string kPrevious = "an earlier DEM that must survive";

// What a case does to the transfer it converts.
struct TBadCase {
  const char* Name;
  std::function<void(TTransferSpec&)> Spec;                          // before writing
  std::function<std::string(const std::string& dir)> Damage;          // after writing; returns the expected message
  // For a case that converts: what it must have produced.
  std::function<void(const std::string& cell, const std::vector<std::string>& pane)> Then = nullptr;
  TErrorKind Kind = TErrorKind::Malformed;  // of a case that fails
};

std::string Read(const std::string& dir, const std::string& code) { return testing::ReadFileBytes(dir + "/1234" + code + ".DDF"); }
void Write(const std::string& dir, const std::string& code, const std::string& bytes) {
  testing::WriteFileBytes(dir + "/1234" + code + ".DDF", bytes);
}
// Replaces bytes of a module at an offset.
void Patch(const std::string& dir, const std::string& code, size_t at, const std::string& bytes) {
  std::string module = Read(dir, code);
  module.replace(at, bytes.size(), bytes);
  Write(dir, code, module);
}
// Where the first data record starts: the DDR's record length.
size_t FirstRecord(const std::string& dir, const std::string& code) { return std::stoul(Read(dir, code).substr(0, 5)); }
std::string PathOf(const std::string& dir, const std::string& code) { return dir + "/1234" + code + ".DDF"; }

std::string Missing(const std::string& dir, const char* code) {
  fs::remove(PathOf(dir, code));
  // The chosen cell module itself, or a module of its transfer.
  if (std::string(code) == "CEL0") return "Cannot open file " + PathOf(dir, code) + ": No such file or directory";
  return "The transfer 1234 in " + dir + " is incomplete: its " + code + " module (" + PathOf(dir, code) + ") is missing";
}

std::vector<TBadCase> Cases() {
  std::vector<TBadCase> cases;
  for (const char* code : {"DDSH", "IDEN", "DDOM", "IREF", "XREF", "RSDF", "SPDM", "LDEF", "CEL0"})
    cases.push_back({code, nullptr, [code](const std::string& d) { return Missing(d, code); }, nullptr,
                     std::string(code) == "CEL0" ? TErrorKind::NotFound : TErrorKind::Malformed});
  // What the transfer declares decides how it is read, or it is refused.
  for (const char* fmt : {"BI8", "BI32", "BUI16", "BFP64", "bi16", ""})
    cases.push_back({fmt[0] ? fmt : "EmptyFmt", [fmt](TTransferSpec& s) { s.Fmt = fmt; }, [fmt](const std::string& d) {
                       return "The cell format '" + std::string(fmt) +
                              "' is not supported (only BI16 and BFP32 cells are read) in " + PathOf(d, "DDSH");
                     }, nullptr, TErrorKind::Unsupported});
  for (const char* rsnm : {"GEO", "SPCS", ""})
    cases.push_back({rsnm[0] ? rsnm : "EmptyRsnm", [rsnm](TTransferSpec& s) { s.Rsnm = rsnm; },
                     [rsnm](const std::string& d) {
                       return "The reference system '" + std::string(rsnm) +
                              "' is not supported (only UTM transfers are converted) in " + PathOf(d, "XREF");
                     }, nullptr, TErrorKind::Unsupported});
  cases.insert(cases.end(), {
      {"FloatFmtOverIntegerCells", [](TTransferSpec& s) { s.Fmt = "BFP32"; },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " declares its cells as '(B(16))', but its DDSH module as BFP32";
       }},
      {"IntegerFmtOverFloatCells", [](TTransferSpec& s) { s.FloatRows = {{1.5f, 2.5f}}; },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " declares its cells as '(B(32))', but its DDSH module as BI16";
       }},
      {"OnlyVoidsAndFills", [](TTransferSpec& s) { s.Rows = {{-32767, -32766}, {-32767, -32767}}; },
       [](const std::string&) { return std::string(kNoElevationsMessage); }},
      {"EmptyModule", nullptr,
       [](const std::string& d) {
         Write(d, "DDSH", "");
         return "The file " + PathOf(d, "DDSH") + " is malformed: it is empty";
       }},
      {"ZeroFilledModule", nullptr,
       [](const std::string& d) {
         Write(d, "XREF", std::string(Read(d, "XREF").size(), '\0'));
         return "The file " + PathOf(d, "XREF") + " is malformed: its first 24 bytes are not an ISO 8211 leader";
       }},
      {"ZeroFilledCellModule", nullptr,
       [](const std::string& d) {
         Write(d, "CEL0", std::string(4096, '\0'));
         return "The file " + PathOf(d, "CEL0") + " is malformed: its first 24 bytes are not an ISO 8211 leader";
       }},
      {"TruncatedLeader", nullptr,
       [](const std::string& d) {
         Write(d, "IDEN", Read(d, "IDEN").substr(0, 10));
         return "The file " + PathOf(d, "IDEN") + " is malformed: it ends within its leader";
       }},
      {"TruncatedInTheDirectory", nullptr,
       [](const std::string& d) {
         // Entry 1 keeps its tag and two digits of its length ("06", valid);
         // its position is missing.
         Write(d, "XREF", Read(d, "XREF").substr(0, 24 + 11 + 6));
         return "'' is not a valid integer value in " + PathOf(d, "XREF");
       }},
      {"LetterInTheLeader", nullptr,
       [](const std::string& d) {
         Patch(d, "DDOM", 0, "0a");
         return "'0a" + Read(d, "DDOM").substr(2, 3) + "' is not a valid integer value in " + PathOf(d, "DDOM");
       }},
      {"LetterInTheDirectory", nullptr,
       [](const std::string& d) {
         Patch(d, "IREF", 24 + 4, "x");
         return "'x" + Read(d, "IREF").substr(24 + 5, 2) + "' is not a valid integer value in " + PathOf(d, "IREF");
       }},
      {"TrailingBlankInADataRecordLeader", nullptr,
       [](const std::string& d) {
         const size_t at = FirstRecord(d, "LDEF");
         Patch(d, "LDEF", at + 16, " ");
         return "'" + Read(d, "LDEF").substr(at + 12, 4) + " ' is not a valid integer value in " + PathOf(d, "LDEF");
       }},
      {"ZeroEntryMapSizes", nullptr,
       [](const std::string& d) {
         Patch(d, "XREF", 20, "0000");
         return "Division by zero in " + PathOf(d, "XREF");
       }},
      {"ZeroEntryMapSizesInARecord", nullptr,
       [](const std::string& d) {
         Patch(d, "SPDM", FirstRecord(d, "SPDM") + 20, "0000");
         return "Division by zero in " + PathOf(d, "SPDM");
       }},
      {"NegativeFieldPosition", nullptr,
       [](const std::string& d) {
         // The IREF field's position in the record directory (entry 1).
         const size_t at = FirstRecord(d, "IREF");
         Patch(d, "IREF", at + 24 + 13 + 8, "-9999");
         return "The file " + PathOf(d, "IREF") + " is malformed: the field IREF of data record 1 reaches beyond its record";
       }},
      {"FieldPositionBeyondTheRecord", nullptr,
       [](const std::string& d) {
         Patch(d, "IDEN", FirstRecord(d, "IDEN") + 24 + 13 + 8, "99999");
         return "The file " + PathOf(d, "IDEN") + " is malformed: the field IDEN of data record 1 reaches beyond its record";
       }},
      {"CellLengthBeyondTheFile", nullptr,
       [](const std::string& d) {
         Patch(d, "CEL0", FirstRecord(d, "CEL0") + 24 + 2 * 13 + 4, "9999");
         return "The file " + PathOf(d, "CEL0") + " is malformed: the field CVLS of data record 1 reaches beyond its record";
       }},
      {"NegativeCellLength", nullptr,
       [](const std::string& d) {
         Patch(d, "CEL0", FirstRecord(d, "CEL0") + 24 + 2 * 13 + 4, "-001");
         return "The file " + PathOf(d, "CEL0") + " is malformed: the field CVLS of data record 1 reaches beyond its record";
       }},
      {"DescriptionBeyondItsRecord", nullptr,
       [](const std::string& d) {
         // The DDR's record length cuts its last field description short.
         const std::string ddr = Read(d, "LDEF").substr(0, FirstRecord(d, "LDEF"));
         std::string length = std::to_string(ddr.size() - 5);
         Patch(d, "LDEF", 0, std::string(5 - length.size(), '0') + length);
         return "The file " + PathOf(d, "LDEF") + " is malformed: the field LDEF of the descriptive record reaches beyond its record";
       }},
      {"NoCvlsField",
       [](TTransferSpec&) {},
       [](const std::string& d) {
         testing::TDdfWriter cells({{"CELL", "CELL", "MODN!RCID", "(A,I)"}});
         cells.Record({{"CELL", testing::Text({"CEL0", "1"})}});
         cells.WriteFile(PathOf(d, "CEL0"));
         return "The cell module " + PathOf(d, "CEL0") + " has no CVLS field in its first record";
       }},
      {"EmptyCellRecord",
       [](TTransferSpec& s) { s.Rows = {{1}}; },
       [](const std::string& d) {
         testing::TDdfWriter cells({{"CVLS", "CELL VALUES", "*ELEVATION", "(B(16))"}});
         cells.Record({{"CVLS", ""}}, 'R').Raw("zzzz");
         cells.WriteFile(PathOf(d, "CEL0"));
         return "The cell module " + PathOf(d, "CEL0") + " is malformed: record 1 holds 0 cells, but LDEF declares 1 columns";
       }},
      {"RowLongerThanLdefSays", [](TTransferSpec& s) { s.Ncol = "3"; },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " is malformed: record 1 holds 4 cells, but LDEF declares 3 columns";
       }},
      {"RowShorterThanLdefSays", [](TTransferSpec& s) { s.Rows[2].pop_back(); },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " is malformed: record 3 holds 3 cells, but LDEF declares 4 columns";
       }},
      {"MoreRecordsThanLdefRows", [](TTransferSpec& s) { s.Nrow = "3"; },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " is malformed: record 4 is beyond the 3 rows of LDEF";
       }},
      {"GridLargerThanItsCells",
       [](TTransferSpec& s) {
         s.Nrow = "3000";
         s.Ncol = "3000";
       },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " is too small for a grid of 3000 rows by 3000 columns";
       }},
      {"FewerRecordsThanLdefRows", [](TTransferSpec& s) { s.Nrow = "5"; },
       [](const std::string& d) {
         return "The cell module " + PathOf(d, "CEL0") + " holds 16 cells, too few for a grid of 5 rows by 4 columns";
       }},
      {"NoRowsButManyColumns",
       [](TTransferSpec& s) {
         s.Nrow = "0";
         s.Ncol = "300391";
       },
       [](const std::string&) { return std::string("The transfer holds no elevations"); }},
      {"CountsThatAreNoNumbers",
       [](TTransferSpec& s) {
         s.Nrow = "four";
         s.Ncol = "4.0";
       },
       [](const std::string&) { return std::string("The transfer holds no elevations"); }},
      {"ZoneWiderThanItsField", [](TTransferSpec& s) { s.Zone = "1234567"; },
       [](const std::string&) { return std::string("The zone 1234567 does not fit its DEM field of 6 characters"); },
       nullptr, TErrorKind::Unsupported},
      {"NegativeSpacing", [](TTransferSpec& s) { s.Xhrs = "-30"; },
       [](const std::string& d) {
         return "The file " + PathOf(d, "IREF") + " is malformed: IREF XHRS is '-30', not a positive number";
       }},
      {"HugeSpacing", [](TTransferSpec& s) { s.Yhrs = "1e150"; },
       [](const std::string&) { return std::string("The y resolution 1E150 does not fit its DEM field of 12 characters"); },
       nullptr, TErrorKind::Unsupported},
      {"MoreRowsThanTheFieldHolds",
       [](TTransferSpec& s) {
         s.RepeatRecords = true;
         s.Nrow = "1000000";
         s.Ncol = "1";
         s.Rows.assign(1000000, std::vector<int16_t>{3});
       },
       [](const std::string&) {
         return std::string("The number of elevations 1000000 does not fit its DEM field of 6 characters");
       },
       nullptr, TErrorKind::Unsupported},
      {"NegativeRowCount", [](TTransferSpec& s) { s.Nrow = "-5"; },
       [](const std::string& d) {
         return "The file " + PathOf(d, "LDEF") + " is malformed: a grid of -5 rows and 4 columns";
       }},
      {"NotANumberCell",
       [](TTransferSpec& s) {
         s.Fmt = "BFP32";
         s.FloatRows = {{1.0f, std::numeric_limits<float>::quiet_NaN()}};
       },
       [](const std::string& d) { return kInvalidOpMessage + std::string(" in ") + PathOf(d, "CEL0"); }},
      {"InfiniteCell",
       [](TTransferSpec& s) {
         s.Fmt = "BFP32";
         s.FloatRows = {{std::numeric_limits<float>::infinity()}};
       },
       [](const std::string& d) { return kInvalidOpMessage + std::string(" in ") + PathOf(d, "CEL0"); }},
      {"ZeroSpacing", [](TTransferSpec& s) { s.Xhrs = ""; },
       [](const std::string& d) { return "The file " + PathOf(d, "IREF") + " is malformed: IREF XHRS is missing"; }},
      {"ZeroSpacingAtTheOrigin",
       [](TTransferSpec& s) {
         s.Xhrs = "0";
         s.SadrX = "0";
       },
       [](const std::string& d) {
         return "The file " + PathOf(d, "IREF") + " is malformed: IREF XHRS is '0', not a positive number";
       }},
      {"AddressBeyondADouble", [](TTransferSpec& s) { s.SadrY = "1E400"; },
       [](const std::string& d) {
         return "The file " + PathOf(d, "RSDF") + " is malformed: RSDF SADR Y is '1E400', not a number";
       }},
      // A text address is a real: it is not cut to 32 bits.
      {"AddressBeyond32Bits", [](TTransferSpec& s) { s.SadrX = "3000000000"; },
       [](const std::string&) { return std::string(); },
       [](const std::string&, const std::vector<std::string>& pane) { EXPECT_EQ(pane[18], "SADR X: 3000000000"); }},
      {"MoreThanTwentyValuesLabelsAndFields",
       [](TTransferSpec& s) {
         for (int i = 0; i < 30; ++i) s.Corners.push_back(std::to_string(i));
       },
       [](const std::string& d) {
         std::vector<testing::TFieldDef> defs;
         std::vector<testing::TFieldData> fields;
         std::string labels;
         for (int i = 0; i < 24; ++i) labels += "L" + std::to_string(i) + "!";
         for (int i = 0; i < 23; ++i) {
           defs.push_back({"F" + std::to_string(100 + i), "FILLER", labels + "UNIT", "(A)"});
           fields.push_back({"F" + std::to_string(100 + i), testing::Text({"x"})});
         }
         defs.push_back({"DDSH", "DATA DICTIONARY/SCHEMA", "FMT!UNIT", "(2A)"});
         fields.push_back({"DDSH", testing::Text({"BI16", "FEET"})});
         testing::TDdfWriter ddsh(defs);
         ddsh.Record(fields);
         ddsh.WriteFile(PathOf(d, "DDSH"));
         // Entries past the 20th are dropped: DDSH is not found.
         return "The file " + PathOf(d, "DDSH") + " is not the DDSH module of the transfer: it has no DDSH field";
       }},
      {"TitleOf2000Characters", [](TTransferSpec& s) { s.Title = std::string(2000, 'T'); },
       [](const std::string&) { return std::string(); },
       [](const std::string& cell, const std::vector<std::string>& pane) {
         EXPECT_EQ(pane[2], "Title: " + std::string(2000, 'T'));
         EXPECT_EQ(testing::DefaultDemName(cell), std::string(245, 'T') + ".dem");
       }},
  });
  return cases;
}

class Malformed : public ::testing::TestWithParam<TBadCase> {};

TEST_P(Malformed, ClearMessageAndTheOldDemStays) {
  const TBadCase& c = GetParam();
  testing::TTempDir dir;
  TTransferSpec spec;
  if (c.Spec) c.Spec(spec);
  const std::string cell = testing::WriteTransfer(dir.Path(), spec);
  const std::string expected = c.Damage(dir.Path());
  const std::string dem = dir / "out.dem";
  testing::WriteFileBytes(dem, kPrevious);
  auto state = std::make_unique<TConversionState>();
  testing::TRecorder pane;
  std::string message;
  try {
    testing::ConvertDem(*state, cell, dem, false, pane);
  } catch (const TConvertError& e) {
    message = e.what();
    EXPECT_EQ(e.Kind(), c.Kind) << message;
  }
  EXPECT_EQ(message, expected);
  if (!expected.empty()) {
    EXPECT_EQ(testing::ReadFileBytes(dem), kPrevious);
  } else {
    EXPECT_EQ(testing::ReadFileBytes(dem).size() % 1024, 0u);
    ASSERT_EQ(pane.Lines.size(), 43u);
    ASSERT_TRUE(c.Then) << "a case that converts checks what it produced";
    c.Then(cell, pane.Lines);
  }
  for (const auto& e : fs::directory_iterator(dir.Path()))
    EXPECT_EQ(e.path().extension(), e.path().filename() == "out.dem" ? ".dem" : ".DDF") << e.path();
}

INSTANTIATE_TEST_SUITE_P(Transfers, Malformed, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

class BadTarget : public ::testing::Test {
 protected:
  std::string Convert(const std::string& dem) {
    try {
      testing::ConvertDem(*State, Cell, dem, false, Pane);
    } catch (const TConvertError& e) {
      return e.what();
    }
    return "";
  }
  testing::TTempDir Dir;
  std::string Cell = testing::WriteTransfer(Dir.Path(), TTransferSpec{});
  std::unique_ptr<TConversionState> State = std::make_unique<TConversionState>();
  testing::TRecorder Pane;
};

TEST_F(BadTarget, MissingDirectoryAndDirectoryPath) {
  EXPECT_EQ(Convert(Dir / "nowhere/out.dem"),
            "Cannot create file " + Dir.Path() + "/nowhere/out.dem: No such file or directory");
  fs::create_directory(Dir / "out.dem");
  EXPECT_EQ(Convert(Dir / "out.dem"), "Cannot create file " + Dir.Path() + "/out.dem: Is a directory");
  EXPECT_TRUE(fs::is_directory(Dir / "out.dem"));
}

TEST_F(BadTarget, DirectoryWithoutWritePermission) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop root";
  fs::create_directory(Dir / "locked");
  testing::WriteFileBytes(Dir / "locked/out.dem", kPrevious);
  fs::permissions(Dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(Convert(Dir / "locked/out.dem"), "Cannot create file " + Dir.Path() + "/locked/out.dem: Permission denied");
  EXPECT_EQ(testing::ReadFileBytes(Dir / "locked/out.dem"), kPrevious);
}

TEST_F(BadTarget, FullDisk) {
  const std::string mountPoint = Dir / "small";
  fs::create_directory(mountPoint);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root in a mount namespace)";
  const std::string dem = mountPoint + "/out.dem";
  testing::WriteFileBytes(dem, kPrevious);
  // A grid whose DEM needs far more than 64 KiB.
  TTransferSpec big;
  big.Rows.assign(300, std::vector<int16_t>(300, 5));
  big.Nrow = big.Ncol = "300";
  Cell = testing::WriteTransfer(Dir.Path(), big);
  const std::string message = Convert(dem);
  const std::string previous = testing::ReadFileBytes(dem);
  const auto entries = std::distance(fs::directory_iterator(mountPoint), fs::directory_iterator());
  umount(mountPoint.c_str());
  EXPECT_EQ(message, "Cannot write file " + dem + ": No space left on device");
  EXPECT_EQ(previous, kPrevious);
  EXPECT_EQ(entries, 1);  // no temporary file left behind
}

}  // namespace
}  // namespace veloran
