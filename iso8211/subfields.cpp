#include "iso8211/subfields.h"

#include <algorithm>

namespace veloran {

std::string NextToken(std::string_view text, char delimiter, int& position) {
  std::string result;
  if (position < 1) position = 1;
  while (position <= static_cast<int>(text.size())) {
    const char c = text[static_cast<size_t>(position - 1)];
    ++position;
    if (c == delimiter) break;
    result.push_back(c);
  }
  return result;
}

void SplitArrayDescriptor(std::string_view descriptor, TFieldArray& fields) {
  int p = 1;
  int i = 0;
  for (;;) {
    std::string token = NextToken(descriptor, '!', p);
    if (token.empty() || i == kMaxEntries) break;
    fields.Items[static_cast<size_t>(i++)].Label = std::move(token);
  }
  fields.Count = i;
}

int FindDirItem(std::string_view tag, const TDDRDirectory& directory) {
  const int n = StoredCount(directory.Count);
  for (int i = 0; i < n; ++i)
    if (directory.Items[static_cast<size_t>(i)].Tag == tag) return i;
  return -1;
}

int FindFieldLabel(std::string_view label, const TFieldArray& fields) {
  const int n = StoredCount(fields.Count);
  for (int i = 0; i < n; ++i)
    if (fields.Items[static_cast<size_t>(i)].Label == label) return i;
  return -1;
}

std::string GetFormatControls(std::string_view tag, const TDataDescription& description) {
  const int d = FindDirItem(tag, description.Directory);
  return d < 0 ? std::string() : description.DescriptArea.Items[static_cast<size_t>(d)].FormatControls;
}

void LocateSubfield(std::string_view tag, std::string_view label, int recordNumber,
                    const TDataDescription& description, int& subfieldIndex, int& fieldIndex) {
  subfieldIndex = -1;
  fieldIndex = -1;
  const int d = FindDirItem(tag, description.Directory);
  if (d < 0) return;
  TFieldArray fields;
  SplitArrayDescriptor(description.DescriptArea.Items[static_cast<size_t>(d)].ArrayDescriptor, fields);
  subfieldIndex = FindFieldLabel(label, fields);
  if (subfieldIndex < 0) return;
  if (recordNumber < 0 || recordNumber >= StoredCount(description.Records.Count)) return;
  fieldIndex = FindDirItem(tag, description.Records.Directories[static_cast<size_t>(recordNumber)]);
}

namespace {

// Locates the subfield and moves the stream to the start of its field,
// whose end is stored in `end`: no lookup reads past it. Returns the
// subfield index, or -1 when not found.
int SeekField(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
              const TDataDescription& description, int64_t& end) {
  int subfieldIndex = -1, fieldIndex = -1;
  LocateSubfield(tag, label, recordNumber, description, subfieldIndex, fieldIndex);
  if (subfieldIndex < 0 || fieldIndex < 0) return -1;
  const TDDRDirectory& directory = description.Records.Directories[static_cast<size_t>(recordNumber)];
  const TDDRDirItem& item = directory.Items[static_cast<size_t>(fieldIndex)];
  stream.Seek(directory.FieldAreaStart + item.Position);
  end = stream.Position() + item.Length;
  return subfieldIndex;
}

}  // namespace

std::string GetSubfieldText(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                            const TDataDescription& description) {
  std::string result;
  int64_t end = 0;
  const int k = SeekField(stream, tag, label, recordNumber, description, end);
  char terminator = 0;
  for (int i = 0; i <= k; ++i) result = ReadToTerminator(stream, terminator, end);
  return result;
}

int32_t GetSubfieldInt(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description) {
  int32_t value = 0;
  return TryStrToInt(GetSubfieldText(stream, tag, label, recordNumber, description), value) ? value : 0;
}

double GetSubfieldReal(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description, char sep) {
  return FirstNumber(GetSubfieldText(stream, tag, label, recordNumber, description), sep);
}

bool FindSubfieldBinInt(TStream& stream, std::string_view tag, std::string_view label, int width, int recordNumber,
                        const TDataDescription& description, int32_t& value) {
  int64_t end = 0;
  const int k = SeekField(stream, tag, label, recordNumber, description, end);
  if (k < 0) return false;
  // The k-th value lies k widths from the field's start; one that the field
  // does not hold is not found.
  const int64_t at = stream.Position() + int64_t{k} * width;
  if (at + width > end) return false;
  stream.Seek(at);
  value = ReadBigEndianInt(stream, width);
  return true;
}

int32_t GetSubfieldBinInt(TStream& stream, std::string_view tag, std::string_view label, int width,
                          int recordNumber, const TDataDescription& description) {
  int32_t value = 0;
  return FindSubfieldBinInt(stream, tag, label, width, recordNumber, description, value) ? value : 0;
}

void GetSubfieldValues(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description, TStringArray& values) {
  values.Count = 0;
  int64_t end = 0;
  const int k = SeekField(stream, tag, label, recordNumber, description, end);
  if (k < 0) return;
  end = std::min(end, stream.Size());
  char terminator = 0;
  for (int i = 0; i < k; ++i) ReadToTerminator(stream, terminator, end);
  // Collect up to the field terminator, or to the end of the field.
  while (stream.Position() < end) {
    terminator = 0;
    std::string value = ReadToTerminator(stream, terminator, end);
    if (values.Count < kMaxEntries) values.Items[static_cast<size_t>(values.Count++)] = std::move(value);
    if (terminator == kFieldTerminator) break;
  }
}

bool ParseFormatControls(std::string_view controls, std::vector<TSubfieldForm>& forms) {
  forms.clear();
  std::string text;
  for (const char c : controls)
    if (c != ' ') text.push_back(c);
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  text = text.substr(1, text.size() - 2);
  int p = 1;
  while (p <= static_cast<int>(text.size())) {
    const std::string item = NextToken(text, ',', p);
    size_t i = 0;
    int repeat = 0;
    while (i < item.size() && item[i] >= '0' && item[i] <= '9' && repeat < 1000) repeat = repeat * 10 + (item[i++] - '0');
    if (i == item.size() || std::string_view("AIRSCB").find(item[i]) == std::string_view::npos) return false;
    TSubfieldForm form{item[i++], 0};
    if (i < item.size()) {
      int width = 0;
      if (item[i++] != '(' || item.back() != ')' || i + 1 >= item.size()) return false;
      for (; i + 1 < item.size(); ++i) {
        if (item[i] < '0' || item[i] > '9' || width > 100000) return false;
        width = width * 10 + (item[i] - '0');
      }
      if (form.Type == 'B') {
        if (width == 0 || width % 8 != 0) return false;
        width /= 8;
      }
      form.Width = width;
    } else if (form.Type == 'B') {
      return false;
    }
    forms.insert(forms.end(), static_cast<size_t>(std::max(repeat, 1)), form);
  }
  return !forms.empty();
}

bool SubfieldIntAt(std::string_view field, const std::vector<TSubfieldForm>& forms, size_t index, int32_t& value) {
  if (index >= forms.size()) return false;
  size_t at = 0;
  for (size_t i = 0;; ++i) {
    const TSubfieldForm& form = forms[i];
    size_t width = static_cast<size_t>(form.Width);
    if (width == 0) {
      const size_t end = field.find_first_of(std::string_view("\x1F\x1E", 2), at);
      width = (end == std::string_view::npos ? field.size() : end) - at;
    }
    if (at + width > field.size()) return false;
    if (i == index) {
      const std::string_view bytes = field.substr(at, width);
      if (form.Type != 'B') return TryStrToInt(TrimBlanks(bytes), value);
      if (width > 4) return false;
      uint32_t bits = 0;
      for (const char c : bytes) bits = bits << 8 | static_cast<unsigned char>(c);
      if (width < 4 && (bits >> (8 * width - 1)) & 1) bits |= ~uint32_t{0} << (8 * width);  // sign-extended
      value = static_cast<int32_t>(bits);
      return true;
    }
    at += width + (form.Width == 0 ? 1 : 0);  // a delimited subfield ends with its terminator
  }
}

}  // namespace veloran
