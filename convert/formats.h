// The output formats: each a writer of the conversion's result, behind one
// seam, describing itself. A new format is a folder of its own and one line
// in the table; the command line's --format and the desktop's save filters
// are read from it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdts/writer.h"

namespace veloran {

struct TOutputFormat {
  const char* Name;       // as --format takes it
  const char* LongName;   // as the summary and the help name it
  const char* Extension;  // of default names
  const char* AlsoTyped;  // another extension a typed name may end in, or nullptr
  const char* Filter;     // the save dialog's filter that chooses it
  bool KeepsRawCells;     // reads the transfer's cells unchanged, and needs no grid
  // The options of its own, as the command line names them: another
  // format refuses them.
  std::vector<std::string_view> Options;
  // Writes the file safely, telling its progress from 0 to 100, then lists
  // the summary of the file written in the pane.
  void (*Write)(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                IProgress& progress, IInfoPane& pane);
  // Where the format starts on the cells as they are read: called once the
  // grid is sized (TCellRequest::OnSized); the conversion then
  // ends with the session's Finish instead of Write. Null: Write alone.
  std::unique_ptr<TFormatSession> (*Begin)(const TConversionState& state, const TWriteOptions& options);
};

// The formats, the USGS DEM first (the default).
const std::vector<TOutputFormat>& OutputFormats();
// The format named `name`, or nullptr.
const TOutputFormat* FindOutputFormat(std::string_view name);
const TOutputFormat& DemFormat();
// The format a file name asks for: `chosen`, unless the name ends in
// another format's extension (or the other one it may be typed with): a
// name typed as "x.tif" gets a GeoTIFF whatever format was chosen before.
const TOutputFormat& FormatForName(std::string_view path, const TOutputFormat& chosen);
// The format that owns the option `option` (as the command line names it,
// without "--"), or nullptr when every format takes it.
const TOutputFormat* OptionOwner(std::string_view option);
// The formats' names joined by `separator`, the last two by `last`: with
// "|" "dem|gtiff|cog", with ", " and " or " "dem, gtiff or cog".
std::string OutputFormatNames(std::string_view separator, std::string_view last);

}  // namespace veloran
