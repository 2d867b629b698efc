// Builds ISO 8211 module files for tests: a descriptive record with field
// descriptions, "D" records each with leader and directory, and an "R"
// record followed by leaderless records.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veloran::testing {

inline constexpr char UT = 0x1F;
inline constexpr char FT = 0x1E;

struct TFieldDef {
  std::string Tag;
  std::string Name;
  std::string Descriptor;  // labels joined by "!"
  std::string Format;      // format controls, e.g. "(A,I)"
  std::string Controls = "1600;&";
};

using TFieldData = std::pair<std::string, std::string>;  // tag, bytes with terminators

// Text subfields closed by UT, the last by FT: Text({"a","b"}) is "a<UT>b<FT>".
std::string Text(const std::vector<std::string>& values);
// 32-bit big-endian integers followed by FT.
std::string BinInt32(const std::vector<int32_t>& values);
// Cells of a CVLS field, big-endian, followed by FT.
std::string Int16Cells(const std::vector<int16_t>& cells);
std::string Float32Cells(const std::vector<float>& cells);

class TDdfWriter {
 public:
  explicit TDdfWriter(std::vector<TFieldDef> fields) : Fields(std::move(fields)) {}

  // Entry-map sizes of the records: length, position, tag.
  int SizeOfFieldLength = 4, SizeOfFieldPos = 5, SizeOfFieldTag = 4;

  TDdfWriter& Record(const std::vector<TFieldData>& fields, char leaderId = 'D');
  // Field bytes only, sharing the layout of the "R" record before it.
  TDdfWriter& LeaderlessRecord(const std::vector<TFieldData>& fields);
  // Bytes appended as they are.
  TDdfWriter& Raw(const std::string& bytes);

  std::string Bytes() const;
  void WriteFile(const std::string& path) const;

  // The descriptive record alone.
  std::string Ddr() const;

 private:
  std::vector<TFieldDef> Fields;
  std::string Body;
};

// A record with leader and directory.
std::string MakeRecord(const std::vector<TFieldData>& fields, char leaderId, int sizeOfLength, int sizeOfPos,
                       int sizeOfTag);

}  // namespace veloran::testing
