#include "iso8211/ddfreader.h"

#include <algorithm>
#include <cstring>

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

std::string ReadFixedText(TStream& stream, int n) {
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  text.resize(static_cast<size_t>(stream.Read(text.data(), n)));
  return text;
}

int32_t ReadFixedInt(TStream& stream, int n) { return StrToInt(ReadFixedText(stream, n)); }

std::string ReadToTerminator(TStream& stream, char& terminator, int64_t end) {
  std::string result;
  while (stream.Position() < end) {
    const int c = stream.ReadByte();
    if (c < 0) break;
    terminator = static_cast<char>(c);
    if (terminator == kUnitTerminator || terminator == kFieldTerminator) break;
    if (static_cast<int64_t>(result.size()) >= kMaxText)
      Fail("The file " + stream.Name() + " is malformed: a value of more than " + std::to_string(kMaxText) +
           " bytes");
    result.push_back(terminator);
  }
  return result;
}

int32_t ReadBigEndianInt(TStream& stream, int width) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  if (width < 1) return 0;
  if (width > 4) width = 4;
  stream.Read(bytes, width);
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return static_cast<int32_t>(value);  // width 4: two's complement
}

void ReverseBytes(unsigned char* buffer, int n) {
  for (int k = 0; k < n - 1 - k; ++k) std::swap(buffer[k], buffer[n - 1 - k]);
}

double DecodeSingle(const unsigned char* bytes, bool swapFloatBytes) {
  unsigned char b[4];
  std::memcpy(b, bytes, 4);
  if (swapFloatBytes) ReverseBytes(b, 4);
  const uint32_t bits = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

double ReadSingle(TStream& stream, bool swapFloatBytes) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  stream.Read(bytes, 4);
  return DecodeSingle(bytes, swapFloatBytes);
}

void ReadDDRLeader(TStream& stream, TDDRLeader& leader) {
  leader.RecordLength = ReadFixedInt(stream, 5);
  leader.InterchangeLevel = ReadFixedInt(stream, 1);
  leader.LeaderId = ReadFixedText(stream, 1);
  leader.InlineCodeExtension = ReadFixedText(stream, 1);
  leader.VersionNumber = ReadFixedText(stream, 1);
  leader.ApplicationIndicator = ReadFixedText(stream, 1);
  leader.FieldControlLength = ReadFixedInt(stream, 2);
  leader.FieldAreaBase = ReadFixedInt(stream, 5);
  leader.ExtendedCharSet = ReadFixedText(stream, 3);
  leader.SizeOfFieldLength = ReadFixedInt(stream, 1);
  leader.SizeOfFieldPos = ReadFixedInt(stream, 1);
  leader.EntryMapReserved = ReadFixedText(stream, 1);
  leader.SizeOfFieldTag = ReadFixedInt(stream, 1);
}

void ReadDRLeader(TStream& stream, TDRLeader& leader) {
  leader.RecordLength = ReadFixedInt(stream, 5);
  leader.InterchangeLevel = ReadFixedText(stream, 1);
  leader.LeaderId = ReadFixedText(stream, 1);
  leader.LeaderControls = ReadFixedText(stream, 5);
  leader.FieldAreaBase = ReadFixedInt(stream, 5);
  leader.ExtendedCharSet = ReadFixedText(stream, 3);
  leader.SizeOfFieldLength = ReadFixedInt(stream, 1);
  leader.SizeOfFieldPos = ReadFixedInt(stream, 1);
  leader.EntryMapReserved = ReadFixedText(stream, 1);
  leader.SizeOfFieldTag = ReadFixedInt(stream, 1);
}

namespace {

// The directory layout shared by the DDR and the data records. Entries past
// the 20th are read and dropped so that the stream stays in step.
void ReadDirectory(TStream& stream, TDDRDirectory& directory, int32_t fieldAreaBase, int32_t sizeOfLength,
                   int32_t sizeOfPos, int32_t sizeOfTag) {
  const int32_t width = sizeOfLength + sizeOfPos + sizeOfTag;
  if (width == 0) Fail("Division by zero");
  directory.Count = (fieldAreaBase - 24 - 1) / width;
  TDDRDirItem spare;
  for (int32_t i = 0; i < directory.Count; ++i) {
    TDDRDirItem& item = i < kMaxEntries ? directory.Items[static_cast<size_t>(i)] : spare;
    item.Tag = ReadFixedText(stream, sizeOfTag);
    item.Length = ReadFixedInt(stream, sizeOfLength);
    item.Position = ReadFixedInt(stream, sizeOfPos);
  }
  stream.ReadByte();  // the directory's field terminator, not checked
  directory.FieldAreaStart = stream.Position();
}

}  // namespace

void ReadDDRDirectory(TStream& stream, TDDRDirectory& directory, const TDDRLeader& leader) {
  ReadDirectory(stream, directory, leader.FieldAreaBase, leader.SizeOfFieldLength, leader.SizeOfFieldPos,
                leader.SizeOfFieldTag);
}

void ReadDRDirectory(TStream& stream, TDDRDirectory& directory, const TDRLeader& leader) {
  ReadDirectory(stream, directory, leader.FieldAreaBase, leader.SizeOfFieldLength, leader.SizeOfFieldPos,
                leader.SizeOfFieldTag);
}

void ReadDataDescriptArea(TStream& stream, TDataDescriptArea& area, const TDDRDirectory& directory,
                          int fieldControlLength) {
  // Only the stored entries have a place to read from; the others stay empty.
  area.Count = directory.Count;
  char terminator = 0;
  for (int i = 0; i < StoredCount(directory.Count); ++i) {
    const TDDRDirItem& entry = directory.Items[static_cast<size_t>(i)];
    TDataDescriptItem& item = area.Items[static_cast<size_t>(i)];
    const int64_t start = directory.FieldAreaStart + entry.Position;
    const int64_t end = start + entry.Length;
    stream.Seek(start);
    item.FieldControls = ReadFixedText(stream, static_cast<int>(std::min<int64_t>(fieldControlLength, entry.Length)));
    item.FieldName = ReadToTerminator(stream, terminator, end);
    item.ArrayDescriptor = ReadToTerminator(stream, terminator, end);
    item.FormatControls = ReadToTerminator(stream, terminator, end);
  }
}

const TDDRDirItem* EntryBeyondRecord(const TStream& stream, const TDDRDirectory& directory, int64_t end) {
  end = std::min(end, stream.Size());
  for (int i = 0; i < StoredCount(directory.Count); ++i) {
    const TDDRDirItem& entry = directory.Items[static_cast<size_t>(i)];
    if (entry.Position < 0 || entry.Length < 0 || directory.FieldAreaStart + entry.Position + entry.Length > end)
      return &entry;
  }
  return nullptr;
}

bool IsLeaderText(const char* leader) {
  return std::all_of(leader, leader + 24, [](char c) { return c >= ' ' && c <= '~'; });
}

void ReadDataDescription(TStream& stream, TDataDescription& description, int maxRecords) {
  const int n = maxRecords > kMaxEntries ? kMaxEntries : maxRecords;
  const int64_t ddrStart = stream.Position();
  // An empty file, or one whose first bytes are no text (a file of zeros,
  // a picture), is not an ISO 8211 file at all.
  char leader[24];
  const int64_t got = stream.Read(leader, sizeof leader);
  if (got == 0) Fail("The file " + stream.Name() + " is malformed: it is empty");
  if (got < 24) Fail("The file " + stream.Name() + " is malformed: it ends within its leader");
  if (!IsLeaderText(leader))
    Fail("The file " + stream.Name() + " is malformed: its first 24 bytes are not an ISO 8211 leader");
  stream.Seek(ddrStart);
  ReadDDRLeader(stream, description.Leader);
  ReadDDRDirectory(stream, description.Directory, description.Leader);
  const int64_t ddrEnd = ddrStart + description.Leader.RecordLength;
  CheckDirectoryBounds(stream, description.Directory, description.Leader.RecordLength > 0 ? ddrEnd : INT64_MAX,
                       [] { return std::string("the descriptive record"); });
  ReadDataDescriptArea(stream, description.DescriptArea, description.Directory,
                       description.Leader.FieldControlLength);
  // The data records follow the descriptive record.
  if (description.Leader.RecordLength > 0) stream.Seek(ddrEnd);

  TDataRecordArray& records = description.Records;
  records.Count = 0;
  for (int pass = 0; pass < n; ++pass) {
    if (stream.Position() >= stream.Size()) break;
    const size_t i = static_cast<size_t>(records.Count++);
    if (!ReadDataRecord(stream, records.Leaders[i], records.Directories[i], static_cast<int>(i + 1))) break;
  }
}

bool ReadDataRecord(TStream& stream, TDRLeader& leader, TDDRDirectory& directory, int number) {
  const int64_t recordStart = stream.Position();
  ReadDRLeader(stream, leader);
  ReadDRDirectory(stream, directory, leader);
  const int32_t length = leader.RecordLength;
  CheckDirectoryBounds(stream, directory, length > 0 ? recordStart + length : INT64_MAX,
                       [&] { return "data record " + std::to_string(number); });
  // A record length of 0 or less gives no place for a next record.
  if (length <= 0) return false;
  stream.Seek(recordStart + length);
  return leader.LeaderId != "R";
}

}  // namespace veloran
