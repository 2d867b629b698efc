// What a user gave, made once into what the batch engine runs: the command
// line's operands and options, the desktop's output folder or file, its
// chosen format and Add New Lines. The engine then finds each transfer,
// names its output and converts it; nothing downstream interprets the
// user's words again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/batch.h"

namespace veloran {

// What was asked, as given.
struct TAsked {
  std::optional<std::string> Output;   // -o PATH: a file, a folder, or "-" for standard output
  std::optional<std::string> Preview;  // --preview PATH: a picture, or a folder of them
  const TOutputFormat* Format = nullptr;  // --format; none: as -o NAME asks, else the DEM
  bool AddNewLines = false;  // the DEM's own option
  // The format options are standing choices (the desktop's menu, the
  // page's box): each applies to the format that owns it and is left out
  // for the others, where the command line's are refused.
  bool OptionsAsChoices = false;
  bool Sync = true;
  bool Recursive = false;
  bool NameFromInput = false;
  std::optional<unsigned> Jobs;  // -j N (0: one per processor); none: one at a time
  bool Quiet = false;            // no report is shown: none is kept
};

// The batch's options, or why the request cannot be run (a usage error,
// as the command line words it).
struct TPlan {
  TBatchOptions Options;
  std::string Refused;
  // The executor's size: -j N conversions share N threads with the work
  // inside them; one conversion at a time may use every processor.
  unsigned Threads = 1;
};

// The plan of `asked`; the paths named are looked at (is it a folder?),
// nothing is written.
TPlan Plan(const TAsked& asked);

// With one output file or picture, why `transfers` transfers cannot be
// written; empty when they can.
std::string RefuseOneFile(const TBatchOptions& options, size_t transfers);

}  // namespace veloran
