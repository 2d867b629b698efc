#include "convert/driver.h"


#include "sdts/cells.h"
#include "sdts/metadata.h"
#include "sdts/moduleset.h"
#include "sdts/report.h"
#include "support/threads.h"
#include "support/errors.h"
#include "support/numfmt.h"
#include "support/textutil.h"

namespace veloran {

namespace {

// Title bytes kept in a default name: 255 less ".dem" and " (NN)".
constexpr size_t kMaxTitleBytes = 245;

}  // namespace

std::string PlainFileName(std::string title) {
  if (title.size() > kMaxTitleBytes) {
    size_t cut = kMaxTitleBytes;
    // Never split a UTF-8 sequence: back up over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
    title.resize(cut);
  }
  std::string name;
  bool leading = true;
  for (size_t i = 0; i < title.size();) {
    bool control = false;
    const size_t length = NextCharacter(title, i, control);
    leading = leading && title[i] == '.';
    if (control || title[i] == '/' || title[i] == '\\' || leading) {
      name.append(length, '_');
    } else {
      name.append(title, i, length);
    }
    i += length;
  }
  return name;
}

std::string DefaultName(TLocatedTransfer& transfer, const TOutputFormat& format) {
  const std::string& title = TitleOf(transfer);
  return (title.empty() ? std::string("New") : PlainFileName(title)) + format.Extension;
}

namespace {

std::unique_ptr<TFormatSession> ReadForOutput(TConversionState& state, const TLocatedTransfer& transfer,
                                              const TRequest& request, IInfoPane& pane, TExecutor* threads) {
  std::unique_ptr<TFormatSession> session;
  try {
    const TOutputFormat& format = *request.Format;
    TCellRequest cells{!format.KeepsRawCells, format.KeepsRawCells, nullptr};
    if (format.Begin)
      cells.OnSized = [&] { session = format.Begin(state, TWriteOptions{request.Sync, request.AddNewLines, threads}); };
    TProgressRange read(pane, 0, 50);
    ReadTransfer(state, transfer, read, cells);
  } catch (...) {
    session.reset();
    throw CurrentFailure(transfer.Cell);
  }
  return session;
}

void WriteOutput(TConversionState& state, const TLocatedTransfer& transfer, const std::string& output,
                 const TRequest& request, IInfoPane& pane, TExecutor* threads,
                 std::unique_ptr<TFormatSession> session) {
  try {
    // Before anything is written: the output must not be a file of the transfer.
    CheckNotTransferFile(state.ModuleSet, transfer.Cell, output);
    ShowSdtsInfo(state, pane);
    TProgressRange written(pane, 50, 100);
    const TWriteOptions options{request.Sync, request.AddNewLines, threads};
    if (session) {
      session->Finish(state, output, options, written, pane);
    } else {
      request.Format->Write(state, output, options, written, pane);
    }
  } catch (...) {
    throw CurrentFailure(transfer.Cell);
  }
}

}  // namespace

void ConvertTransfer(TConversionState& state, const TLocatedTransfer& transfer, const TRequest& request,
                     IInfoPane& pane, TExecutor* threads, const std::function<std::string()>& output) {
  pane.ClearPane();
  pane.SetProgress(0);
  auto session = ReadForOutput(state, transfer, request, pane, threads);
  WriteOutput(state, transfer, output(), request, pane, threads, std::move(session));
}

void ConvertTransfer(TConversionState& state, const TLocatedTransfer& transfer, const std::string& output,
                     const TRequest& request, IInfoPane& pane, TExecutor* threads) {
  ConvertTransfer(state, transfer, request, pane, threads, [&] { return output; });
}

void CheckNotTransferOutput(const TLocatedTransfer& transfer, const std::string& outputPath) {
  CheckNotTransferFile(transfer.Modules, transfer.Cell, outputPath);
}



}  // namespace veloran
