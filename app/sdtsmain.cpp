#include "app/sdtsmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/ChmHelper.h"
#include "convert/driver.h"
#include "app/gauge.h"
#include "app/helpwindow.h"
#include "app/reliefwindow.h"
#include "convert/transfers.h"

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

TForm1::TForm1(TConversionState& state, THelpManager* help, QWidget* parent) : QMainWindow(parent), State(state) {
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
  auto* panel1Layout = new QVBoxLayout(panel1);
  panel1Layout->setContentsMargins(5, 5, 5, 5);
  Gauge1 = new TGauge(panel1);
  panel1Layout->addWidget(Gauge1);
  layout->addWidget(panel1);

  setCentralWidget(client);
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
// opened; the relief window goes with the main window.
TForm1::~TForm1() { delete ReliefWindow1; }

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
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(ShadedReliefMnu, &QAction::triggered, this, &TForm1::ShadedReliefMnuClick);
  connect(Contents1, &QAction::triggered, this, &TForm1::Contents1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
}

void TForm1::BuildDialogs() {
  // Qt's own dialogs, so that every setting below holds on every desktop.
  OpenDialog1 = new QFileDialog(this, "Select DDF Cell File. For example: 1234cel0.ddf", ".");
  OpenDialog1->setObjectName("OpenDialog1");
  // Qt separates a filter's patterns with blanks: "*.tar.gz;*.tgz" would
  // match no archive at all.
  OpenDialog1->setNameFilters(
      {"SDTS CEL File (????CEL?.ddf)", "SDTS Files (*.ddf)", "SDTS archives (*.tar.gz *.tgz *.tar)", "All Files (*.*)"});
  OpenDialog1->setDefaultSuffix("ddf");

  SaveDialog1 = new QFileDialog(this, "Save DEM File As. For example: cascade.dem", ".");
  SaveDialog1->setObjectName("SaveDialog1");
  // The filter chosen decides the format written; DEM first.
  SaveDialog1->setNameFilters(
      {"DEM Files (*.dem)", "GeoTIFF (*.tif)", "Cloud Optimized GeoTIFF (*.tif)", "All Files (*.*)"});
  connect(SaveDialog1, &QFileDialog::filterSelected, this, [this] {
    SaveDialog1->setDefaultSuffix(QString(ChosenFormat().Extension).mid(1));
  });
  SaveDialog1->setDefaultSuffix("dem");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);

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
  std::shared_ptr<const TMemoryFiles> files;
  std::vector<std::string> cells;
  if (IsArchiveName(cell)) {
    files = ReadArchive(cell);
    cells = CellModules(*files);
    if (cells.empty()) throw std::runtime_error("The archive " + cell + " holds no transfer");
    cell = cells.front();
  } else if (QFileInfo(cellPath).isDir()) {
    // The folder of one transfer selects it.
    const std::vector<std::string> found = CellModulesIn(cell);
    if (found.size() != 1)
      throw std::runtime_error("The folder " + cell + " holds " + (found.empty() ? "no transfer" : std::to_string(found.size()) + " transfers") +
                               "; choose a module of the transfer to convert");
    cell = found.front();
  }
  // The name in the extension of the format chosen last.
  const std::string name = MakeDefaultDemName(cell, files.get());
  SaveDialog1->selectFile(PaneText(name.substr(0, name.size() - 4) + ChosenFormat().Extension));
  if (!Execute(SaveDialog1)) return;
  const std::string dem = SaveDialog1->selectedFiles().value(0).toLocal8Bit().toStdString();
  Convert(cell, dem, files.get(), ChosenFormat());
  if (cells.size() > 1)
    AppendLine("The archive holds " + std::to_string(cells.size()) + " transfers; the first was converted: " +
               cell.substr(files->SourcePath.size() + 1));
  AppendLine("Written: " + dem);
}

const TOutputFormat& TForm1::ChosenFormat() const {
  const qsizetype chosen = SaveDialog1->nameFilters().indexOf(SaveDialog1->selectedNameFilter());
  if (chosen == 1) return *FindOutputFormat("gtiff");
  if (chosen == 2) return *FindOutputFormat("cog");
  return DemFormat();
}

void TForm1::Convert(const std::string& cell, const std::string& dem, const TMemoryFiles* files,
                     const TOutputFormat& format) {
  // The conversion starts the state afresh: nothing of an earlier one stays.
  ConvertSdtsToDem(State, cell, dem, NewLineMnu->isChecked(), *this, true, files, format);
  // The picture of this DEM for View > Shaded Relief; an open picture of an
  // earlier DEM closes.
  LastRelief = TReliefSnapshot::Take(State, QFileInfo(QString::fromLocal8Bit(dem.c_str())).fileName());
  if (ReliefWindow1) ReliefWindow1->close();
  ShadedReliefMnu->setEnabled(true);
}

void TForm1::ConvertMnuClick() {
  // A failed command ends here with its message; the window stays ready.
  try {
    SelectAndConvert();
  } catch (const std::exception& e) {
    // Nothing of the failed command stays in view: the gauge starts again
    // and the picture of an earlier DEM goes.
    SetProgress(0);
    LastRelief.reset();
    if (ReliefWindow1) ReliefWindow1->close();
    ShadedReliefMnu->setEnabled(false);
    ShowErrorBox(ApplicationTitle(QApplication::applicationFilePath()), ErrorBoxText(e.what()));
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
  if (CHMHelper1) CHMHelper1->Viewer().SoftShutDown();
  if (ReliefWindow1) ReliefWindow1->close();
  QMainWindow::closeEvent(event);
}

}  // namespace veloran
