#include "sdts/transfer.h"

#include "sdts/cells.h"
#include "sdts/metadata.h"
#include "sdts/moduleset.h"
#include "support/errors.h"
#include "support/numfmt.h"

namespace veloran {

namespace {

// The identification read from IDEN, from one holder to the other.
template <class TFrom, class TTo>
void CopyIdentification(const TFrom& from, TTo& to) {
  to.Title = from.Title;
  to.DataId = from.DataId;
  to.DataDate = from.DataDate;
  to.Scale = from.Scale;
}

}  // namespace

TLocatedTransfer LocateTransfer(const std::string& chosenPath, const ITransferSource& source,
                                std::shared_ptr<const ITransferSource> keep) {
  TLocatedTransfer transfer;
  transfer.Keep = std::move(keep);
  transfer.Cell = SelectTransfer(transfer.Modules, chosenPath, source);
  return transfer;
}

const std::string& TitleOf(TLocatedTransfer& transfer) {
  if (!transfer.IdenRead) {
    TConversionState state;
    state.ModuleSet = transfer.Modules;
    ReadIden(state);
    CopyIdentification(state.Info, transfer);
    transfer.IdenRead = true;
  }
  return transfer.Title;
}

void ReadTransferMetadata(TConversionState& state, const TLocatedTransfer& transfer) {
  state.Reset();
  state.ModuleSet = transfer.Modules;
  ReadDdsh(state);
  if (transfer.IdenRead) {
    CopyIdentification(transfer, state.Info);
  } else {
    ReadIden(state);
  }
  ReadDdom(state);
  ReadIref(state);
  ReadXref(state);
  ReadRsdf(state);
  ReadSpdm(state);
  ReadLdef(state);
  if (state.Grid.RowCount == 0 || state.Grid.ColCount == 0) Fail(kNoElevationsMessage);
}

void ReadTransferCells(TConversionState& state, IProgress& progress, const TCellRequest& request) {
  const int64_t cells = ReadCells(state, progress, request);
  // A grid needs every one of its cells from this transfer, and a grid
  // without rows or columns has nothing to write.
  const int64_t rows = state.Grid.RowCount, cols = state.Grid.ColCount;
  if (cells < rows * cols)
    Fail("The cell module " + ModuleFileName(state.ModuleSet, "CE" + state.ModuleSet.CellModuleSuffix) + " holds " +
         FormatInt(cells) + " cells, too few for a grid of " + FormatInt(rows) + " rows by " + FormatInt(cols) +
         " columns");
}

void ReadTransfer(TConversionState& state, const TLocatedTransfer& transfer, IProgress& progress,
                  const TCellRequest& request) {
  ReadTransferMetadata(state, transfer);
  ReadTransferCells(state, progress, request);
  if (state.Info.ActualMin > state.Info.ActualMax) Fail(kNoElevationsMessage);
}

}  // namespace veloran
