// The seam every output format's writer sits behind: what a conversion
// hands a writer, and a file begun while the transfer is still read.
#pragma once

#include <string>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"
#include "support/threads.h"

namespace veloran {

struct TWriteOptions {
  bool Sync = true;           // the file reaches the disk before the writer returns
  bool AddNewLines = false;   // the DEM's own option: CR LF after every block
  TExecutor* Threads = nullptr;  // where the writer may find free threads; none without
};

// A file begun while its transfer is read, for a format that works on the
// cells as they come; Finish writes it once the reading is done. Dropped
// unfinished, it stops its work and writes nothing.
class TFormatSession {
 public:
  virtual ~TFormatSession() = default;
  virtual void Finish(const TConversionState& state, const std::string& path, const TWriteOptions& options,
                      IProgress& progress, IInfoPane& pane) = 0;
};

}  // namespace veloran
