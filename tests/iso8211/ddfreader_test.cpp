#include "iso8211/ddfreader.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/errors.h"
#include "samplegen/ddf_writer.h"

namespace veloran {
namespace {

using testing::FT;
using testing::TDdfWriter;
using testing::Text;
using testing::UT;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const TConvertError& e) {
    return e.what();
  }
  return "no error";
}

TDdfWriter IdenModule() {
  return TDdfWriter({{"0001", "DDF RECORD IDENTIFIER", "", "", "0100;&"},
                     {"IDEN", "IDENTIFICATION", "MODN!RCID!TITL", "(A,I,A)"}});
}

TEST(ReadDataDescription, ReadsTheDdrAndTheRecordDirectories) {
  TDdfWriter w = IdenModule();
  w.Record({{"0001", Text({"1"})}, {"IDEN", Text({"IDEN", "1", "CASCADE"})}});
  TMemoryStream s(w.Bytes());
  TDataDescription d;
  ReadDataDescription(s, d, 1);

  EXPECT_EQ(d.Leader.InterchangeLevel, 3);
  EXPECT_EQ(d.Leader.LeaderId, "L");
  EXPECT_EQ(d.Leader.FieldControlLength, 6);
  EXPECT_EQ(d.Leader.SizeOfFieldLength, 3);
  EXPECT_EQ(d.Leader.SizeOfFieldPos, 4);
  EXPECT_EQ(d.Leader.SizeOfFieldTag, 4);
  ASSERT_EQ(d.Directory.Count, 2);
  EXPECT_EQ(d.Directory.Items[1].Tag, "IDEN");
  ASSERT_EQ(d.DescriptArea.Count, 2);
  const TDataDescriptItem& iden = d.DescriptArea.Items[1];
  EXPECT_EQ(iden.FieldControls, "1600;&");
  EXPECT_EQ(iden.FieldName, "IDENTIFICATION");
  EXPECT_EQ(iden.ArrayDescriptor, "MODN!RCID!TITL");
  EXPECT_EQ(iden.FormatControls, "(A,I,A)");
  EXPECT_EQ(d.DescriptArea.Items[0].ArrayDescriptor, "");

  ASSERT_EQ(d.Records.Count, 1);
  EXPECT_EQ(d.Records.Leaders[0].LeaderId, "D");
  const TDDRDirectory& rec = d.Records.Directories[0];
  ASSERT_EQ(rec.Count, 2);
  EXPECT_EQ(rec.Items[1].Tag, "IDEN");
  EXPECT_EQ(rec.Items[1].Length, 15);
  EXPECT_EQ(rec.Items[1].Position, 2);
  // The field area begins right after the directory terminator.
  s.Seek(rec.FieldAreaStart + rec.Items[1].Position);
  EXPECT_EQ(ReadFixedText(s, 4), "IDEN");
}

TEST(ReadDataDescription, RecordLoopLimits) {
  auto module = [](int records, char firstId) {
    TDdfWriter w = IdenModule();
    for (int i = 0; i < records; ++i)
      w.Record({{"IDEN", Text({"IDEN", std::to_string(i + 1), "T"})}}, i == 0 ? firstId : 'D');
    return w.Bytes();
  };
  struct Case {
    int records;
    char firstId;
    int maxRecords;
    int expected;
  } cases[] = {
      {3, 'D', 0, 0}, {3, 'D', 4, 3}, {3, 'D', 1, 1}, {25, 'D', 25, 20},
      {30, 'D', 100, 20}, {0, 'D', 4, 0}, {5, 'R', 4, 1}, {5, 'R', 20, 1},
  };
  for (const auto& c : cases) {
    TMemoryStream s(module(c.records, c.firstId));
    TDataDescription d;
    ReadDataDescription(s, d, c.maxRecords);
    EXPECT_EQ(d.Records.Count, c.expected) << c.records << " " << c.maxRecords;
  }
}

TEST(ReadDataDescription, MaxRecordsZeroStopsAfterTheDescriptions) {
  TDdfWriter w = IdenModule();
  w.Record({{"IDEN", Text({"IDEN", "1", "T"})}});
  TMemoryStream s(w.Bytes());
  TDataDescription d;
  ReadDataDescription(s, d, 0);
  EXPECT_EQ(d.Records.Count, 0);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(w.Ddr().size()));
}

TEST(ReadDataDescription, ARecordEndingAtTheEndOfTheFileIsRead) {
  TDdfWriter w = IdenModule();
  w.Record({{"IDEN", Text({"IDEN", "1", "T"})}}).Record({{"IDEN", Text({"IDEN", "2", "U"})}});
  TMemoryStream s(w.Bytes());
  TDataDescription d;
  ReadDataDescription(s, d, 4);
  EXPECT_EQ(d.Records.Count, 2);
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(ReadDataDescription, RecordLengthOfZeroDoesNotRereadTheRecord) {
  std::string record = testing::MakeRecord({{"IDEN", Text({"IDEN", "1", "T"})}}, 'D', 4, 5, 4);
  record.replace(0, 5, "00000");
  TMemoryStream s(IdenModule().Ddr() + record + record);
  TDataDescription d;
  ReadDataDescription(s, d, 20);
  EXPECT_EQ(d.Records.Count, 1);
}

TEST(ReadDirectory, EntryCountFromTheLeader) {
  // Sizes 3, 4, 4 and base 58: (58 - 25) / 11 = 3 entries.
  // Sizes 1, 2, 4 and base 60: (60 - 25) / 7 = 5 entries.
  struct Case {
    int len, pos, tag, base, expected;
  } cases[] = {{3, 4, 4, 58, 3}, {1, 2, 4, 60, 5}, {3, 4, 4, 24, 0}, {3, 4, 4, 35, 0}, {3, 4, 4, 36, 1}};
  for (const auto& c : cases) {
    std::string leader = "00000 D     " + std::to_string(100000 + c.base).substr(1) + "   " + std::to_string(c.len) +
                         std::to_string(c.pos) + "0" + std::to_string(c.tag);
    std::string entries;
    for (int i = 0; i < 5; ++i)
      entries += std::string(static_cast<size_t>(c.tag), 'T') + std::string(static_cast<size_t>(c.len), '1') +
                 std::string(static_cast<size_t>(c.pos), '2');
    TMemoryStream s(leader + entries + FT + "rest");
    TDRLeader l;
    TDDRDirectory dir;
    ReadDRLeader(s, l);
    ReadDRDirectory(s, dir, l);
    EXPECT_EQ(dir.Count, c.expected) << c.base;
    const int64_t width = c.len + c.pos + c.tag;
    EXPECT_EQ(dir.FieldAreaStart, 24 + (c.expected > 0 ? c.expected : 0) * width + 1);
  }
}

TEST(ReadDirectory, MoreThanTwentyEntriesAreReadAndDropped) {
  std::vector<testing::TFieldData> fields;
  for (int i = 0; i < 23; ++i) fields.push_back({"F" + std::to_string(100 + i), Text({std::to_string(i)})});
  std::vector<testing::TFieldDef> defs;
  for (int i = 0; i < 23; ++i) defs.push_back({"F" + std::to_string(100 + i), "FIELD", "V", "(A)"});
  TDdfWriter w(defs);
  w.Record(fields).Record(fields);
  TMemoryStream s(w.Bytes());
  TDataDescription d;
  ReadDataDescription(s, d, 5);
  EXPECT_EQ(d.Directory.Count, 23);
  EXPECT_EQ(d.DescriptArea.Count, 23);
  EXPECT_EQ(d.DescriptArea.Items[19].FieldName, "FIELD");
  EXPECT_EQ(d.Directory.Items[19].Tag, "F119");
  // Sequential reading stayed in step: both records were found.
  ASSERT_EQ(d.Records.Count, 2);
  EXPECT_EQ(d.Records.Directories[1].Count, 23);
  EXPECT_EQ(d.Records.Directories[1].Items[19].Tag, "F119");
}

TEST(ReadDataDescriptArea, EachDescriptionIsReadWithinItsEntry) {
  // The first description's name is closed by FT: its other parts are
  // empty, and the next description is read from its own entry.
  const std::string first = std::string("1600;&NAME1") + FT;
  const std::string second = std::string("1600;&NAME2") + UT + "A!B" + UT + "(A)" + FT;
  TMemoryStream s(first + second);
  TDDRDirectory dir;
  dir.Count = 2;
  dir.Items[0] = {"F1", static_cast<int32_t>(first.size()), 0};
  dir.Items[1] = {"F2", static_cast<int32_t>(second.size()), static_cast<int32_t>(first.size())};
  TDataDescriptArea a;
  ReadDataDescriptArea(s, a, dir);
  EXPECT_EQ(a.Items[0].FieldName, "NAME1");
  EXPECT_EQ(a.Items[0].ArrayDescriptor, "");
  EXPECT_EQ(a.Items[0].FormatControls, "");
  EXPECT_EQ(a.Items[1].FieldControls, "1600;&");
  EXPECT_EQ(a.Items[1].FieldName, "NAME2");
  EXPECT_EQ(a.Items[1].ArrayDescriptor, "A!B");
  EXPECT_EQ(a.Items[1].FormatControls, "(A)");
}

TEST(ReadDataDescription, TheLeadersFieldControlLengthIsHonoured) {
  TDdfWriter w({{"0001", "DDF RECORD IDENTIFIER", "", "", "0100;&ABC"},
                {"IDEN", "IDENTIFICATION", "MODN!RCID!TITL", "(A,I,A)", "1600;&ABC"}});
  std::string ddr = w.Ddr();
  ddr.replace(10, 2, "09");
  TMemoryStream s(ddr);
  TDataDescription d;
  ReadDataDescription(s, d, 1);
  EXPECT_EQ(d.Leader.FieldControlLength, 9);
  EXPECT_EQ(d.DescriptArea.Items[1].FieldControls, "1600;&ABC");
  EXPECT_EQ(d.DescriptArea.Items[1].FieldName, "IDENTIFICATION");
  EXPECT_EQ(d.DescriptArea.Items[1].ArrayDescriptor, "MODN!RCID!TITL");
}

TEST(ReadDataDescription, EntriesBeyondTheirRecordOrTheFileAreMalformed) {
  const std::string good = IdenModule().Record({{"IDEN", Text({"IDEN", "1", "T"})}}).Bytes();
  const size_t ddr = IdenModule().Ddr().size();
  struct Case {
    std::string bytes;
    std::string message;
  } cases[] = {
      // The IDEN entry of the data record: tag, 4-digit length, 5-digit position.
      {std::string(good).replace(ddr + 24 + 4, 4, "0016"),
       "The file (memory) is malformed: the field IDEN of data record 1 reaches beyond its record"},
      {std::string(good).replace(ddr + 24 + 8, 5, "00003"),
       "The file (memory) is malformed: the field IDEN of data record 1 reaches beyond its record"},
      {std::string(good).replace(ddr + 24 + 4, 4, "-001"),
       "The file (memory) is malformed: the field IDEN of data record 1 reaches beyond its record"},
      // The record length 0: the file's end bounds the fields.
      {std::string(good).replace(ddr, 5, "00000").substr(0, good.size() - 1),
       "The file (memory) is malformed: the field IDEN of data record 1 reaches beyond its record"},
      // The DDR's own IDEN description (entry 2: length at 24+11+4, 3 digits).
      {std::string(good).replace(24 + 11 + 4, 3, "999"),
       "The file (memory) is malformed: the field IDEN of the descriptive record reaches beyond its record"},
  };
  for (const auto& c : cases) {
    TMemoryStream s(c.bytes);
    TDataDescription d;
    EXPECT_EQ(ErrorOf([&] { ReadDataDescription(s, d, 1); }), c.message);
  }
  // A value without terminators never grows past the bound a file may claim.
  const std::string endless = std::string(kMaxText + 10, 'x');
  TMemoryStream big(endless);
  char terminator = 0;
  EXPECT_EQ(ErrorOf([&] { ReadToTerminator(big, terminator); }),
            "The file (memory) is malformed: a value of more than 65536 bytes");
}

TEST(ReadDataDescription, MalformedFilesFailWithTheirMessages) {
  const std::string good = IdenModule().Record({{"IDEN", Text({"IDEN", "1", "T"})}}).Bytes();
  struct Case {
    std::string bytes;
    std::string message;
  } cases[] = {
      {good.substr(0, 0), "The file (memory) is malformed: it is empty"},
      {"12", "The file (memory) is malformed: it ends within its leader"},
      {std::string(good.size(), '\0'), "The file (memory) is malformed: its first 24 bytes are not an ISO 8211 leader"},
      {std::string(good).replace(5, 1, " "), "' ' is not a valid integer value"},
      {std::string(good).replace(0, 5, "00a12"), "'00a12' is not a valid integer value"},
      {std::string(good).replace(20, 4, "0000"), "Division by zero"},
      {std::string(good).replace(24 + 4, 3, "0x1"), "'0x1' is not a valid integer value"},
      // The data record's leader.
      {good.substr(0, IdenModule().Ddr().size()) + "0004" + std::string(20, ' '), "'0004 ' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    TMemoryStream s(c.bytes);
    TDataDescription d;
    EXPECT_EQ(ErrorOf([&] { ReadDataDescription(s, d, 1); }), c.message) << c.bytes.size();
  }
}

TEST(ReadFixedText, ShortAtTheEndOfTheStream) {
  TMemoryStream s("abc");
  EXPECT_EQ(ReadFixedText(s, 0), "");
  EXPECT_EQ(ReadFixedText(s, 2), "ab");
  EXPECT_EQ(ReadFixedText(s, 5), "c");
  EXPECT_EQ(ReadFixedText(s, 5), "");
}

TEST(ReadToTerminator, StopsAtUnitOrFieldTerminator) {
  TMemoryStream s(std::string("ab") + UT + "c" + FT + "de");
  char t = '?';
  EXPECT_EQ(ReadToTerminator(s, t), "ab");
  EXPECT_EQ(t, UT);
  EXPECT_EQ(ReadToTerminator(s, t), "c");
  EXPECT_EQ(t, FT);
  EXPECT_EQ(ReadToTerminator(s, t), "de");
  EXPECT_EQ(t, 'e');
  t = '?';
  EXPECT_EQ(ReadToTerminator(s, t), "");
  EXPECT_EQ(t, '?');
}

TEST(BigEndian, IntegersAndSingles) {
  struct IntCase {
    std::string bytes;
    int width;
    int32_t value;
  } ints[] = {
      {"\x01\x02", 2, 258},
      {"\xFF\xFE", 2, 65534},
      {std::string("\xFF\xFF\xFF\xFE", 4), 4, -2},
      {std::string("\x00\x00\x0F\xA0", 4), 4, 4000},
      {"\x7F", 1, 127},
      {std::string("\x01\x00\x00", 3), 3, 65536},
  };
  for (const auto& c : ints) {
    TMemoryStream s(c.bytes);
    EXPECT_EQ(ReadBigEndianInt(s, c.width), c.value);
  }
  TMemoryStream be(std::string("\x3F\x80\x00\x00", 4));
  EXPECT_EQ(ReadSingle(be, true), 1.0);
  TMemoryStream le(std::string("\x00\x00\x80\x3F", 4));
  EXPECT_EQ(ReadSingle(le, false), 1.0);
  TMemoryStream big(std::string("\x44\x9A\x50\x00", 4));  // 1234.5
  EXPECT_EQ(ReadSingle(big, true), 1234.5);
}

TEST(ReverseBytes, SwapsAroundTheMiddle) {
  unsigned char odd[] = {1, 2, 3, 4, 5};
  ReverseBytes(odd, 5);
  EXPECT_EQ(std::vector<unsigned char>(odd, odd + 5), (std::vector<unsigned char>{5, 4, 3, 2, 1}));
  unsigned char even[] = {1, 2, 3, 4};
  ReverseBytes(even, 4);
  EXPECT_EQ(std::vector<unsigned char>(even, even + 4), (std::vector<unsigned char>{4, 3, 2, 1}));
  ReverseBytes(even, 1);
  EXPECT_EQ(even[0], 4);
}

TEST(Stream, NegativeSeekFailsAndMissingFileIsNamed) {
  TMemoryStream s("abc", "m.ddf");
  EXPECT_EQ(ErrorOf([&] { s.Seek(-1); }), "'-1' is not a valid stream position in m.ddf");
  s.Seek(100);
  EXPECT_EQ(s.ReadByte(), -1);
  EXPECT_EQ(ErrorOf([] { TFileStream f("/nonexistent/dir/1234DDSH.DDF"); }),
            "Cannot open file /nonexistent/dir/1234DDSH.DDF: No such file or directory");
  EXPECT_EQ(ErrorOf([] { TFileStream f("/"); }), "/ is not a regular file");
}

TEST(Stream, FileStreamReadsAcrossItsBuffer) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(i * 7));
  const std::string path = ::testing::TempDir() + "/stream_test.bin";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  TFileStream s(path);
  EXPECT_EQ(s.Size(), 200000);
  std::string got(70000, '\0');
  s.Seek(100);
  EXPECT_EQ(s.Read(got.data(), 70000), 70000);
  EXPECT_EQ(got, bytes.substr(100, 70000));
  s.Seek(65535);
  EXPECT_EQ(s.ReadByte(), static_cast<unsigned char>(bytes[65535]));
  EXPECT_EQ(s.ReadByte(), static_cast<unsigned char>(bytes[65536]));
  s.Seek(199998);
  EXPECT_EQ(s.Read(got.data(), 10), 2);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace veloran
