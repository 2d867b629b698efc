#include "dem/demfields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "support/errors.h"
#include "tests/support/locale.h"

namespace veloran {
namespace {

class Fields : public ::testing::Test {
 protected:
  TStringSink Sink;
  TDemStream Out{Sink};
  TDemBlock& Block = Out.Block;
};

TEST_F(Fields, ATextThatDoesNotFitStartsTheNextBlock) {
  WriteDemText(Out, std::string(1023, 'a'));
  EXPECT_EQ(Sink.Bytes.size(), 0u);
  EXPECT_EQ(Block.DemBlockUsed, 1023);
  WriteDemText(Out, "b");
  ASSERT_EQ(Sink.Bytes.size(), 1024u);
  EXPECT_EQ(Sink.Bytes, std::string(1023, 'a') + " ");
  EXPECT_EQ(Block.DemBlockUsed, 1);

  // A text that would end exactly at position 1024 also moves.
  for (int n : {1, 6, 24, 500}) {
    Sink.Bytes.clear();
    Block.DemBlockUsed = 0;
    WriteDemText(Out, std::string(static_cast<size_t>(1024 - n), 'x'));
    WriteDemText(Out, std::string(static_cast<size_t>(n), 'y'));
    ASSERT_EQ(Sink.Bytes.size(), 1024u) << n;
    EXPECT_EQ(Sink.Bytes.back(), ' ') << n;
    EXPECT_EQ(Block.DemBlockUsed, n);
  }
  WriteDemText(Out, "");
  EXPECT_EQ(Block.DemBlockUsed, 500);
}

TEST_F(Fields, FlushingAnEmptyBlockWritesBlanks) {
  FlushDemBlock(Out);
  EXPECT_EQ(Sink.Bytes, std::string(1024, ' '));
  EXPECT_EQ(Block.DemBlockUsed, 0);
}

TEST_F(Fields, NothingPassesTheBlockEnd) {
  WriteDemText(Out, std::string(3000, 'z'));
  FlushDemBlock(Out);
  EXPECT_EQ(Sink.Bytes, std::string(1023, 'z') + " ");
}

TEST_F(Fields, IntegerAndTextFields) {
  WriteIntField(Out, -9999, 6, "a");
  WriteIntField(Out, 1, 6, "b");
  WriteIntField(Out, 123456, 6, "c");
  WriteIntField(Out, 3, 2, "d");
  WriteIntField(Out, -99999, 6, "e");
  WriteRightField(Out, "ab", 4);
  WriteLeftField(Out, "cd", 4);
  WriteLeftField(Out, "toolong", 4);
  FlushDemBlock(Out);
  EXPECT_EQ(Sink.Bytes.substr(0, 42), " -9999     1123456 3-99999  abcd  toolong ");
}

TEST_F(Fields, ANumberWiderThanItsFieldFailsNamingFieldAndValue) {
  const struct {
    std::function<void()> write;
    std::string message;
  } cases[] = {
      {[&] { WriteIntField(Out, 1234567, 6, "zone"); }, "The zone 1234567 does not fit its DEM field of 6 characters"},
      {[&] { WriteIntField(Out, -100000, 6, "zone"); }, "The zone -100000 does not fit its DEM field of 6 characters"},
      {[&] { WriteIntField(Out, 100, 2, "horizontal datum"); },
       "The horizontal datum 100 does not fit its DEM field of 2 characters"},
      {[&] { WriteE12Field(Out, -30, "x resolution"); },
       "The x resolution -30 does not fit its DEM field of 12 characters"},
      {[&] { WriteE12Field(Out, 1e150, "y resolution"); },
       "The y resolution 1E150 does not fit its DEM field of 12 characters"},
  };
  for (const auto& c : cases) {
    std::string message = "no error";
    try {
      c.write();
    } catch (const TConvertError& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.message);
  }
  EXPECT_EQ(Block.DemBlockUsed, 0);  // nothing of a field that does not fit is written
  WriteE12Field(Out, 1e99, "x resolution");
  WriteE12Field(Out, 1e-99, "x resolution");
  EXPECT_EQ(std::string(Block.DemBlock.data(), 24), "1.000000E+991.000000E-99");
}

TEST(FormatD24, SixteenDigitsWithD) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {30, "  3.000000000000000D+001"},
      {0.5, "  5.000000000000000D-001"},
      {500010, "  5.000100000000000D+005"},
      {-9999, " -9.999000000000000D+003"},
      {-122.5, " -1.225000000000000D+002"},
      {0, "  0.000000000000000D+000"},
      {-0.0, "  0.000000000000000D+000"},
      {1e-5, "  1.000000000000000D-005"},
      {32766, "  3.276600000000000D+004"},
      {-32765, " -3.276500000000000D+004"},
      {2251799813685248.5, "  2.251799813685249D+015"},  // a tie: away from zero
      {-2251799813685248.5, " -2.251799813685249D+015"},
      {0.1, "  1.000000000000000D-001"},
      {1.0 / 3, "  3.333333333333333D-001"},
      {1e300, "  1.000000000000000D+300"},
      {5040720.123456789, "  5.040720123456789D+006"},
      {std::numeric_limits<double>::denorm_min(), "  4.940656458412465D-324"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatD24(c.value), c.text) << c.value;
    EXPECT_EQ(FormatD24(c.value).size(), 24u);
  }
}

TEST(FormatE12, SevenDigitsWithE) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {30, "3.000000E+01"},    {10, "1.000000E+01"},   {1, "1.000000E+00"},     {0, "0.0         "},
      {-30, "-3.000000E+01"},  {1e100, "1.000000E+100"}, {1.25e-5, "1.250000E-05"},
      {12345665, "1.234567E+07"},  // a tie: away from zero, where printf gives ...566
  };
  for (const auto& c : cases) EXPECT_EQ(FormatE12(c.value), c.text) << c.value;
}

TEST(FormatD24, NonFiniteValuesFail) {
  EXPECT_THROW(FormatD24(std::nan("")), TConvertError);
  EXPECT_THROW(FormatD24(HUGE_VAL), TConvertError);
  EXPECT_THROW(FormatE12(-HUGE_VAL), TConvertError);
}

TEST(FormatD24, SameTextUnderACommaLocale) {
  if (!testing::UseLocale("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 cannot be built here";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  const std::string printed = probe;
  const std::string d24 = FormatD24(-122.5), e12 = FormatE12(30);
  testing::RestoreLocale();
  EXPECT_EQ(printed, "0,5");  // the locale is really in force
  EXPECT_EQ(d24, " -1.225000000000000D+002");
  EXPECT_EQ(e12, "3.000000E+01");
}

}  // namespace
}  // namespace veloran
