// The output formats: each a writer of the conversion's result, behind one
// seam. A new format is a folder of its own and one line in the table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

struct TWriteOptions {
  bool AddNewLines = false;  // DEM only: CR LF after every block
  bool Sync = true;          // the file reaches the disk before the writer returns
  bool Background = true;    // the DEM's buffers written by a thread of their own (TFileSink)
};

struct TOutputFormat {
  const char* Name;       // as --format takes it
  const char* Extension;  // of default names
  bool KeepsRawCells;     // reads the transfer's cells unchanged, and needs no grid
  // Writes the file safely, moving the progress, then lists the summary of
  // the file written in the pane.
  void (*Write)(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                IInfoPane& pane);
};

// The formats, the USGS DEM first (the default).
const std::vector<TOutputFormat>& OutputFormats();
// The format named `name`, or nullptr.
const TOutputFormat* FindOutputFormat(std::string_view name);
const TOutputFormat& DemFormat();

}  // namespace veloran
