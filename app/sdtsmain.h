// The main window: the convert command with its two dialogs, batches of
// many transfers (File > Convert Many..., or dropped onto the window), the
// "Add New Lines" option, the information pane and the progress gauge.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/formats.h"
#include "sdts/sdtsinfo.h"
#include "support/progress.h"
#include "support/threads.h"

class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace veloran {

class TCHMHelper;
class TGauge;
class THelpManager;
class TReliefWindow;
struct TReliefSnapshot;

// The program file's name up to its first ".", a capital first letter and
// the rest in lower case: "veloran" gives "Veloran".
QString ApplicationTitle(const QString& programPath);
// A failure's message as the error box shows it: a full stop is added when
// the last character sorts after ".".
QString ErrorBoxText(const std::string& message);
// Module texts are bytes: UTF-8 when they are valid UTF-8, else Latin-1.
QString PaneText(const std::string& bytes);

class TForm1 : public QMainWindow, public IInfoPane {
  Q_OBJECT

 public:
  // With a help manager, the window's help component routes every help
  // request to the compiled help.
  explicit TForm1(THelpManager* help = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  // The information pane and the gauge, as the conversion reports to them.
  void ClearPane() override;
  void AppendLine(const std::string& line) override;
  void SetProgress(int value) override;

  void SelectAndConvert();
  // Converts a located transfer into `dem` as a batch of one, off the
  // window's thread (Esc stops it), then lists `notes` and keeps its
  // picture for View > Shaded Relief; a failure shows the error box.
  void Convert(TLocatedTransfer transfer, const std::string& dem, const TOutputFormat& format = DemFormat(),
               std::vector<std::string> notes = {});
  // The format the save dialog's chosen filter names: DEM, GeoTIFF or
  // Cloud Optimized GeoTIFF.
  const TOutputFormat& ChosenFormat() const;

  // Converts every transfer `inputs` hold (modules, folders, archives) into
  // `folder`, in the format chosen last, on worker threads; the pane gets
  // one line per transfer and a count, the gauge the share of the batch.
  // Refused with the error box when the folder cannot take files.
  void ConvertMany(const QStringList& inputs, const QString& folder);
  // A batch, or a single conversion, is under way.
  bool BatchRunning() const { return Batch != nullptr; }
  // No transfer starts after this; those under way end, whole or not at
  // all. A single conversion stops at once, writing nothing.
  void CancelBatch();

  QPlainTextEdit* Memo1 = nullptr;
  TGauge* Gauge1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  QAction* ConvertMnu = nullptr;
  QAction* ConvertManyMnu = nullptr;  // File > "Convert Many..."
  QFileDialog* ManyDialog1 = nullptr;    // the transfers of a batch
  QFileDialog* FolderDialog1 = nullptr;  // the folder of a batch's outputs
  QPushButton* CancelButton = nullptr;   // shown while a batch runs
  QAction* Exit1 = nullptr;
  QAction* NewLineMnu = nullptr;
  QAction* ShadedReliefMnu = nullptr;  // View > Shaded Relief, after a successful conversion
  QPointer<TReliefWindow> ReliefWindow1;
  QAction* Contents1 = nullptr;
  QAction* About1 = nullptr;
  std::unique_ptr<TCHMHelper> CHMHelper1;

 public slots:
  void ConvertMnuClick();
  void ConvertManyMnuClick();
  void NewLineMnuClick();
  void ShadedReliefMnuClick();
  void Exit1Click();

 signals:
  // Help > "&Contents" and Help > "&About...", for the help component and
  // the About box.
  void Contents1Click();
  void About1Click();

 protected:
  // Shows a dialog and tells whether the user accepted it; tests script it.
  virtual bool Execute(QFileDialog* dialog);
  // The modal error box with the stop icon.
  virtual void ShowErrorBox(const QString& caption, const QString& text);
  // A question answered Yes or No; tests script it.
  virtual bool AskYesNo(const QString& text);
  // A failure shown as its kind asks: an error box with its message.
  void ShowFailure(const TConvertError& failure);
  void showEvent(QShowEvent* event) override;
  // Closing the main window ends the program: the help and relief windows close with it.
  void closeEvent(QCloseEvent* event) override;
  // Files, folders and archives dropped onto the window are converted as a batch.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Esc cancels a batch.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildMenus();
  void BuildDialogs();
  // The batch's output folder from FolderDialog1, starting beside `near`;
  // empty when the user cancels.
  QString ChooseOutputFolder(const QString& near);
  class TWindowObserver;
  // Runs the batch `make` makes on the window's threads; false, with the
  // error box, when it cannot start.
  bool StartBatch(const std::function<std::unique_ptr<TBatch>(IBatchObserver&)>& make);
  void BatchFinished(const TBatchItem& item);
  void BatchDone(const TBatchResult& result);
  // The end of a single conversion: its report, then its notes, or the
  // error box.
  void SingleFinished(const TBatchItem& item);

  QString LastCellPath;  // the path chosen by the previous convert command
  std::shared_ptr<const TReliefSnapshot> LastRelief;  // the picture of the last DEM written
  bool SizedToFrame = false;
  QString DropFolder;  // asked at the first drop, kept for the next
  // The window's threads: a batch's conversions and the one that runs it.
  TExecutor Threads{Processors() + 1};
  TTaskGroup BatchTask{&Threads};  // runs the batch
  std::unique_ptr<TWindowObserver> Observer;
  std::unique_ptr<TBatch> Batch;
  size_t BatchConverted = 0, BatchFailed = 0;
  TBatchItem LastConverted;  // for View > Shaded Relief after a batch
  bool Single = false;       // the batch is a single conversion
  std::vector<std::string> SingleNotes;  // listed after its report
  bool CloseAfterBatch = false;
};

}  // namespace veloran
