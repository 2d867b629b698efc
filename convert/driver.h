// One conversion, one way: a request (format and its options, output, sync)
// applied to a transfer located once, read once, then written by the
// format. The batch engine runs every conversion of the programs through
// this; the tests and benchmarks call it as the engine does.
#pragma once

#include <functional>
#include <string>

#include "convert/formats.h"
#include "sdts/transfer.h"
#include "support/errors.h"
#include "support/progress.h"
#include "support/threads.h"

namespace veloran {

// What to make of a transfer: the format, its own options (Add New Lines
// is the DEM's), and whether the file must reach the disk before the
// conversion ends.
struct TRequest {
  const TOutputFormat* Format = &DemFormat();
  bool AddNewLines = false;
  bool Sync = true;
};

// The transfer's IDEN title (read once) followed by the format's
// extension, or New.dem without a title. The name is a plain visible file
// name: control characters, slashes and leading dots of the title become
// "_", and a very long title is cut so that the name, with " (NN)" added,
// stays within 255 bytes.
std::string DefaultName(TLocatedTransfer& transfer, const TOutputFormat& format);

// A text as a plain visible file name, as the title in DefaultName.
std::string PlainFileName(std::string text);

// The one way a transfer is converted, the batch engine's for each of
// its transfers: the pane cleared, what the format needs read into a fresh
// `state` (the gauge running to 50; a format that works on the cells as
// they come begins its file then), then `output` asked for the file's
// name (a batch settles it once the transfer is read; it may fail), the
// name checked to be no file of the transfer, the report listed and the
// file written (never partly; durable before it returns with Sync), the
// gauge running on to 100, and the format's summary listed. The work
// inside may run on free threads of `threads`. A failure is thrown as
// the user is told it, naming the transfer's cell module where it says no
// file.
void ConvertTransfer(TConversionState& state, const TLocatedTransfer& transfer, const TRequest& request,
                     IInfoPane& pane, TExecutor* threads, const std::function<std::string()>& output);
// The same into `output`.
void ConvertTransfer(TConversionState& state, const TLocatedTransfer& transfer, const std::string& output,
                     const TRequest& request, IInfoPane& pane, TExecutor* threads = nullptr);

// Fails with "Cannot create file %s: ..." when `outputPath` is a file of
// the transfer, or the archive it comes from: for outputs besides the
// DEM, checked before anything is written.
void CheckNotTransferOutput(const TLocatedTransfer& transfer, const std::string& outputPath);


}  // namespace veloran
