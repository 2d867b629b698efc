#include "support/textutil.h"

#include <gtest/gtest.h>

#include "support/errors.h"

namespace veloran {
namespace {

struct NumberCase {
  const char* text;
  double value;
  bool found;
};

TEST(FirstNumber, ScansTheFirstNumberWithFullStop) {
  const NumberCase cases[] = {
      {"", 0, false},       {"abc", 0, false},     {"12", 12, true},       {"-12", -12, true},
      {"--12", -12, true},  {"- 12", 12, true},    {"-.5", -0.5, true},    {".5", 0.5, true},
      {"..5", 5, true},     {".-5", 0.5, true},    {"a-b5", 5, true},      {"1.2.3", 1.2, true},
      {"12-5", 12, true},   {"1.5E-3", 0.0015, true}, {"1.5e--3", 0.0015, true}, {"2.5E+02", 2.5, true},
      {"5EAST", 5, true},   {"x=-3.25m", -3.25, true}, {"+7", 7, true},   {"1.", 1, true},
      {"E5", 5, true},      {"666030.00000000", 666030, true}, {"1E", 1, true}, {"-4E-", -4, true},
  };
  for (const auto& c : cases) {
    int p = 1;
    double value = -1;
    EXPECT_EQ(ScanNumber(c.text, p, value, '.'), c.found) << c.text;
    EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    EXPECT_DOUBLE_EQ(FirstNumber(c.text, '.'), c.value) << c.text;
  }
}

TEST(FirstNumber, UsesTheGivenSeparator) {
  EXPECT_DOUBLE_EQ(FirstNumber("1,5", ','), 1.5);
  EXPECT_DOUBLE_EQ(FirstNumber("1.5", ','), 1.0);
  EXPECT_DOUBLE_EQ(FirstNumber("0.01", '.'), 0.01);
  EXPECT_DOUBLE_EQ(FirstNumber("0.01", ','), 0.0);  // what a "," locale would read
}

TEST(ScanNumber, LeavesThePositionAfterTheNumber) {
  int p = 1;
  double v = 0;
  ASSERT_TRUE(ScanNumber("1.2.3", p, v, '.'));
  EXPECT_EQ(p, 4);  // on the second separator
  ASSERT_TRUE(ScanNumber("1.2.3", p, v, '.'));
  EXPECT_DOUBLE_EQ(v, 0.3);  // ".3" scanned from there
  p = 1;
  ASSERT_TRUE(ScanNumber("10 20", p, v, '.'));
  ASSERT_TRUE(ScanNumber("10 20", p, v, '.'));
  EXPECT_DOUBLE_EQ(v, 20);
  EXPECT_EQ(p, 6);
  EXPECT_FALSE(ScanNumber("10 20", p, v, '.'));
}

TEST(FirstNumber, ANumberBeyondTheRangeOfADoubleFails) {
  try {
    FirstNumber("x 1E999 y", '.');
    FAIL() << "no failure";
  } catch (const TConvertError& e) {
    EXPECT_STREQ(e.what(), "'1E999' is beyond the range of a real number");
  }
  EXPECT_DOUBLE_EQ(FirstNumber("1E-999", '.'), 0.0);  // underflow is zero, not an error
}

TEST(Pad, PadsAndNeverCuts) {
  EXPECT_EQ(PadLeft("12", 5), "   12");
  EXPECT_EQ(PadRight("12", 5), "12   ");
  EXPECT_EQ(PadLeft("123456", 5), "123456");
  EXPECT_EQ(PadRight("123456", 5), "123456");
  EXPECT_EQ(PadLeft("ab", 0), "ab");
  EXPECT_EQ(PadLeft("ab", -3), "ab");
  EXPECT_EQ(PadLeftWith("7", 3, '0'), "007");
  EXPECT_EQ(PadRightWith("7", 3, '*'), "7**");
}

TEST(StrToInt, IsStrictDecimal) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"42", true, 42},          {"  42", true, 42},    {"-7", true, -7},      {"+7", true, 7},
      {"00024", true, 24},       {"42 ", false, 0},     {"", false, 0},        {"   ", false, 0},
      {"4.2", false, 0},         {"-", false, 0},       {"--1", false, 0},     {"1a", false, 0},
      {"2147483647", true, 2147483647}, {"-2147483648", true, INT32_MIN}, {"2147483648", false, 0},
      {"99999999999999999999", false, 0}, {" -  1", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  try {
    StrToInt(" 1x");
    FAIL();
  } catch (const TConvertError& e) {
    EXPECT_STREQ(e.what(), "' 1x' is not a valid integer value");
  }
}

TEST(FileDate, MissingFileFails) {
  EXPECT_THROW(FileDate("/nonexistent/veloran"), TConvertError);
  const std::tm t = FileDate("/");
  EXPECT_GT(t.tm_year, 70);
}

}  // namespace
}  // namespace veloran
