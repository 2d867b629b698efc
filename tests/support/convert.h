// Converts and reads transfers as the programs do: found once from the
// chosen file, read, and written in a format of the table.
#pragma once

#include <string>

#include "convert/driver.h"

namespace veloran::testing {

inline void ConvertTo(TConversionState& state, const std::string& chosen, const std::string& output,
                      const char* format, IInfoPane& pane, bool sync = false,
                      const ITransferSource& source = DiskFiles()) {
  ConvertTransfer(state, LocateTransfer(chosen, source), output, TRequest{FindOutputFormat(format), false, sync}, pane);
}

// A DEM of the transfer `chosen` is a file of, as veloran-convert -o
// writes it.
inline void ConvertDem(TConversionState& state, const std::string& chosen, const std::string& dem, bool addNewLines,
                       IInfoPane& pane, bool sync = true) {
  ConvertTransfer(state, LocateTransfer(chosen), dem, TRequest{&DemFormat(), addNewLines, sync}, pane);
}

// The name a DEM of the transfer `chosen` is a file of is given by default.
inline std::string DefaultDemName(const std::string& chosen, const ITransferSource& source = DiskFiles()) {
  TLocatedTransfer transfer = LocateTransfer(chosen, source);
  return DefaultName(transfer, DemFormat());
}

// The transfer `chosen` is a file of, read into `state`.
inline void ReadChosen(TConversionState& state, const std::string& chosen, IProgress& progress,
                       const ITransferSource& source = DiskFiles()) {
  ReadTransfer(state, LocateTransfer(chosen, source), progress);
}

}  // namespace veloran::testing
