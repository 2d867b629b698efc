#include "samplegen/ddf_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace veloran::testing {

namespace {

std::string Digits(long value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*ld", width, value);
  return buf;
}

}  // namespace

std::string Text(const std::vector<std::string>& values) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i) {
    out += values[i];
    out += (i + 1 == values.size()) ? FT : UT;
  }
  if (values.empty()) out += FT;
  return out;
}

std::string BinInt32(const std::vector<int32_t>& values) {
  std::string out;
  for (int32_t v : values) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((u >> shift) & 0xFF);
  }
  return out + FT;
}

std::string Int16Cells(const std::vector<int16_t>& cells) {
  std::string out;
  for (int16_t v : cells) {
    const auto u = static_cast<uint16_t>(v);
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  }
  return out + FT;
}

std::string Float32Cells(const std::vector<float>& cells) {
  std::string out;
  for (float f : cells) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((u >> shift) & 0xFF);
  }
  return out + FT;
}

std::string MakeRecord(const std::vector<TFieldData>& fields, char leaderId, int sizeOfLength, int sizeOfPos,
                       int sizeOfTag) {
  std::string directory, area;
  for (const auto& [tag, bytes] : fields) {
    directory += tag + Digits(static_cast<long>(bytes.size()), sizeOfLength) +
                 Digits(static_cast<long>(area.size()), sizeOfPos);
    area += bytes;
  }
  directory += FT;
  const long base = 24 + static_cast<long>(directory.size());
  const long length = base + static_cast<long>(area.size());
  std::string leader = Digits(length, 5) + " " + std::string(1, leaderId) + "     " + Digits(base, 5) + "   " +
                       std::to_string(sizeOfLength) + std::to_string(sizeOfPos) + "0" + std::to_string(sizeOfTag);
  if (leader.size() != 24) throw std::logic_error("bad leader");
  return leader + directory + area;
}

TDdfWriter& TDdfWriter::Record(const std::vector<TFieldData>& fields, char leaderId) {
  Body += MakeRecord(fields, leaderId, SizeOfFieldLength, SizeOfFieldPos, SizeOfFieldTag);
  return *this;
}

TDdfWriter& TDdfWriter::LeaderlessRecord(const std::vector<TFieldData>& fields) {
  for (const auto& field : fields) Body += field.second;
  return *this;
}

TDdfWriter& TDdfWriter::Raw(const std::string& bytes) {
  Body += bytes;
  return *this;
}

std::string TDdfWriter::Ddr() const {
  std::string directory, area;
  for (const auto& f : Fields) {
    std::string bytes = f.Controls + f.Name + UT + f.Descriptor + UT + f.Format + FT;
    directory += f.Tag + Digits(static_cast<long>(bytes.size()), 3) + Digits(static_cast<long>(area.size()), 4);
    area += bytes;
  }
  directory += FT;
  const long base = 24 + static_cast<long>(directory.size());
  const long length = base + static_cast<long>(area.size());
  const std::string leader = Digits(length, 5) + "3LE1 06" + Digits(base, 5) + " ! 3404";
  return leader + directory + area;
}

std::string TDdfWriter::Bytes() const { return Ddr() + Body; }

void TDdfWriter::WriteFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string bytes = Bytes();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace veloran::testing
