#include "iso8211/subfields.h"

#include <gtest/gtest.h>

#include "samplegen/ddf_writer.h"

namespace veloran {
namespace {

using testing::BinInt32;
using testing::FT;
using testing::TDdfWriter;
using testing::Text;
using testing::UT;

TEST(NextToken, ConsumesTheDelimiter) {
  int p = 1;
  EXPECT_EQ(NextToken("AB!C", '!', p), "AB");
  EXPECT_EQ(p, 4);
  EXPECT_EQ(NextToken("AB!C", '!', p), "C");
  EXPECT_EQ(p, 5);
  EXPECT_EQ(NextToken("AB!C", '!', p), "");
}

TEST(SplitArrayDescriptor, StopsAtTheFirstEmptyLabel) {
  struct Case {
    const char* descriptor;
    std::vector<std::string> labels;
  } cases[] = {
      {"MODN!RCID!TITL", {"MODN", "RCID", "TITL"}},
      {"*X!Y", {"*X", "Y"}},
      {"A!!B", {"A"}},
      {"!A", {}},
      {"", {}},
      {"A!", {"A"}},
  };
  for (const auto& c : cases) {
    TFieldArray f;
    SplitArrayDescriptor(c.descriptor, f);
    ASSERT_EQ(f.Count, static_cast<int>(c.labels.size())) << c.descriptor;
    for (size_t i = 0; i < c.labels.size(); ++i) EXPECT_EQ(f.Items[i].Label, c.labels[i]);
  }
  std::string many;
  for (int i = 0; i < 25; ++i) many += "L" + std::to_string(i) + "!";
  TFieldArray f;
  SplitArrayDescriptor(many, f);
  EXPECT_EQ(f.Count, 20);
  EXPECT_EQ(f.Items[19].Label, "L19");
  EXPECT_EQ(FindFieldLabel("L22", f), -1);
}

TEST(FindFieldLabel, ExactAndCaseSensitive) {
  TFieldArray f;
  SplitArrayDescriptor("*X!Y", f);
  EXPECT_EQ(FindFieldLabel("*X", f), 0);
  EXPECT_EQ(FindFieldLabel("X", f), -1);
  EXPECT_EQ(FindFieldLabel("Y", f), 1);
  EXPECT_EQ(FindFieldLabel("y", f), -1);
  f.Count = 0;
  EXPECT_EQ(FindFieldLabel("*X", f), -1);
}

class Lookups : public ::testing::Test {
 protected:
  void Build(TDdfWriter w, int maxRecords = 4) {
    Stream = std::make_unique<TMemoryStream>(w.Bytes());
    ReadDataDescription(*Stream, D, maxRecords);
  }
  std::unique_ptr<TMemoryStream> Stream;
  TDataDescription D;
};

TEST_F(Lookups, TextIntAndRealByLabel) {
  TDdfWriter w({{"0001", "DDF RECORD IDENTIFIER", "", "", "0100;&"},
                {"IDEN", "IDENTIFICATION", "MODN!RCID!TITL!SCAL!DAID", "(A,I,A,I,A)"},
                {"IREF", "INTERNAL SPATIAL REFERENCE", "SFAX!XHRS", "(2R)"}});
  w.Record({{"0001", Text({"1"})},
            {"IDEN", Text({"IDEN", "  42", "CASCADE PASS", "24000 ", "1.5"})},
            {"IREF", Text({"0.01", "30.0"})}});
  w.Record({{"0001", Text({"2"})}, {"IDEN", Text({"IDEN", "2", "SECOND", "7", ""})}});
  Build(w);
  TMemoryStream& s = *Stream;
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "TITL", 0, D), "CASCADE PASS");
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "MODN", 0, D), "IDEN");
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "TITL", 1, D), "SECOND");
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "RCID", 0, D), 42);    // leading blanks
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "SCAL", 0, D), 0);     // trailing blank
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "DAID", 0, D), 0);     // decimal point
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "DAID", 1, D), 0);     // empty
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "SCAL", 1, D), 7);
  EXPECT_DOUBLE_EQ(GetSubfieldReal(s, "IREF", "SFAX", 0, D, '.'), 0.01);
  EXPECT_DOUBLE_EQ(GetSubfieldReal(s, "IREF", "XHRS", 0, D, '.'), 30.0);

  // Not found: unknown tag, label in another case, field absent from the
  // record, record number out of range.
  EXPECT_EQ(GetSubfieldText(s, "XXXX", "TITL", 0, D), "");
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "titl", 0, D), "");
  EXPECT_EQ(GetSubfieldText(s, "IREF", "SFAX", 1, D), "");
  EXPECT_DOUBLE_EQ(GetSubfieldReal(s, "IREF", "SFAX", 1, D, '.'), 0.0);
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "TITL", 2, D), "");
  EXPECT_EQ(GetSubfieldText(s, "IDEN", "TITL", -1, D), "");
  EXPECT_EQ(GetSubfieldInt(s, "IDEN", "RCID", 7, D), 0);

  int sub = 0, field = 0;
  LocateSubfield("IDEN", "TITL", 0, D, sub, field);
  EXPECT_EQ(sub, 2);
  EXPECT_EQ(field, 1);
  LocateSubfield("IDEN", "NOPE", 0, D, sub, field);
  EXPECT_EQ(sub, -1);
  EXPECT_EQ(field, -1);
  LocateSubfield("IREF", "XHRS", 1, D, sub, field);
  EXPECT_EQ(sub, 1);
  EXPECT_EQ(field, -1);

  EXPECT_EQ(GetFormatControls("IREF", D), "(2R)");
  EXPECT_EQ(GetFormatControls("SADR", D), "");
}

TEST_F(Lookups, ModuleWithoutDataRecordsFindsNothing) {
  Build(TDdfWriter({{"IDEN", "IDENTIFICATION", "MODN!RCID!TITL", "(A,I,A)"}}));
  EXPECT_EQ(D.Records.Count, 0);
  EXPECT_EQ(GetSubfieldText(*Stream, "IDEN", "TITL", 0, D), "");
  TStringArray values;
  GetSubfieldValues(*Stream, "IDEN", "MODN", 0, D, values);
  EXPECT_EQ(values.Count, 0);
}

TEST_F(Lookups, BinaryValuesAreCountedByWidth) {
  // Binary values may hold the terminator bytes 0x1E and 0x1F.
  TDdfWriter w({{"SADR", "SPATIAL ADDRESS", "X!Y", "(2B(32))"}});
  w.Record({{"SADR", BinInt32({0x1E1F1E1F, -5})}});
  Build(w);
  EXPECT_EQ(GetSubfieldBinInt(*Stream, "SADR", "X", 4, 0, D), 0x1E1F1E1F);
  EXPECT_EQ(GetSubfieldBinInt(*Stream, "SADR", "Y", 4, 0, D), -5);
  EXPECT_EQ(GetSubfieldBinInt(*Stream, "SADR", "Z", 4, 0, D), 0);
  EXPECT_EQ(GetSubfieldBinInt(*Stream, "SADR", "X", 4, 3, D), 0);
}

TEST_F(Lookups, ValuesToTheEndOfTheField) {
  TDdfWriter w({{"DMSA", "DOMAIN SPATIAL ADDRESS", "*X!Y", "(2R)"}});
  w.Record({{"DMSA", Text({"1", "2", "3", "4", "5", "6", "7", "8"})}});
  Build(w);
  TStringArray v;
  GetSubfieldValues(*Stream, "DMSA", "X", 0, D, v);
  EXPECT_EQ(v.Count, 0);
  GetSubfieldValues(*Stream, "DMSA", "*X", 0, D, v);
  ASSERT_EQ(v.Count, 8);
  EXPECT_EQ(v.Items[0], "1");
  EXPECT_EQ(v.Items[7], "8");
  GetSubfieldValues(*Stream, "DMSA", "Y", 0, D, v);
  ASSERT_EQ(v.Count, 7);
  EXPECT_EQ(v.Items[0], "2");
}

TEST_F(Lookups, ValuesAreCappedAndStopAtTheEndOfTheFile) {
  std::vector<std::string> many;
  for (int i = 0; i < 30; ++i) many.push_back(std::to_string(i));
  TDdfWriter w({{"DMSA", "DOMAIN SPATIAL ADDRESS", "*X!Y", "(2R)"}});
  w.Record({{"DMSA", Text(many)}});
  Build(w);
  TStringArray v;
  GetSubfieldValues(*Stream, "DMSA", "*X", 0, D, v);
  EXPECT_EQ(v.Count, 20);
  EXPECT_EQ(v.Items[19], "19");

  // A field whose directory length ends before its FT: the values end with
  // the field, never in the bytes after it.
  TDdfWriter two({{"DMSA", "DOMAIN SPATIAL ADDRESS", "*X!Y", "(2R)"}, {"NEXT", "NEXT", "N", "(A)"}});
  two.Record({{"DMSA", Text({"1", "2", "3"})}, {"NEXT", Text({"n"})}});
  std::string bytes = two.Bytes();
  const std::string ddr = two.Ddr();
  // The DMSA entry of the record's directory: tag, 4-digit length, 5-digit position.
  const size_t entry = ddr.size() + 24;
  ASSERT_EQ(bytes.substr(entry, 8), "DMSA0006");
  bytes.replace(entry + 4, 4, "0003");  // "1" UT "2"
  TMemoryStream cut(bytes);
  TDataDescription d;
  ReadDataDescription(cut, d, 1);
  GetSubfieldValues(cut, "DMSA", "*X", 0, d, v);
  ASSERT_EQ(v.Count, 2);
  EXPECT_EQ(v.Items[1], "2");
}

TEST_F(Lookups, ASubfieldBeyondItsFieldIsNotFound) {
  // The field holds one value: labels past it find nothing, never the bytes
  // of the next field; so does a binary value past the field's end.
  TDdfWriter w({{"ATTR", "ATTRIBUTES", "A!B!C", "(3A)"}, {"NEXT", "NEXT", "N", "(A)"}});
  w.Record({{"ATTR", Text({"a"})}, {"NEXT", Text({"n"})}});
  Build(w);
  EXPECT_EQ(GetSubfieldText(*Stream, "ATTR", "A", 0, D), "a");
  EXPECT_EQ(GetSubfieldText(*Stream, "ATTR", "B", 0, D), "");
  EXPECT_EQ(GetSubfieldText(*Stream, "ATTR", "C", 0, D), "");
  EXPECT_EQ(GetSubfieldBinInt(*Stream, "ATTR", "B", 4, 0, D), 0);
  EXPECT_EQ(GetSubfieldText(*Stream, "NEXT", "N", 0, D), "n");
}

// A subfield's integer by the layout the format controls give: fixed
// widths (as USGS cell modules write CELL), delimited values and binary
// ones; controls not read here are told apart from values not there.
TEST(FormatControls, IntegersByTheLayoutTheyGive) {
  const struct {
    const char* Controls;
    std::string Field;
    size_t Index;
    bool Parsed, Found;
    int32_t Value;
  } cases[] = {
      {"(A(4),3I(5))", "CEL0000010000700001\x1E", 2, true, true, 7},
      {"( A(4), 3I(5) )", "CEL00000100007", 3, true, false, 0},  // cut short
      {"(A,3I)", "CEL0\x1F" "12\x1F-3\x1F" "4\x1E", 2, true, true, -3},
      {"(A,3I)", "CEL0\x1F" "12\x1F\x1F" "4\x1E", 2, true, false, 0},  // empty
      {"(A(2),2B(16))", std::string("AB\x00\x05\xFF\xFE", 6), 2, true, true, -2},
      {"(A,2(I,R))", "", 0, false, false, 0},
      {"(A,B(12))", "", 0, false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Controls);
    std::vector<TSubfieldForm> forms;
    ASSERT_EQ(ParseFormatControls(c.Controls, forms), c.Parsed);
    if (!c.Parsed) continue;
    int32_t value = 0;
    EXPECT_EQ(SubfieldIntAt(c.Field, forms, c.Index, value), c.Found);
    if (c.Found) {
      EXPECT_EQ(value, c.Value);
    }
  }
}

}  // namespace
}  // namespace veloran
