#include "app/sdtsmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QKeySequence>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QStringDecoder>
#include <QTextCursor>
#include <QVBoxLayout>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/ChmHelper.h"
#include "convert/driver.h"
#include "convert/plan.h"
#include "app/gauge.h"
#include "app/helpwindow.h"
#include "app/reliefwindow.h"
#include "app/sdtsbatch.h"
#include "convert/transfers.h"
#include "sdts/cells.h"

namespace veloran {

QString ApplicationTitle(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  name = name.left(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
  return name.left(1).toUpper() + name.mid(1).toLower();
}

QString ErrorBoxText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return PaneText(text);
}

QString PaneText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return text;
}

TForm1::TForm1(THelpManager* help, QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle("Veloran");
  QFont font("Sans Serif", 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  move(337, 143);
  resize(333, 412);

  auto* client = new QWidget(this);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* panel3 = new QLabel(" Information:", client);
  panel3->setObjectName("Panel3");
  panel3->setFixedHeight(13);
  panel3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  layout->addWidget(panel3);

  auto* panel2 = new QFrame(client);
  panel2->setObjectName("Panel2");
  auto* panel2Layout = new QVBoxLayout(panel2);
  panel2Layout->setContentsMargins(5, 5, 5, 5);
  Memo1 = new QPlainTextEdit(panel2);
  Memo1->setObjectName("Memo1");
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  panel2Layout->addWidget(Memo1);
  layout->addWidget(panel2, 1);

  auto* panel1 = new QFrame(client);
  panel1->setObjectName("Panel1");
  panel1->setFixedHeight(32);
  auto* panel1Layout = new QHBoxLayout(panel1);
  panel1Layout->setContentsMargins(5, 5, 5, 5);
  Gauge1 = new TGauge(panel1);
  panel1Layout->addWidget(Gauge1, 1);
  // Esc does the same while a batch runs (keyPressEvent).
  CancelButton = new QPushButton("Cancel", panel1);
  CancelButton->setObjectName("CancelButton");
  CancelButton->hide();
  connect(CancelButton, &QPushButton::clicked, this, &TForm1::CancelBatch);
  panel1Layout->addWidget(CancelButton);
  layout->addWidget(panel1);

  setCentralWidget(client);
  setAcceptDrops(true);
  BuildMenus();
  BuildDialogs();

  if (help) {
    CHMHelper1 = std::make_unique<TCHMHelper>(
        *help, [this]() -> QWidget* { return QApplication::focusWidget() ? QApplication::focusWidget()->window() : this; },
        HtmlHelpA);
    connect(this, &TForm1::Contents1Click, this, [help] { help->HelpCommand(HELP_CONTENTS, 0); });
  }
}

// Destroying the help component closes every help window the program
// opened; the relief window goes with the main window. A batch still
// running ends with the transfers under way.
TForm1::~TForm1() {
  if (Batch) {
    Batch->Cancel();
    BatchTask.Wait();
  }
  delete ReliefWindow1;
}

void TForm1::BuildMenus() {
  menuBar()->setObjectName("MainMenu1");
  auto named = [](QObject* object, const char* name) {
    object->setObjectName(name);
    return object;
  };
  QMenu* file = menuBar()->addMenu("&File");
  named(file, "File1");
  ConvertMnu = file->addAction("&Convert SDTS to DEM");
  named(ConvertMnu, "ConvertMnu");
  ConvertManyMnu = file->addAction("Convert &Many...");
  named(ConvertManyMnu, "ConvertManyMnu");
  named(file->addSeparator(), "N1");
  Exit1 = file->addAction("&Exit");
  named(Exit1, "Exit1");

  QMenu* options = menuBar()->addMenu("Options");
  named(options, "Options1");
  NewLineMnu = options->addAction("Add New Lines");
  named(NewLineMnu, "NewLineMnu");
  NewLineMnu->setCheckable(true);
  NewLineMnu->setChecked(false);

  QMenu* view = menuBar()->addMenu("View");
  named(view, "View1");
  ShadedReliefMnu = view->addAction("Shaded Relief");
  named(ShadedReliefMnu, "ShadedReliefMnu");
  ShadedReliefMnu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  ShadedReliefMnu->setEnabled(false);

  QMenu* help = menuBar()->addMenu("&Help");
  named(help, "Help1");
  Contents1 = help->addAction("&Contents");
  named(Contents1, "Contents1");
  named(help->addSeparator(), "N3");
  About1 = help->addAction("&About...");
  named(About1, "About1");

  connect(ConvertMnu, &QAction::triggered, this, &TForm1::ConvertMnuClick);
  connect(ConvertManyMnu, &QAction::triggered, this, &TForm1::ConvertManyMnuClick);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(ShadedReliefMnu, &QAction::triggered, this, &TForm1::ShadedReliefMnuClick);
  connect(Contents1, &QAction::triggered, this, &TForm1::Contents1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
}

namespace {

// The transfers of a batch: several files, or one folder, whose "Convert"
// takes it instead of opening it (a double click still opens it).
class TManyDialog final : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  void accept() override {
    const QStringList chosen = selectedFiles();
    if (chosen.size() == 1 && QFileInfo(chosen.first()).isDir()) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};

}  // namespace

void TForm1::BuildDialogs() {
  // Qt's own dialogs, so that every setting below holds on every desktop.
  OpenDialog1 = new QFileDialog(this, "Select DDF Cell File. For example: 1234cel0.ddf", ".");
  OpenDialog1->setObjectName("OpenDialog1");
  // Qt separates a filter's patterns with blanks: "*.tar.gz;*.tgz" would
  // match no archive at all.
  OpenDialog1->setNameFilters(
      {"SDTS CEL File (????CEL?.ddf)", "SDTS Files (*.ddf)", "SDTS archives (*.tar.gz *.tgz *.tar *.tar.Z *.tar.bz2 *.tar.xz *.zip)", "All Files (*.*)"});
  OpenDialog1->setDefaultSuffix("ddf");

  SaveDialog1 = new QFileDialog(this, "Save DEM File As. For example: cascade.dem", ".");
  SaveDialog1->setObjectName("SaveDialog1");
  // The filter chosen decides the format written: one per format, DEM first.
  QStringList formats;
  for (const TOutputFormat& format : OutputFormats()) formats << format.Filter;
  SaveDialog1->setNameFilters(formats << "All Files (*.*)");
  connect(SaveDialog1, &QFileDialog::filterSelected, this, [this] {
    SaveDialog1->setDefaultSuffix(QString(ChosenFormat().Extension).mid(1));
  });
  SaveDialog1->setDefaultSuffix("dem");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);

  ManyDialog1 = new TManyDialog(this, "Select transfers: cell modules, archives or a folder", ".");
  ManyDialog1->setObjectName("ManyDialog1");
  ManyDialog1->setNameFilters({"SDTS transfers (????CE??.ddf *.tar.gz *.tgz *.tar *.tar.Z *.tar.bz2 *.tar.xz *.zip)", "All Files (*.*)"});
  ManyDialog1->setFileMode(QFileDialog::ExistingFiles);
  ManyDialog1->setLabelText(QFileDialog::Accept, "Convert");
  FolderDialog1 = new QFileDialog(this, "Folder for the converted files", ".");
  FolderDialog1->setObjectName("FolderDialog1");
  FolderDialog1->setFileMode(QFileDialog::Directory);
  FolderDialog1->setOption(QFileDialog::ShowDirsOnly);
  for (QFileDialog* dialog : {ManyDialog1, FolderDialog1}) {
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
  }

  for (QFileDialog* dialog : {OpenDialog1, SaveDialog1}) {
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setFileMode(QFileDialog::AnyFile);  // the file need not exist
    dialog->selectNameFilter(dialog->nameFilters().first());
    // Transfers are often upper case while the filter is written in lower
    // case: names match regardless of case.
    dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The outer size (frame included) is 333 x 412; the frame is known only
  // once the window is shown.
  if (!SizedToFrame) {
    SizedToFrame = true;
    const QSize frame = frameGeometry().size() - size();
    if (frame.isValid() && !frame.isEmpty()) resize(333 - frame.width(), 412 - frame.height());
  }
}

void TForm1::ClearPane() { Memo1->clear(); }

void TForm1::AppendLine(const std::string& line) { Memo1->appendPlainText(PaneText(line)); }

void TForm1::SetProgress(int value) { Gauge1->SetProgress(value); }

bool TForm1::Execute(QFileDialog* dialog) { return dialog->exec() == QDialog::Accepted; }

void TForm1::ShowErrorBox(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, this);
  box.exec();
}

bool TForm1::AskYesNo(const QString& text) {
  return QMessageBox::question(this, ApplicationTitle(QApplication::applicationFilePath()), text) ==
         QMessageBox::Yes;
}

void TForm1::ShowFailure(const TConvertError& failure) {
  // What the user stopped needs no box.
  if (failure.Kind() == TErrorKind::Cancelled) return;
  ShowErrorBox(ApplicationTitle(QApplication::applicationFilePath()), ErrorBoxText(failure.what()));
}

void TForm1::SelectAndConvert() {
  if (!LastCellPath.isEmpty()) OpenDialog1->selectFile(LastCellPath);
  if (!Execute(OpenDialog1)) return;
  QString cellPath = OpenDialog1->selectedFiles().value(0);
  // The dialog adds its default suffix to a name without one: the file the
  // user named is the one without it (a README chosen by mistake, a path
  // that does not exist), and the message names it.
  const QString unsuffixed = cellPath.chopped(std::min<qsizetype>(cellPath.size(), 4));
  if (cellPath.endsWith(".ddf") && !QFileInfo::exists(cellPath) &&
      (QFileInfo::exists(unsuffixed) || !QFileInfo::exists(QFileInfo(unsuffixed).path())))
    cellPath = unsuffixed;
  LastCellPath = cellPath;
  std::string cell = cellPath.toLocal8Bit().toStdString();
  // An archive: its first transfer, read into memory.
  std::shared_ptr<const TArchiveFiles> files;
  std::vector<std::string> cells;
  if (IsArchiveName(cell)) {
    files = std::make_shared<TArchiveFiles>(cell);
    cells = files->CellModules();
    if (cells.empty()) Fail(TErrorKind::NotATransfer, "The archive " + cell + " holds no transfer");
    // Several: all of them as a batch, or the first as one conversion.
    if (cells.size() > 1 && AskYesNo(PaneText("The archive " + cell + " holds " + std::to_string(cells.size()) +
                                              " transfers. Convert them all into one folder?"))) {
      const QString folder = ChooseOutputFolder(cellPath);
      if (!folder.isEmpty()) ConvertMany({cellPath}, folder);
      return;
    }
    cell = cells.front();
  } else if (QFileInfo(cellPath).isDir()) {
    // The folder of one transfer selects it.
    const std::vector<std::string> found = CellModulesIn(cell);
    if (found.size() != 1)
      Fail(TErrorKind::NotATransfer,
           "The folder " + cell + " holds " +
               (found.empty() ? "no transfer" : std::to_string(found.size()) + " transfers") +
               "; choose a module of the transfer to convert");
    cell = found.front();
  }
  // The transfer is found once; its title, in the extension of the format
  // chosen last, is the name proposed.
  TLocatedTransfer transfer = LocateTransfer(cell, files ? *files : DiskFiles(), files);
  SaveDialog1->selectFile(PaneText(DefaultName(transfer, ChosenFormat())));
  if (!Execute(SaveDialog1)) return;
  const std::string dem = SaveDialog1->selectedFiles().value(0).toLocal8Bit().toStdString();
  std::vector<std::string> notes;
  if (cells.size() > 1)
    notes.push_back("The archive holds " + std::to_string(cells.size()) + " transfers; the first was converted: " +
                    cell.substr(files->Container().size() + 1));
  notes.push_back("Written: " + dem);
  // A name typed with another format's extension asks for that format.
  Convert(std::move(transfer), dem, FormatForName(dem, ChosenFormat()), std::move(notes));
}

const TOutputFormat& TForm1::ChosenFormat() const {
  const qsizetype chosen = SaveDialog1->nameFilters().indexOf(SaveDialog1->selectedNameFilter());
  const std::vector<TOutputFormat>& formats = OutputFormats();
  return chosen >= 0 && static_cast<size_t>(chosen) < formats.size() ? formats[static_cast<size_t>(chosen)]
                                                                     : DemFormat();
}

void TForm1::Convert(TLocatedTransfer transfer, const std::string& dem, const TOutputFormat& format,
                     std::vector<std::string> notes) {
  if (Batch) return;
  TAsked asked;
  asked.Output = dem;
  asked.Format = &format;
  // Options > Add New Lines is the DEM's; it stays checked for the next DEM.
  asked.AddNewLines = NewLineMnu->isChecked();
  asked.OptionsAsChoices = true;
  TPlan plan = Plan(asked);
  if (!plan.Refused.empty()) Fail(TErrorKind::OutputIo, plan.Refused);
  TBatchOptions& options = plan.Options;
  options.KeepRelief = true;
  options.Executor = &Threads;
  const std::string label = transfer.Cell;
  std::vector<TLocatedInput> inputs;
  inputs.push_back({std::move(transfer), label});
  // Nothing of an earlier conversion stays in view; an open picture of an
  // earlier DEM closes.
  ClearPane();
  SetProgress(0);
  LastRelief.reset();
  if (ReliefWindow1) ReliefWindow1->close();
  ShadedReliefMnu->setEnabled(false);
  Single = true;
  SingleNotes = std::move(notes);
  if (!StartBatch([&](IBatchObserver& observer) {
        return std::make_unique<TBatch>(options, std::move(inputs), observer);
      }))
    Single = false;
}

void TForm1::SingleFinished(const TBatchItem& item) {
  for (const std::string& line : item.Report) AppendLine(line);
  if (!item.Ok) {
    SetProgress(0);
    ShowFailure(TConvertError(item.ErrorKind, item.Error));
    return;
  }
  SetProgress(item.Progress);
  for (const std::string& note : SingleNotes) AppendLine(note);
  // The picture of this DEM for View > Shaded Relief.
  if (item.Relief) {
    LastRelief = TReliefSnapshot::Take(*item.Relief, QFileInfo(QString::fromLocal8Bit(item.Output.c_str())).fileName());
    ShadedReliefMnu->setEnabled(true);
  }
}

void TForm1::ConvertMnuClick() {
  // A failed command ends here with its message; the window stays ready.
  try {
    SelectAndConvert();
  } catch (...) {
    const TConvertError failure = CurrentFailure();
    // Nothing of the failed command stays in view: the gauge starts again
    // and the picture of an earlier DEM goes.
    SetProgress(0);
    LastRelief.reset();
    if (ReliefWindow1) ReliefWindow1->close();
    ShadedReliefMnu->setEnabled(false);
    ShowFailure(failure);
  }
}

// A click on the check item: Qt's checkable action inverts its check mark
// and does nothing else; the state is read when the save dialog closes.
void TForm1::NewLineMnuClick() { NewLineMnu->trigger(); }

void TForm1::Exit1Click() { close(); }

void TForm1::ShadedReliefMnuClick() {
  if (!LastRelief) return;
  if (!ReliefWindow1) {
    ReliefWindow1 = new TReliefWindow(LastRelief);
    // Beside the main window when the screen has room.
    ReliefWindow1->move(frameGeometry().topRight() + QPoint(8, 0));
  }
  ReliefWindow1->show();
  ReliefWindow1->raise();
  ReliefWindow1->activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A batch first: canceled on request, and the window closes once the
  // transfers under way have ended.
  if (Batch) {
    if (!AskYesNo("Transfers are being converted. Cancel the conversions and close?")) {
      event->ignore();
      return;
    }
    // The batch may have ended while the question was open: then the
    // window closes now.
    if (Batch) {
      event->ignore();
      CloseAfterBatch = true;
      CancelBatch();
      return;
    }
  }
  if (CHMHelper1) CHMHelper1->Viewer().SoftShutDown();
  if (ReliefWindow1) ReliefWindow1->close();
  QMainWindow::closeEvent(event);
}

}  // namespace veloran
