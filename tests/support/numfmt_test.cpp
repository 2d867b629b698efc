#include "support/numfmt.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/locale.h"

namespace veloran {
namespace {

std::string Rounded(double v, int n) {
  const TDecimalDigits d = RoundToSignificant(v, n);
  if (d.Zero) return "0";
  return (d.Negative ? "-" : "") + d.Digits + "e" + std::to_string(d.Exponent);
}

TEST(RoundToSignificant, HalvesGoAwayFromZeroOnTheExactValue) {
  EXPECT_EQ(Rounded(1.25, 2), "13e0");     // printf would give 1.2
  EXPECT_EQ(Rounded(-1.25, 2), "-13e0");
  EXPECT_EQ(Rounded(2.5, 1), "3e0");
  EXPECT_EQ(Rounded(0.125, 2), "13e-1");
  // 0.15 is stored just below the half: it rounds down.
  EXPECT_EQ(Rounded(0.15, 1), "1e-1");
  // 2^51 + 0.5 has 17 significant digits ending in 5.
  EXPECT_EQ(Rounded(2251799813685248.5, 16), "2251799813685249e15");
  EXPECT_EQ(Rounded(99.96, 3), "100e2");  // carry into a new digit
  EXPECT_EQ(Rounded(30, 16), "3000000000000000e1");
  EXPECT_EQ(Rounded(-0.0, 16), "0");
  EXPECT_EQ(Rounded(5e-324, 3), "494e-324");
  EXPECT_EQ(Rounded(1.7976931348623157e308, 7), "1797693e308");
}

TEST(FormatGeneralReal, FixedAndScientificForms) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},          {-0.0, "0"},           {30, "30"},           {0.5, "0.5"},
      {1234567.25, "1234567.25"}, {-122.5, "-122.5"}, {0.00005, "5E-5"}, {1.5e20, "1.5E20"},
      {1e15, "1E15"},    {999999999999999, "999999999999999"}, {0.00001, "1E-5"}, {0.0001, "0.0001"},
      {0.1 + 0.2, "0.3"}, {666030, "666030"},   {1.0 / 3, "0.333333333333333"}, {-2.5e-7, "-2.5E-7"},
      {123456789012345678.0, "1.23456789012346E17"}, {5040720.5, "5040720.5"}, {0.01, "0.01"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatGeneralReal(c.value, '.'), c.text) << c.value;
}

TEST(FormatGeneralReal, UsesTheGivenSeparator) {
  EXPECT_EQ(FormatGeneralReal(0.5, ','), "0,5");
  EXPECT_EQ(FormatGeneralReal(1.5e20, ','), "1,5E20");
  EXPECT_EQ(FormatGeneralReal(30, ','), "30");
}

// The GeoTIFF summary's extremes: the shortest decimal of a real cell,
// whatever the locale reads as its separator (the desktop runs in the
// user's locale, where "9.5" once read as 9).
TEST(ShortestDecimal, TheFewestDigitsInEveryLocale) {
  for (const bool comma : {false, true}) {
    if (comma && !testing::UseLocale("de_DE.UTF-8")) GTEST_SKIP() << "no de_DE locale";
    EXPECT_EQ(ShortestDecimal(9.5f), 9.5);
    EXPECT_EQ(ShortestDecimal(0.1f), 0.1);
    EXPECT_EQ(ShortestDecimal(-3.25e7f), -3.25e7);
  }
  testing::RestoreLocale();
}

TEST(FormatInt, PlainDecimal) {
  EXPECT_EQ(FormatInt(0), "0");
  EXPECT_EQ(FormatInt(-9999), "-9999");
  EXPECT_EQ(FormatInt(2147483647), "2147483647");
  EXPECT_EQ(FormatInt(-2147483648LL), "-2147483648");
}

}  // namespace
}  // namespace veloran
