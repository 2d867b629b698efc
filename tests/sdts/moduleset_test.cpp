#include "sdts/moduleset.h"

#include <gtest/gtest.h>

#include "iso8211/ddfreader.h"
#include "support/errors.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

TEST(SplitCellFileName, FormsTheModuleNames) {
  struct Case {
    const char* path;
    const char* dir;
    const char* name;
    const char* prefix;
    const char* suffix;
    const char* cellModule;
    const char* ddsh;
  } cases[] = {
      {"/data/1234CEL0.DDF", "/data/", "1234CEL0.DDF", "1234", "L0", "/data/1234CEL0.DDF", "/data/1234DDSH.DDF"},
      {"/data/1234CEL1.DDF", "/data/", "1234CEL1.DDF", "1234", "L1", "/data/1234CEL1.DDF", "/data/1234DDSH.DDF"},
      {"/d/1234XXL0.DDF", "/d/", "1234XXL0.DDF", "1234", "L0", "/d/1234CEL0.DDF", "/d/1234DDSH.DDF"},
      {"1234cel0.ddf", "", "1234cel0.ddf", "1234", "l0", "1234CEl0.DDF", "1234DDSH.DDF"},
      {"/x/1234CEL", "/x/", "1234CEL", "1234", "L", "/x/1234CEL.DDF", "/x/1234DDSH.DDF"},
      {"/x/1234CE", "/x/", "1234CE", "1234", "", "/x/1234CE.DDF", "/x/1234DDSH.DDF"},
      {"/x/12", "/x/", "12", "12", "", "/x/12CE.DDF", "/x/12DDSH.DDF"},
      {"/x/", "/x/", "", "", "", "/x/CE.DDF", "/x/DDSH.DDF"},
      {"/data/1234IDEN.DDF", "/data/", "1234IDEN.DDF", "1234", "EN", "/data/1234CEEN.DDF", "/data/1234DDSH.DDF"},
  };
  for (const auto& c : cases) {
    TModuleSet m;
    SplitCellFileName(m, c.path);
    EXPECT_EQ(m.TransferDir, c.dir) << c.path;
    EXPECT_EQ(m.CellFileName, c.name) << c.path;
    EXPECT_EQ(m.TransferPrefix, c.prefix) << c.path;
    EXPECT_EQ(m.CellModuleSuffix, c.suffix) << c.path;
    EXPECT_EQ(ModuleFileName(m, "CE" + m.CellModuleSuffix), c.cellModule) << c.path;
    EXPECT_EQ(ModuleFileName(m, "DDSH"), c.ddsh) << c.path;
  }
}

TEST(OpenModule, FallsBackToAFileNamedInAnotherCase) {
  testing::TTempDir dir;
  testing::WriteFileBytes(dir / "1234ddsh.ddf", "lower");
  testing::WriteFileBytes(dir / "1234IDEN.DDF", "upper");
  testing::WriteFileBytes(dir / "1234iden.ddf", "other");
  TModuleSet m;
  SplitCellFileName(m, dir / "1234cel0.ddf");
  auto read = [&](const char* code) {
    auto s = OpenModule(m, code);
    return ReadFixedText(*s, 5);
  };
  EXPECT_EQ(read("DDSH"), "lower");
  EXPECT_EQ(read("IDEN"), "other");  // the cell file's own case wins when both exist
  SplitCellFileName(m, dir / "1234CEL0.DDF");
  EXPECT_EQ(read("IDEN"), "upper");
  EXPECT_EQ(read("DDSH"), "lower");
  try {
    OpenModule(m, "DDOM");
    FAIL();
  } catch (const TConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "The transfer 1234 in " + dir.Path() + " is incomplete: its DDOM module (" +
                                         dir.Path() + "/1234DDOM.DDF) is missing");
  }
  TModuleSet missing;
  SplitCellFileName(missing, "/nonexistent/1234CEL0.DDF");
  EXPECT_THROW(OpenModule(missing, "DDSH"), TConvertError);
}

TEST(CellFormatCode, ExactTextsOnly) {
  const char* formats[] = {"BI8", "BI16", "BI24", "BI32", "BUI", "BUI8", "BUI16", "BUI24", "BUI32", "BFP32", "BFP64"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(CellFormatCode(formats[i]), i);
  for (const char* other : {"bfp32", " BI16", "BI16 ", "", "BFP16"}) {
    EXPECT_EQ(CellFormatCode(other), kUnknownCellFormat) << other;
    EXPECT_NE(CellFormatCode(other), kFloatCellFormat);
  }
}

}  // namespace
}  // namespace veloran
