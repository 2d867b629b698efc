// The main window, driven headless with scripted dialogs.
#include <gtest/gtest.h>

#include <cstring>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QPlainTextEdit>
#include <deque>
#include <functional>
#include <filesystem>
#include <optional>

#include "app/gauge.h"
#include "app/reliefwindow.h"
#include "app/sdtsmain.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

const std::string kGolden = VELORAN_SOURCE_DIR "/tests/golden/";

// A window whose dialogs answer from a script and whose error box records.
class TScriptedForm : public TForm1 {
 public:
  using TForm1::TForm1;
  std::deque<std::optional<QString>> Answers;  // a path to accept, or nullopt to cancel
  std::vector<QString> Shown;                  // dialogs shown, by object name
  std::vector<QString> Presets;                // the name each dialog showed first
  std::vector<std::pair<QString, QString>> Errors;

 protected:
  bool Execute(QFileDialog* dialog) override {
    Shown.push_back(dialog->objectName());
    const QStringList selected = dialog->selectedFiles();
    Presets.push_back(selected.isEmpty() ? QString() : selected.first());
    if (Answers.empty()) return false;
    const std::optional<QString> answer = Answers.front();
    Answers.pop_front();
    if (!answer) return false;
    dialog->selectFile(*answer);
    return true;
  }
  void ShowErrorBox(const QString& caption, const QString& text) override { Errors.push_back({caption, text}); }
  bool AskYesNo(const QString& text) override {
    Questions.push_back(text);
    if (WhileAsking) WhileAsking();
    if (Replies.empty()) return false;
    const bool reply = Replies.front();
    Replies.pop_front();
    return reply;
  }

 public:
  std::deque<bool> Replies;  // Yes or No to each question; No when none is left
  std::function<void()> WhileAsking;  // what happens while a question is open
  std::vector<QString> Questions;
};

void WaitForBatch(const TForm1& form) {
  for (int i = 0; i < 3000 && form.BatchRunning(); ++i) QTest::qWait(10);
  ASSERT_FALSE(form.BatchRunning());
}

class Window : public ::testing::Test {
 protected:
  QStringList MemoLines() const { return Form.Memo1->toPlainText().split('\n'); }
  // File > Convert SDTS to DEM, to its end.
  void ConvertCommand() {
    Form.ConvertMnuClick();
    WaitForBatch(Form);
  }
  // quad/ with two transfers, FIRST (1234) and SECOND (5678), and two.tar.gz of it.
  void WriteArchiveOfTwo() {
    testing::TTransferSpec first, second;
    first.Title = "FIRST";
    second.Title = "SECOND";
    second.Prefix = "5678";
    std::filesystem::create_directories(Dir / "quad");
    testing::WriteTransfer(Dir / "quad", first);
    testing::WriteTransfer(Dir / "quad", second);
    ASSERT_EQ(std::system(("tar czf '" + Dir / "two.tar.gz" + "' -C '" + Dir.Path() + "' quad").c_str()), 0);
  }
  TScriptedForm Form;
  testing::TTempDir Dir;
};

TEST_F(Window, CaptionsNamesAndMenus) {
  EXPECT_EQ(Form.objectName(), "Form1");
  EXPECT_EQ(Form.windowTitle(), "Veloran");
  EXPECT_EQ(Form.pos(), QPoint(337, 143));
  EXPECT_EQ(Form.font().pointSize(), 8);
  auto* panel3 = Form.findChild<QLabel*>("Panel3");
  ASSERT_NE(panel3, nullptr);
  EXPECT_EQ(panel3->text(), " Information:");
  EXPECT_EQ(panel3->height(), 13);
  ASSERT_NE(Form.findChild<QWidget*>("Panel2"), nullptr);
  EXPECT_EQ(Form.findChild<QWidget*>("Panel1")->maximumHeight(), 32);
  EXPECT_EQ(Form.findChild<QPlainTextEdit*>("Memo1"), Form.Memo1);
  EXPECT_EQ(Form.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(Form.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(Form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(Form.findChild<TGauge*>("Gauge1"), Form.Gauge1);
  EXPECT_EQ(Form.menuBar()->objectName(), "MainMenu1");

  // Menus, items and separators in order, as "name:caption".
  QStringList menus;
  for (QAction* top : Form.menuBar()->actions()) {
    QStringList items;
    for (QAction* a : top->menu()->actions()) items << a->objectName() + ":" + (a->isSeparator() ? "-" : a->text());
    menus << top->menu()->objectName() + ":" + top->text() + " [" + items.join(", ") + "]";
  }
  EXPECT_EQ(menus, QStringList({"File1:&File [ConvertMnu:&Convert SDTS to DEM, ConvertManyMnu:Convert &Many..., N1:-, Exit1:&Exit]",
                                "Options1:Options [NewLineMnu:Add New Lines]",
                                "View1:View [ShadedReliefMnu:Shaded Relief]",
                                "Help1:&Help [Contents1:&Contents, N3:-, About1:&About...]"}));
  EXPECT_EQ(Form.ShadedReliefMnu->shortcut(), QKeySequence("Ctrl+R"));
  EXPECT_TRUE(Form.NewLineMnu->isCheckable());
  EXPECT_FALSE(Form.NewLineMnu->isChecked());
  Form.NewLineMnuClick();
  EXPECT_TRUE(Form.NewLineMnu->isChecked());
  Form.NewLineMnu->trigger();  // a second click
  EXPECT_FALSE(Form.NewLineMnu->isChecked());
}

TEST_F(Window, DialogSettings) {
  const struct {
    QFileDialog* dialog;
    const char* name;
    const char* title;
    QStringList filters;
    const char* suffix;
  } cases[] = {
      {Form.OpenDialog1, "OpenDialog1", "Select DDF Cell File. For example: 1234cel0.ddf",
       {"SDTS CEL File (????CEL?.ddf)", "SDTS Files (*.ddf)", "SDTS archives (*.tar.gz *.tgz *.tar *.tar.Z *.tar.bz2 *.tar.xz *.zip)", "All Files (*.*)"},
       "ddf"},
      {Form.SaveDialog1, "SaveDialog1", "Save DEM File As. For example: cascade.dem",
       {"DEM Files (*.dem)", "GeoTIFF (*.tif)", "Cloud Optimized GeoTIFF (*.tif)", "All Files (*.*)"}, "dem"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.dialog->objectName(), c.name);
    EXPECT_EQ(c.dialog->windowTitle(), c.title);
    EXPECT_EQ(c.dialog->nameFilters(), c.filters);
    EXPECT_EQ(c.dialog->selectedNameFilter(), c.filters.first());
    EXPECT_EQ(c.dialog->defaultSuffix(), c.suffix);
    EXPECT_EQ(c.dialog->directory().absolutePath(), QDir::current().absolutePath());
    EXPECT_EQ(c.dialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(c.dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_FALSE(c.dialog->filter() & QDir::CaseSensitive) << "filters must match upper-case names";
  }
  EXPECT_EQ(Form.SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
}

TEST(ErrorBox, FullStopRuleAndTitle) {
  const struct {
    const char* message;
    const char* text;
  } cases[] = {{"Cannot open file /d/1234IDEN.DDF", "Cannot open file /d/1234IDEN.DDF."},
               {"Ends with a stop.", "Ends with a stop."},
               {"Division by zero", "Division by zero."},
               {"value 7", "value 7."},
               {"odd!", "odd!"},
               {"a-", "a-"},
               {"x,", "x,"},
               {"path/", "path/."},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(ErrorBoxText(c.message), c.text) << c.message;
  EXPECT_EQ(ApplicationTitle("/usr/bin/veloran"), "Veloran");
  EXPECT_EQ(ApplicationTitle("/opt/VELORAN.EXE"), "Veloran");
  EXPECT_EQ(ApplicationTitle("my.prog.bin"), "My");
}

TEST(Gauge, ClampsAndRepaintsOnlyOnANewPercentage) {
  TGauge gauge;
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_EQ(gauge.Progress(), 0);
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  EXPECT_EQ(gauge.ImmediateRepaints(), 1);
  gauge.SetProgress(100);  // unchanged: nothing drawn
  EXPECT_EQ(gauge.ImmediateRepaints(), 1);
  gauge.SetProgress(-5);
  EXPECT_EQ(gauge.Progress(), 0);
  EXPECT_EQ(gauge.ImmediateRepaints(), 2);
  gauge.SetProgress(50);
  EXPECT_EQ(gauge.PercentDone(), 50);
  EXPECT_EQ(gauge.ImmediateRepaints(), 3);

  TGauge fine;
  fine.SetRange(0, 1000);
  fine.SetProgress(5);  // still 0 %
  EXPECT_EQ(fine.Progress(), 5);
  EXPECT_EQ(fine.ImmediateRepaints(), 0);
  fine.SetProgress(19);  // 1 %
  EXPECT_EQ(fine.ImmediateRepaints(), 1);
  fine.SetProgress(15);  // still 1 %
  EXPECT_EQ(fine.ImmediateRepaints(), 1);
}

TEST_F(Window, CancelInEitherDialogChangesNothing) {
  Form.AppendLine("earlier report");
  Form.SetProgress(77);
  Form.Answers = {std::nullopt};
  ConvertCommand();
  EXPECT_EQ(Form.Shown, (std::vector<QString>{"OpenDialog1"}));
  Form.Answers = {QString::fromStdString(kGolden + "small/1234CEL0.DDF"), std::nullopt};
  ConvertCommand();
  EXPECT_EQ(Form.Shown.size(), 3u);
  EXPECT_EQ(Form.Presets.back(), QDir::current().absoluteFilePath("VELORAN TEST CORNER, WA.dem"));
  EXPECT_EQ(MemoLines(), QStringList({"earlier report"}));
  EXPECT_EQ(Form.Gauge1->Progress(), 77);
  EXPECT_TRUE(Form.Errors.empty());
}

TEST_F(Window, ConvertsASampleTransfer) {
  const QString cell = QString::fromStdString(kGolden + "small/1234CEL0.DDF");
  const QString dem = QString::fromStdString(Dir / "out.dem");
  Form.Answers = {cell, dem};
  ConvertCommand();
  EXPECT_TRUE(Form.Errors.empty());
  EXPECT_EQ(MemoLines().size(), 44);
  EXPECT_EQ(MemoLines().first(), "Units: Meters");
  EXPECT_EQ(MemoLines().last(), "Written: " + dem);
  EXPECT_EQ(Form.Gauge1->Progress(), 99);  // 50 + 50 x 39 / 40, rounded
  EXPECT_EQ(std::filesystem::file_size(dem.toStdString()) % 1024, 0u);

  // "Add New Lines" checked when the save dialog closes; the second command
  // shows the first command's path.
  Form.NewLineMnuClick();
  Form.Answers = {cell, dem};
  ConvertCommand();
  EXPECT_EQ(Form.Presets[2], cell);
  EXPECT_EQ(std::filesystem::file_size(dem.toStdString()) % 1026, 0u);
  EXPECT_EQ(MemoLines().size(), 44);

  // After a failure the gauge starts again and the last DEM's picture goes.
  EXPECT_TRUE(Form.ShadedReliefMnu->isEnabled());
  Form.Answers = {QString::fromStdString(Dir / "none/1234CEL0.DDF")};
  ConvertCommand();
  EXPECT_EQ(Form.Errors.size(), 1u);
  EXPECT_EQ(Form.Gauge1->Progress(), 0);
  EXPECT_FALSE(Form.ShadedReliefMnu->isEnabled());
}

TEST_F(Window, MissingIdenShowsTheErrorAndNoSaveDialog) {
  testing::WriteTransfer(Dir.Path(), testing::TTransferSpec{});
  std::filesystem::remove(Dir / "1234IDEN.DDF");
  Form.Answers = {QString::fromStdString(Dir / "1234CEL0.DDF")};
  ConvertCommand();
  EXPECT_EQ(Form.Shown, (std::vector<QString>{"OpenDialog1"}));
  ASSERT_EQ(Form.Errors.size(), 1u);
  EXPECT_EQ(Form.Errors[0].first, ApplicationTitle(QApplication::applicationFilePath()));
  EXPECT_EQ(Form.Errors[0].second, QString::fromStdString("The transfer 1234 in " + Dir.Path() + " is incomplete: its IDEN module (" +
                                                           Dir.Path() + "/1234IDEN.DDF) is missing."));
  // The window stays ready for the next command.
  Form.Answers = {QString::fromStdString(kGolden + "small/1234CEL0.DDF"), QString::fromStdString(Dir / "ok.dem")};
  ConvertCommand();
  EXPECT_EQ(Form.Errors.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(Dir / "ok.dem"));
}

// Any file of a transfer opens it; a wrong one is refused before the save
// dialog, with a message naming what is wrong.
TEST_F(Window, WrongInputsAreRefusedBeforeTheSaveDialog) {
  testing::WriteTransfer(Dir.Path(), testing::TTransferSpec{});
  std::filesystem::create_directories(Dir / "part");
  testing::WriteTransfer(Dir / "part", testing::TTransferSpec{});
  std::filesystem::remove(Dir / "part/1234XREF.DDF");
  std::filesystem::create_directories(Dir / "empty");
  testing::WriteFileBytes(Dir / "README", "read me");
  testing::WriteFileBytes(Dir / "relief.png", "\x89PNG");
  const struct {
    std::string Chosen;
    std::string Message;  // "" when it converts
  } cases[] = {
      {Dir / "1234CATD.DDF", ""},
      {Dir / "empty", "The folder " + Dir / "empty" + " holds no transfer; choose a module of the transfer to convert."},
      {Dir.Path(), ""},
      {Dir / "1234LDEF.DDF", ""},
      {Dir / "README", Dir / "README is not a module of an SDTS transfer."},
      {Dir / "relief.png", Dir / "relief.png is not a module of an SDTS transfer."},
      {Dir / "none/path", "Cannot open file " + Dir / "none/path" + ": No such file or directory."},
      {Dir / "part/1234CEL0.DDF", "The transfer 1234 in " + Dir / "part" + " is incomplete: its XREF module (" +
                                      Dir / "part/1234XREF.DDF" + ") is missing."},
  };
  for (const auto& c : cases) {
    Form.Shown.clear();
    Form.Errors.clear();
    Form.Answers = {QString::fromStdString(c.Chosen), QString::fromStdString(Dir / "out.dem")};
    ConvertCommand();
    if (c.Message.empty()) {
      EXPECT_TRUE(Form.Errors.empty()) << c.Chosen;
      EXPECT_EQ(MemoLines().last(), QString::fromStdString("Written: " + Dir / "out.dem")) << c.Chosen;
      continue;
    }
    EXPECT_EQ(Form.Shown, (std::vector<QString>{"OpenDialog1"})) << c.Chosen;
    ASSERT_EQ(Form.Errors.size(), 1u) << c.Chosen;
    EXPECT_EQ(Form.Errors[0].second.toStdString(), c.Message);
  }
}

// The save dialog's filter decides the format and the proposed name,
// unless the name typed ends in another format's extension.
TEST_F(Window, TheSaveFilterChoosesTheFormat) {
  const QString cell = QString::fromStdString(kGolden + "small/1234CEL0.DDF");
  const struct {
    const char* Filter;
    const char* Name;     // typed in the dialog
    const char* Magic;    // the file's first bytes
    const char* Summary;  // the summary's first line, after the 32 report lines
    int Lines;
  } cases[] = {{"GeoTIFF (*.tif)", "out.file", "II*", "Final Output GeoTIFF:", 45},
               {"Cloud Optimized GeoTIFF (*.tif)", "out.file", "II*", "Final Output Cloud Optimized GeoTIFF:", 45},
               {"DEM Files (*.dem)", "out.file", "VELORAN", "Final Output USGS DEM:", 44},
               {"DEM Files (*.dem)", "out.TIFF", "II*", "Final Output GeoTIFF:", 45},
               {"Cloud Optimized GeoTIFF (*.tif)", "out.tif", "II*", "Final Output Cloud Optimized GeoTIFF:", 45},
               {"GeoTIFF (*.tif)", "out.dem", "VELORAN", "Final Output USGS DEM:", 44}};
  for (const auto& c : cases) {
    Form.SaveDialog1->selectNameFilter(c.Filter);
    const std::string out = Dir / c.Name;
    Form.Answers = {cell, QString::fromStdString(out)};
    ConvertCommand();
    ASSERT_TRUE(Form.Errors.empty()) << c.Filter;
    EXPECT_TRUE(Form.Presets.back().endsWith(std::string(c.Filter).starts_with("DEM") ? ".dem" : ".tif")) << c.Filter;
    EXPECT_EQ(testing::ReadFileBytes(out).substr(0, std::strlen(c.Magic)), c.Magic) << c.Filter << c.Name;
    EXPECT_EQ(MemoLines().size(), c.Lines) << c.Filter << c.Name;  // the report, the format's summary, "Written: "
    EXPECT_EQ(MemoLines()[32], c.Summary) << c.Filter << c.Name;
    if (std::string(c.Magic) == "II*") {
      EXPECT_EQ(Form.Gauge1->Progress(), 100) << c.Filter << c.Name;  // the DEM's ends at its last column
    }
  }
}

// The desktop program shares the core's safety: a module of the transfer
// is never written over, and each conversion starts from a fresh state.
TEST_F(Window, NeverWritesOverTheTransferAndForgetsTheLastOne) {
  testing::TTransferSpec first;
  first.Hdat = "NAX";
  testing::TTransferSpec second;
  second.Prefix = "5678";
  second.Hdat = "OTHER";
  const std::string a = testing::WriteTransfer(Dir.Path(), first);
  const std::string b = testing::WriteTransfer(Dir.Path(), second);
  const std::string ldef = testing::ReadFileBytes(Dir / "1234LDEF.DDF");
  Form.Answers = {QString::fromStdString(a), QString::fromStdString(Dir / "1234LDEF.DDF")};
  ConvertCommand();
  ASSERT_EQ(Form.Errors.size(), 1u);
  EXPECT_TRUE(Form.Errors[0].second.startsWith(QString::fromStdString("Cannot create file " + Dir.Path() + "/1234LDEF.DDF: it is ")));
  EXPECT_EQ(testing::ReadFileBytes(Dir / "1234LDEF.DDF"), ldef);

  Form.Answers = {QString::fromStdString(a), QString::fromStdString(Dir / "a.dem")};
  ConvertCommand();
  EXPECT_EQ(MemoLines()[17], "Datum: 3");
  Form.Answers = {QString::fromStdString(b), QString::fromStdString(Dir / "b.dem")};
  ConvertCommand();
  EXPECT_EQ(MemoLines()[17], "Datum: 0");  // B names no known datum: not A's
  EXPECT_EQ(Form.Errors.size(), 1u);
}

// Choosing an archive converts its first transfer; the pane says when the
// archive held more.
TEST_F(Window, ConvertsTheFirstTransferOfAnArchive) {
  WriteArchiveOfTwo();
  const std::string archive = Dir / "two.tar.gz";
  Form.Answers = {QString::fromStdString(archive), QString::fromStdString(Dir / "a.dem")};
  ConvertCommand();
  ASSERT_TRUE(Form.Errors.empty()) << Form.Errors[0].second.toStdString();
  EXPECT_EQ(Form.Presets[1], QDir::current().absoluteFilePath("FIRST.dem"));
  EXPECT_EQ(MemoLines()[2], "Title: FIRST");
  EXPECT_EQ(MemoLines().size(), 45);
  EXPECT_EQ(MemoLines()[43], "The archive holds 2 transfers; the first was converted: quad/1234CEL0.DDF");
  EXPECT_EQ(MemoLines().last(), QString::fromStdString("Written: " + Dir / "a.dem"));
  EXPECT_TRUE(std::filesystem::exists(Dir / "a.dem"));
  // A damaged archive shows its message.
  testing::WriteFileBytes(Dir / "bad.tgz", "not an archive");
  Form.Answers = {QString::fromStdString(Dir / "bad.tgz")};
  ConvertCommand();
  ASSERT_EQ(Form.Errors.size(), 1u);
  EXPECT_TRUE(Form.Errors[0].second.startsWith(QString::fromStdString("Cannot read archive " + Dir / "bad.tgz" + ": ")));
}

// View > Shaded Relief: disabled before a conversion; afterwards a window
// titled with the DEM's name shows the picture, its range and the cell under
// the mouse. The main window stays as it was.
TEST_F(Window, ShadedReliefOfTheLastDem) {
  EXPECT_FALSE(Form.ShadedReliefMnu->isEnabled());
  const QSize size = Form.size();
  testing::TTransferSpec spec;
  spec.Rows = {{10, 20, 30, 40}, {11, 21, 31, -32767}, {12, 22, 32, 42}, {13, 23, 33, 43}};
  const std::string cell = testing::WriteTransfer(Dir.Path(), spec);
  Form.Answers = {QString::fromStdString(cell), QString::fromStdString(Dir / "quad.dem")};
  ConvertCommand();
  ASSERT_TRUE(Form.Errors.empty());
  ASSERT_TRUE(Form.ShadedReliefMnu->isEnabled());
  Form.ShadedReliefMnu->trigger();
  ASSERT_NE(Form.ReliefWindow1, nullptr);
  TReliefWindow& relief = *Form.ReliefWindow1;
  EXPECT_TRUE(relief.isVisible());
  EXPECT_EQ(relief.windowTitle(), "quad.dem");
  EXPECT_EQ(relief.Legend->text(), "Elevation 10 to 43 m");
  EXPECT_NE(relief.maximumSize(), relief.minimumSize());  // resizable
  EXPECT_EQ(Form.size(), size);
  // The picture keeps its proportions; the cell under a point is named.
  relief.resize(400, 300);
  QApplication::processEvents();
  const QRect picture = relief.View->PictureRect();
  EXPECT_EQ(picture.width(), picture.height());  // a 4 x 4 grid
  const QPoint inSecondRowLastColumn(picture.left() + picture.width() * 7 / 8, picture.top() + picture.height() * 3 / 8);
  EXPECT_EQ(relief.View->CellAt(inSecondRowLastColumn), QPoint(3, 1));
  QMouseEvent move(QEvent::MouseMove, QPointF(inSecondRowLastColumn), relief.View->mapToGlobal(QPointF(inSecondRowLastColumn)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(relief.View, &move);
  EXPECT_EQ(relief.Status->text(), "Column 4, row 2: easting 600090, northing 4999970, no elevation");
  EXPECT_EQ(relief.Snapshot().CellText(0, 3), "Column 1, row 4: easting 600000, northing 4999910, elevation 13 m");
  EXPECT_EQ(relief.View->CellAt(QPoint(picture.left() - 1, picture.top())), QPoint(-1, -1));
}

// Batches from the window: the events come queued from the workers.

size_t TemporaryFiles(const std::string& dir) {
  size_t count = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) count += e.path().filename().string().rfind(".vlr", 0) == 0;
  return count;
}

// Files, folders (searched to any depth) and an archive dropped onto the
// window: the first drop asks for the folder, every transfer is converted
// into it with one pane line each and a count, in the format of the save
// dialog's filter; the relief shows the last DEM; a later drop asks no more.
TEST_F(Window, DroppedTransfersAreConvertedIntoTheChosenFolder) {
  WriteArchiveOfTwo();
  testing::TTransferSpec lone;
  lone.Title = "LONE";
  std::filesystem::create_directories(Dir / "nest/lone");
  std::filesystem::create_directories(Dir / "out");
  testing::WriteTransfer(Dir / "nest/lone", lone);
  testing::WriteFileBytes(Dir / "junk.DDF", "no module");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(Dir / "two.tar.gz")),
                QUrl::fromLocalFile(QString::fromStdString(Dir / "nest")),
                QUrl::fromLocalFile(QString::fromStdString(Dir / "junk.DDF"))});
  auto drop = [&] {
    QDragEnterEvent enter(QPoint(20, 60), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(20, 60), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form, &dropped);
    QApplication::processEvents();
    WaitForBatch(Form);
  };
  Form.Answers = {QString::fromStdString(Dir / "out")};
  drop();
  EXPECT_EQ(Form.Shown, (std::vector<QString>{"FolderDialog1"}));
  const std::string out = Dir / "out/";
  EXPECT_EQ(Form.Memo1->toPlainText().toStdString(), QStringList({QString::fromStdString("OK " + Dir / "two.tar.gz/quad/1234CEL0.DDF -> " + out + "FIRST.dem"),
                                      QString::fromStdString("OK " + Dir / "two.tar.gz/quad/5678CEL0.DDF -> " + out + "SECOND.dem"),
                                      QString::fromStdString("OK " + Dir / "nest/lone/1234CEL0.DDF -> " + out + "LONE.dem"),
                                      QString::fromStdString("FAILED " + Dir / "junk.DDF: " + Dir / "junk.DDF" +
                                                             " is not a module of an SDTS transfer"),
                                      "3 converted, 1 failed (1 not a transfer)"}).join('\n').toStdString());
  EXPECT_EQ(Form.Gauge1->Progress(), 100);
  EXPECT_TRUE(Form.ShadedReliefMnu->isEnabled());
  Form.ShadedReliefMnu->trigger();
  ASSERT_NE(Form.ReliefWindow1, nullptr);
  EXPECT_EQ(Form.ReliefWindow1->windowTitle(), "LONE.dem");
  // The save dialog's filter chose GeoTIFF: the next drop writes them, into
  // the same folder, without asking.
  Form.SaveDialog1->selectNameFilter("GeoTIFF (*.tif)");
  drop();
  EXPECT_EQ(Form.Shown.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(out + "LONE.tif"));
  EXPECT_EQ(MemoLines().last(), "3 converted, 1 failed (1 not a transfer)");
}

// Esc stops a batch of many after the transfers under way, which end whole;
// "Add New Lines" applies to every DEM of the batch.
TEST_F(Window, EscCancelsABatchOfMany) {
  const QString quad = VELORAN_SOURCE_DIR "/tests/data/mount-tabor-7974";
  Form.NewLineMnuClick();
  Form.ConvertMany(QStringList(24, quad), QString::fromStdString(Dir.Path()));
  ASSERT_TRUE(Form.BatchRunning());
  EXPECT_TRUE(Form.CancelButton->isVisibleTo(&Form));
  EXPECT_FALSE(Form.ConvertMnu->isEnabled());
  QTest::keyClick(&Form, Qt::Key_Escape);
  WaitForBatch(Form);
  ASSERT_TRUE(MemoLines().last().endsWith(" failed, canceled")) << MemoLines().last().toStdString();
  const qsizetype converted = MemoLines().size() - 1;
  EXPECT_LT(converted, 24);
  EXPECT_EQ(TemporaryFiles(Dir.Path()), 0u);
  std::vector<uintmax_t> sizes;
  for (const auto& e : std::filesystem::directory_iterator(Dir.Path())) sizes.push_back(std::filesystem::file_size(e.path()));
  EXPECT_EQ(sizes.size(), static_cast<size_t>(converted));
  for (const uintmax_t size : sizes) EXPECT_TRUE(size == sizes[0] && size % 1026 == 0) << size;
  EXPECT_FALSE(Form.CancelButton->isVisibleTo(&Form));
  EXPECT_TRUE(Form.ConvertMnu->isEnabled());
}

// Closing asks first; No keeps the batch and the window, Yes cancels and
// closes once the transfers under way have ended.
TEST_F(Window, ClosingDuringABatchAsksToCancel) {
  Form.show();
  const QString quad = VELORAN_SOURCE_DIR "/tests/data/mount-tabor-7974";
  Form.ConvertMany(QStringList(24, quad), QString::fromStdString(Dir.Path()));
  Form.Replies = {false, true};
  Form.close();
  EXPECT_TRUE(Form.isVisible());
  EXPECT_EQ(Form.Questions.size(), 1u);
  Form.close();
  WaitForBatch(Form);
  QApplication::processEvents();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(TemporaryFiles(Dir.Path()), 0u);

  // The batch ends while the question is open: Yes closes the window.
  Form.show();
  Form.ConvertMany({quad}, QString::fromStdString(Dir.Path()));
  Form.WhileAsking = [&] { WaitForBatch(Form); };
  Form.Replies = {true};
  Form.close();
  QApplication::processEvents();
  EXPECT_FALSE(Form.isVisible());
}

// File > Convert Many..., an archive of several through Convert SDTS to DEM,
// and a folder that cannot take files.
TEST_F(Window, ConvertManyAndArchivesOfSeveral) {
  WriteArchiveOfTwo();
  std::filesystem::create_directories(Dir / "out");

  Form.Answers = {QString::fromStdString("\"1234CEL0.DDF\" \"5678CEL0.DDF\""), QString::fromStdString(Dir / "out")};
  Form.ManyDialog1->setDirectory(QString::fromStdString(Dir / "quad"));
  Form.ConvertManyMnuClick();
  WaitForBatch(Form);
  EXPECT_EQ(Form.Shown, (std::vector<QString>{"ManyDialog1", "FolderDialog1"}));
  EXPECT_EQ(MemoLines().size(), 3) << Form.Memo1->toPlainText().toStdString();
  EXPECT_EQ(MemoLines().last(), "2 converted, 0 failed");

  std::filesystem::remove_all(Dir / "out");
  std::filesystem::create_directories(Dir / "out");
  Form.Answers = {QString::fromStdString(Dir / "two.tar.gz"), QString::fromStdString(Dir / "out")};
  Form.Replies = {true};
  ConvertCommand();
  ASSERT_EQ(Form.Questions.size(), 1u);
  EXPECT_EQ(Form.Questions[0], QString::fromStdString("The archive " + Dir / "two.tar.gz" +
                                                      " holds 2 transfers. Convert them all into one folder?"));
  EXPECT_EQ(MemoLines().last(), "2 converted, 0 failed");
  EXPECT_TRUE(std::filesystem::exists(Dir / "out/SECOND.dem"));

  Form.ConvertMany({QString::fromStdString(Dir / "quad")}, QString::fromStdString(Dir / "none"));
  EXPECT_FALSE(Form.BatchRunning());
  ASSERT_EQ(Form.Errors.size(), 1u);
  EXPECT_EQ(Form.Errors[0].second, QString::fromStdString("Cannot write in folder " + Dir / "none" + ": No such file or directory."));
}

}  // namespace
}  // namespace veloran

int main(int argc, char** argv) {
  // Headless, also when ctest lists the tests, and in a fixed locale (the
  // pane's separator follows it; ctest's ENVIRONMENT holds one variable
  // per discovered test).
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("LC_ALL", "C");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
