// The main window's batches: File > Convert Many..., transfers dropped
// onto the window, Esc or Cancel; the batch engine runs them on its own
// threads and its events come back to the window's thread.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <memory>
#include <vector>

#include "app/gauge.h"
#include "app/reliefwindow.h"
#include "app/sdtsbatch.h"
#include "convert/plan.h"
#include "convert/transfers.h"
#include "sdts/cells.h"
#include "support/numfmt.h"

namespace veloran {

QString TForm1::ChooseOutputFolder(const QString& near) {
  FolderDialog1->setDirectory(QFileInfo(near).absolutePath());
  if (!Execute(FolderDialog1)) return {};
  return FolderDialog1->selectedFiles().value(0);
}

void TForm1::ConvertManyMnuClick() {
  if (Batch || !Execute(ManyDialog1)) return;
  const QStringList inputs = ManyDialog1->selectedFiles();
  if (inputs.isEmpty()) return;
  const QString folder = ChooseOutputFolder(inputs.first());
  if (!folder.isEmpty()) ConvertMany(inputs, folder);
}

void TForm1::ConvertMany(const QStringList& inputs, const QString& folder) {
  if (Batch || inputs.isEmpty()) return;
  TAsked asked;
  asked.Output = folder.toLocal8Bit().toStdString();
  asked.Jobs = 0;           // one per processor
  asked.Recursive = true;   // every transfer a dropped folder holds, however deep
  asked.Format = &ChosenFormat();
  asked.AddNewLines = NewLineMnu->isChecked();
  asked.OptionsAsChoices = true;
  asked.Quiet = true;       // the pane has a line a transfer
  TPlan plan = Plan(asked);
  TBatchOptions& options = plan.Options;
  options.OutputIsDir = true;  // the folder dialog's: checked below, with why it cannot take files
  options.KeepRelief = true;
  options.Executor = &Threads;
  std::vector<std::string> args;
  for (const QString& input : inputs) args.push_back(input.toLocal8Bit().toStdString());
  try {
    CheckOutputFolder(options.Output);
  } catch (const TConvertError& failure) {
    if (folder == DropFolder) DropFolder.clear();  // asked again at the next drop
    ShowFailure(failure);
    return;
  }
  if (!StartBatch([&](IBatchObserver& observer) { return std::make_unique<TBatch>(options, args, observer); })) {
    if (folder == DropFolder) DropFolder.clear();
    return;
  }
  ClearPane();
  SetProgress(0);
  LastRelief.reset();
  if (ReliefWindow1) ReliefWindow1->close();
  ShadedReliefMnu->setEnabled(false);
  CancelButton->setEnabled(true);
  CancelButton->show();
}

bool TForm1::StartBatch(const std::function<std::unique_ptr<TBatch>(IBatchObserver&)>& make) {
  try {
    Observer = std::make_unique<TWindowObserver>(*this, Single);
    Batch = make(*Observer);
    BatchTask.Run([this] {
      TBatchResult result;
      try {
        result = Batch->Run();
      } catch (...) {
        const TConvertError failure = CurrentFailure();
        result.Fatal = failure.what();
        result.FatalKind = failure.Kind();
      }
      QMetaObject::invokeMethod(this, [this, result] { BatchDone(result); }, Qt::QueuedConnection);
    });
  } catch (...) {
    const TConvertError failure = CurrentFailure();
    Batch.reset();
    Observer.reset();
    // No thread or memory to start the conversions says what could not start.
    ShowFailure(failure.Kind() == TErrorKind::OutOfMemory
                    ? TConvertError(failure.Kind(), std::string("Cannot start the conversions: ") + failure.what())
                    : failure);
    return false;
  }
  BatchConverted = BatchFailed = 0;
  LastConverted = TBatchItem();
  ConvertMnu->setEnabled(false);
  ConvertManyMnu->setEnabled(false);
  return true;
}

void TForm1::CancelBatch() {
  if (!Batch) return;
  if (Single) {
    Batch->Stop();
  } else {
    Batch->Cancel();
  }
  CancelButton->setEnabled(false);
}

void TForm1::BatchFinished(const TBatchItem& item) {
  if (Single) return SingleFinished(item);
  // The pane follows the newest line unless the user scrolled back.
  QScrollBar* bar = Memo1->verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  // An archive's transfers are named as ARCHIVE/MEMBER.
  if (item.Ok) {
    ++BatchConverted;
    LastConverted = item;
    AppendLine("OK " + item.Label + " -> " + item.Output);
  } else {
    ++BatchFailed;
    AppendLine("FAILED " + item.Label + ": " + item.Error);
  }
  if (follow) {
    // The scroll bar's range follows the layout only later: the cursor is
    // moved to the start of the last line instead.
    QTextCursor last = Memo1->textCursor();
    last.movePosition(QTextCursor::End);
    last.movePosition(QTextCursor::StartOfBlock);
    Memo1->setTextCursor(last);
    Memo1->ensureCursorVisible();
  }
}

void TForm1::BatchDone(const TBatchResult& result) {
  BatchTask.Wait();
  Batch.reset();
  Observer.reset();
  ConvertMnu->setEnabled(true);
  ConvertManyMnu->setEnabled(true);
  if (Single) {
    Single = false;
    SingleNotes.clear();
    if (!result.Fatal.empty()) ShowFailure(TConvertError(result.FatalKind, result.Fatal));
    if (CloseAfterBatch) close();
    return;
  }
  AppendLine(FormatInt(static_cast<int64_t>(BatchConverted)) + " converted, " +
             FormatInt(static_cast<int64_t>(BatchFailed)) + " failed" + FailureKinds(result.Failed) +
             (result.WasCanceled ? ", canceled" : ""));
  CancelButton->hide();
  // View > Shaded Relief shows the last DEM converted.
  if (LastConverted.Ok && LastConverted.Relief) {
    LastRelief = TReliefSnapshot::Take(*LastConverted.Relief,
                                       QFileInfo(QString::fromLocal8Bit(LastConverted.Output.c_str())).fileName());
    ShadedReliefMnu->setEnabled(true);
  }
  LastConverted = TBatchItem();
  if (!result.Fatal.empty()) ShowFailure(TConvertError(result.FatalKind, result.Fatal));
  if (CloseAfterBatch) close();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && Batch) {
    CancelBatch();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (Batch || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls())
    if (!url.isLocalFile()) return;
  event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList inputs;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) inputs << url.toLocalFile();
  if (Batch || inputs.isEmpty()) return;
  event->acceptProposedAction();
  // The dialogs come after the drop has ended, not within it.
  QMetaObject::invokeMethod(this, [this, inputs] {
    if (DropFolder.isEmpty()) DropFolder = ChooseOutputFolder(inputs.first());
    if (!DropFolder.isEmpty()) ConvertMany(inputs, DropFolder);
  }, Qt::QueuedConnection);
}

}  // namespace veloran
