// A transfer located once and read once: the chosen file's transfer found
// with its module files (the catalog applied), then its metadata and cells
// read into a conversion state. The command line, the desktop program, the
// batch engine and the GDAL plugin all read through this.
#pragma once

#include <memory>
#include <string>

#include "sdts/cells.h"
#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

struct TLocatedTransfer {
  std::shared_ptr<const ITransferSource> Keep;  // keeps the source of Modules alive, where it is not the disk
  TModuleSet Modules;                           // the module files, from Modules.Source
  std::string Cell;                             // the cell module's path, as messages name it
  // The identification (IDEN), once read for the title: the conversion
  // does not read the module again.
  bool IdenRead = false;
  std::string Title, DataId, DataDate;
  int32_t Scale = 0;
};

// The transfer that `chosenPath` is a file of (see SelectTransfer, whose
// failures it shares). `keep` holds `source` alive with the transfer.
TLocatedTransfer LocateTransfer(const std::string& chosenPath, const ITransferSource& source = DiskFiles(),
                                std::shared_ptr<const ITransferSource> keep = nullptr);

// The transfer's IDEN title, read once.
const std::string& TitleOf(TLocatedTransfer& transfer);

// Starts `state` afresh (TConversionState::Reset, what it keeps of the
// cells aside), then reads the eight metadata modules (IDEN only where it
// was not read yet). Fails when the grid has no rows or no columns.
void ReadTransferMetadata(TConversionState& state, const TLocatedTransfer& transfer);
// After the metadata, reads the cell module, the progress running from 0
// to 100. Fails when the grid has more cells than were read.
void ReadTransferCells(TConversionState& state, IProgress& progress, const TCellRequest& request = {});
// Both, then fails when the grid holds no elevation: there is nothing to
// convert.
void ReadTransfer(TConversionState& state, const TLocatedTransfer& transfer, IProgress& progress,
                  const TCellRequest& request = {});

}  // namespace veloran
