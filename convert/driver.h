// One conversion, one way: a request (format and its options, output, sync)
// applied to a transfer located once, read once, then written by the
// format. The desktop program, the command line's batch engine and the
// tests convert through this.
#pragma once

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
// The same for the transfer of `cellPath`, as a DEM.
std::string MakeDefaultDemName(const std::string& cellPath, const ITransferSource& source = DiskFiles());

// A text as a plain visible file name, as the title in DefaultName.
std::string PlainFileName(std::string text);

// The two halves of a conversion. ReadForOutput reads what the format
// needs into a fresh `state`, the gauge running to 50; a format that works
// on the cells as they come begins its file then (the session returned).
// WriteOutput checks that `output` is no file of the transfer, lists the
// report, writes the file (never leaving a partial one; durable before it
// returns with Sync), the gauge running on to 100, and lists the format's
// summary. The work inside may run on free threads of `threads`.
std::unique_ptr<TFormatSession> ReadForOutput(TConversionState& state, const TLocatedTransfer& transfer,
                                              const TRequest& request, IInfoPane& pane, TExecutor* threads);
void WriteOutput(TConversionState& state, const TLocatedTransfer& transfer, const std::string& output,
                 const TRequest& request, IInfoPane& pane, TExecutor* threads,
                 std::unique_ptr<TFormatSession> session);
// Both, the pane cleared first, with every processor at hand.
void ConvertTransfer(TConversionState& state, const TLocatedTransfer& transfer, const std::string& output,
                     const TRequest& request, IInfoPane& pane);

// The transfer of the chosen cell file `cellPath`, converted into the DEM
// `demPath`: a failure ends the conversion with its message.
void ConvertSdtsToDem(TConversionState& state, const std::string& cellPath, const std::string& demPath,
                      bool addNewLines, IInfoPane& pane, bool sync = true);

// Fails with "Cannot create file %s: ..." when `outputPath` is a file of
// the transfer, or the archive it comes from: for outputs besides the
// DEM, checked before anything is written.
void CheckNotTransferOutput(const TLocatedTransfer& transfer, const std::string& outputPath);


}  // namespace veloran
