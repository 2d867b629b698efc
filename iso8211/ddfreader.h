// Reading of ISO 8211 ("DDF") files: the descriptive record with its field
// descriptions, and the leaders and directories of the first data records.
// Data fields are not loaded; the lookups read them from the stream, each
// within the bounds its directory entry gives.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "iso8211/stream.h"
#include "support/errors.h"

namespace veloran {

inline constexpr char kUnitTerminator = 0x1F;
inline constexpr char kFieldTerminator = 0x1E;
inline constexpr int kMaxEntries = 20;  // every fixed array holds 20 entries

struct TDDRLeader {
  int32_t RecordLength = 0;
  int32_t InterchangeLevel = 0;
  std::string LeaderId;
  std::string InlineCodeExtension;
  std::string VersionNumber;
  std::string ApplicationIndicator;
  int32_t FieldControlLength = 0;
  int32_t FieldAreaBase = 0;
  std::string ExtendedCharSet;
  int32_t SizeOfFieldLength = 0;
  int32_t SizeOfFieldPos = 0;
  std::string EntryMapReserved;
  int32_t SizeOfFieldTag = 0;
};

struct TDRLeader {
  int32_t RecordLength = 0;
  std::string InterchangeLevel;
  std::string LeaderId;
  std::string LeaderControls;
  int32_t FieldAreaBase = 0;
  std::string ExtendedCharSet;
  int32_t SizeOfFieldLength = 0;
  int32_t SizeOfFieldPos = 0;
  std::string EntryMapReserved;
  int32_t SizeOfFieldTag = 0;
};

struct TDDRDirItem {
  std::string Tag;
  int32_t Length = 0;
  int32_t Position = 0;
};

// Count is the number of entries the leader announces; only the first
// kMaxEntries of them are kept in Items (see StoredCount).
struct TDDRDirectory {
  int32_t Count = 0;
  int64_t FieldAreaStart = 0;
  std::array<TDDRDirItem, kMaxEntries> Items;
};

struct TDataDescriptItem {
  std::string FieldControls;
  std::string FieldName;
  std::string ArrayDescriptor;
  std::string FormatControls;
};

struct TDataDescriptArea {
  int32_t Count = 0;
  std::array<TDataDescriptItem, kMaxEntries> Items;
};

struct TDataRecordArray {
  int32_t Count = 0;
  std::array<TDRLeader, kMaxEntries> Leaders;
  std::array<TDDRDirectory, kMaxEntries> Directories;
};

struct TDataDescription {
  TDDRLeader Leader;
  TDDRDirectory Directory;
  TDataDescriptArea DescriptArea;
  TDataRecordArray Records;
};

// The number of entries actually held in a 20-entry array for a count.
inline int StoredCount(int32_t count) { return count <= 0 ? 0 : (count < kMaxEntries ? count : kMaxEntries); }

void ReadDataDescription(TStream& stream, TDataDescription& description, int maxRecords);
// Whether 24 bytes can be an ISO 8211 leader: printable ASCII only (an
// empty file, a file of zeros or a picture is no ISO 8211 file).
bool IsLeaderText(const char* leader);
void ReadDDRLeader(TStream& stream, TDDRLeader& leader);
void ReadDDRDirectory(TStream& stream, TDDRDirectory& directory, const TDDRLeader& leader);
// Each description is read within its directory entry; the first
// fieldControlLength characters are its field controls.
void ReadDataDescriptArea(TStream& stream, TDataDescriptArea& area, const TDDRDirectory& directory,
                          int fieldControlLength = 6);
// The first stored entry of the directory that lies outside the bytes from
// its field area to `end` (the end of its record or of the file), or null.
const TDDRDirItem* EntryBeyondRecord(const TStream& stream, const TDDRDirectory& directory, int64_t end);
// Fails when such an entry exists, naming the record with `recordName()`,
// which is called only then: the cell reader checks every record.
template <class FRecordName>
void CheckDirectoryBounds(const TStream& stream, const TDDRDirectory& directory, int64_t end,
                          FRecordName&& recordName) {
  if (const TDDRDirItem* entry = EntryBeyondRecord(stream, directory, end))
    Fail("The file " + stream.Name() + " is malformed: the field " + entry->Tag + " of " + recordName() +
         " reaches beyond its record");
}
// The data record at the stream's position, its directory checked to lie
// within it (failures name it as data record `number`); the stream then
// stands at the next record. False when no record can follow: a leader
// "R", or a record length of 0 or less.
bool ReadDataRecord(TStream& stream, TDRLeader& leader, TDDRDirectory& directory, int number);
void ReadDRLeader(TStream& stream, TDRLeader& leader);
void ReadDRDirectory(TStream& stream, TDDRDirectory& directory, const TDRLeader& leader);

// Exactly n bytes, or fewer when the end of the stream cuts the read short.
std::string ReadFixedText(TStream& stream, int n);
// n bytes as a strict decimal integer; fails with "'%s' is not a valid integer value".
int32_t ReadFixedInt(TStream& stream, int n);
// The bytes up to the next UT or FT, which is consumed and stored in
// `terminator`; at `end` or at the end of the stream what was read,
// terminator unchanged when nothing was. A text longer than kMaxText fails:
// no metadata value is that long, and memory must not follow a file's size
// (20 values of a repeating field then take at most 1.3 MiB).
inline constexpr int64_t kMaxText = 1 << 16;
std::string ReadToTerminator(TStream& stream, char& terminator, int64_t end = INT64_MAX);
// w bytes (1 to 4), most significant first; width 4 is signed. Missing bytes
// at the end of the stream count as 0.
int32_t ReadBigEndianInt(TStream& stream, int width);
void ReverseBytes(unsigned char* buffer, int n);
// A 4-byte IEEE single, least significant byte first, or most significant
// first when swapFloatBytes is set; widened to double.
double ReadSingle(TStream& stream, bool swapFloatBytes);
// The same for 4 bytes already read.
double DecodeSingle(const unsigned char* bytes, bool swapFloatBytes);

}  // namespace veloran
