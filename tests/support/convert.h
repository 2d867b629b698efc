// Converts a transfer as the programs do: found once from the chosen file,
// read, and written in a format of the table.
#pragma once

#include <string>

#include "convert/driver.h"

namespace veloran::testing {

inline void ConvertTo(TConversionState& state, const std::string& chosen, const std::string& output,
                      const char* format, IInfoPane& pane, bool sync = false,
                      const ITransferSource& source = DiskFiles()) {
  ConvertTransfer(state, LocateTransfer(chosen, source), output, TRequest{FindOutputFormat(format), false, sync}, pane);
}

}  // namespace veloran::testing
