// Lookups of one subfield by field tag, subfield label and record number.
// A missing tag, label, record or value gives -1, the empty text, 0 or a
// count of 0; nothing here fails except through the stream or FirstNumber.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "iso8211/ddfreader.h"
#include "support/textutil.h"

namespace veloran {

struct TFieldItem {
  std::string Label;
};

struct TFieldArray {
  int32_t Count = 0;
  std::array<TFieldItem, kMaxEntries> Items;
};

struct TStringArray {
  int32_t Count = 0;
  std::array<std::string, kMaxEntries> Items;
};

std::string NextToken(std::string_view text, char delimiter, int& position);
// Labels past the 20th are dropped.
void SplitArrayDescriptor(std::string_view descriptor, TFieldArray& fields);
int FindDirItem(std::string_view tag, const TDDRDirectory& directory);
int FindFieldLabel(std::string_view label, const TFieldArray& fields);
// The empty text for a tag the DDR lacks.
std::string GetFormatControls(std::string_view tag, const TDataDescription& description);
// A record number outside the records read counts as not found.
void LocateSubfield(std::string_view tag, std::string_view label, int recordNumber,
                    const TDataDescription& description, int& subfieldIndex, int& fieldIndex);

std::string GetSubfieldText(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                            const TDataDescription& description);
int32_t GetSubfieldInt(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description);
// The first number of the text, scanned with `sep` as the decimal point.
double GetSubfieldReal(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description, char sep);
int32_t GetSubfieldBinInt(TStream& stream, std::string_view tag, std::string_view label, int width,
                          int recordNumber, const TDataDescription& description);
// The same, telling whether the field holds the value at all.
bool FindSubfieldBinInt(TStream& stream, std::string_view tag, std::string_view label, int width, int recordNumber,
                        const TDataDescription& description, int32_t& value);
// The subfields of a field as its format controls lay them out, such as
// "(A(4),3I(5))", "(A,3I)" or "(2B(32))": each one's type letter and width
// in bytes, 0 where the unit terminator ends it. False for controls read
// here no further (nested groups, an unknown type, a bit width that is no
// whole byte count): the caller refuses them, naming the controls.
struct TSubfieldForm {
  char Type = 'A';
  int Width = 0;
};
bool ParseFormatControls(std::string_view controls, std::vector<TSubfieldForm>& forms);
// Subfield `index` of a field's bytes, laid out as `forms` say, as an
// integer: text scanned as a whole number, binary (B) as a big-endian two's-
// complement value. False when the field does not hold it whole, or its
// text is no whole number.
bool SubfieldIntAt(std::string_view field, const std::vector<TSubfieldForm>& forms, size_t index, int32_t& value);

// Values past the 20th are read and dropped; values end with the field.
void GetSubfieldValues(TStream& stream, std::string_view tag, std::string_view label, int recordNumber,
                       const TDataDescription& description, TStringArray& values);

}  // namespace veloran
