// End-to-end: a small transfer converted with a fixed date gives exactly the
// DEM and the pane text checked by hand and kept in tests/golden.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/convert.h"
#include "convert/driver.h"
#include "tests/support/recorder.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

const std::string kGolden = VELORAN_SOURCE_DIR "/tests/golden/";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(Golden, SmallTransferGivesTheCheckedDemAndPane) {
  testing::TTempDir dir;
  TConversionState state;
  testing::TRecorder pane;
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  const std::string cell = kGolden + "small/1234CEL0.DDF";
  EXPECT_EQ(testing::DefaultDemName(cell), "VELORAN TEST CORNER, WA.dem");
  testing::ConvertDem(state, cell, dir / "small.dem", false, pane);
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_TRUE(testing::ReadFileBytes(dir / "small.dem") == testing::ReadFileBytes(kGolden + "small.dem"));
  EXPECT_EQ(pane.Lines, Lines(testing::ReadFileBytes(kGolden + "small.txt")));
}

}  // namespace
}  // namespace veloran
