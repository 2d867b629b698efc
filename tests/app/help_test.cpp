// The About box, the help routing and the program's compiled-help viewer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/ChmHelper.h"
#include "app/chmfile.h"
#include "app/helpwindow.h"
#include "app/scnabout.h"
#include "app/sdtsmain.h"
#include "support/textutil.h"
#include "samplegen/transfer.h"

namespace veloran {
namespace {

struct TCall {
  std::string File;
  unsigned Command;
  uintptr_t Data;
  bool operator==(const TCall&) const = default;
};

class Routing : public ::testing::Test {
 protected:
  Routing() { Manager.HelpFile = "VELORAN.chm"; }
  THtmlHelp Recorder() {
    return [this](QWidget*, const std::string& file, unsigned command, uintptr_t data) {
      Calls.push_back({file, command, data});
      if (command == HH_KEYWORD_LOOKUP) {
        Link = *reinterpret_cast<const THHAKLink*>(data);
        Keyword = Link.pszKeywords;
      }
    };
  }
  THelpManager Manager;
  std::vector<TCall> Calls;
  THHAKLink Link;
  std::string Keyword;
};

TEST_F(Routing, EveryHelpRequestGoesToTheCompiledHelp) {
  TCHMHelper helper(Manager, nullptr, Recorder());
  const struct {
    unsigned command;
    intptr_t data;
    TCall sent;
  } cases[] = {
      {HELP_CONTEXT, 42, {"VELORAN.chm", HH_HELP_CONTEXT, 42}},
      {HELP_CONTEXTPOPUP, 7, {"VELORAN.chm", HH_HELP_CONTEXT, 7}},
      {HELP_QUIT, 5, {"VELORAN.chm", HH_CLOSE_ALL, 0}},
      {HELP_CONTENTS, 9, {"VELORAN.chm", HH_DISPLAY_TOC, 0}},
      {HELP_FINDER, 3, {"VELORAN.chm", HH_DISPLAY_TOPIC, 3}},
      {HELP_KEY, 11, {"VELORAN.chm", HH_DISPLAY_INDEX, 11}},
      {4, 99, {"VELORAN.chm", HH_DISPLAY_TOPIC, 0}},
  };
  for (const auto& c : cases) {
    Calls.clear();
    bool callHelp = true;
    EXPECT_TRUE(Manager.OnHelp(c.command, c.data, callHelp)) << c.command;
    EXPECT_FALSE(callHelp) << "handled: no other help system runs";
    ASSERT_EQ(Calls.size(), 1u) << c.command;
    EXPECT_EQ(Calls[0], c.sent) << c.command;
  }
  EXPECT_TRUE(Manager.HelpCommand(HELP_CONTENTS, 0));
}

TEST_F(Routing, ViewerUnderstandsOnlyCompiledHelpFiles) {
  TCHMHelper helper(Manager, nullptr, Recorder());
  THTMLHelpViewer& viewer = helper.Viewer();
  EXPECT_EQ(viewer.GetViewerName(), "HTMLHelp Viewer");
  EXPECT_GT(viewer.ViewerID(), 0);
  ASSERT_NE(Manager.WinHelpTester, nullptr);
  const struct {
    const char* file;
    bool chm, hlp;
  } cases[] = {{"VELORAN.chm", true, false}, {"VELORAN.CHM", true, false}, {"old.HLP", false, true},
               {"old.hlp", false, true},     {"notes.txt", false, false},  {"chm", false, false}};
  for (const auto& c : cases) {
    Manager.HelpFile = c.file;
    EXPECT_EQ(viewer.UnderstandsKeyword("x") > 0, c.chm) << c.file;
    EXPECT_EQ(viewer.UnderstandsTopic("x"), c.chm) << c.file;
    EXPECT_EQ(viewer.UnderstandsContext(1), c.chm) << c.file;
    EXPECT_EQ(viewer.CanShowTableOfContents(), c.chm) << c.file;
    const auto strings = viewer.GetHelpStrings("Missing Count");
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(strings->size(), c.chm ? 1u : 0u) << c.file;
    EXPECT_EQ(Manager.WinHelpTester->CanShowALink("x", c.file), c.hlp) << c.file;
    EXPECT_EQ(Manager.WinHelpTester->CanShowTopic("x", c.file), c.hlp) << c.file;
    EXPECT_EQ(Manager.WinHelpTester->CanShowContext(1, c.file), c.hlp) << c.file;
  }
  EXPECT_TRUE(Manager.WinHelpTester->GetHelpStrings("x").empty());
  EXPECT_EQ(Manager.WinHelpTester->GetHelpPath(), "");
  EXPECT_EQ(Manager.WinHelpTester->GetDefaultHelpFile(), "");
  Manager.HelpFile = "old.hlp";
  EXPECT_FALSE(Manager.HelpKeyword("x"));
  EXPECT_TRUE(Calls.empty());
}

TEST_F(Routing, TopicsKeywordsContextsAndShutDown) {
  EXPECT_EQ(TopicName("VELORAN.chm", "convert.htm"), "VELORAN.chm::/convert.htm");
  EXPECT_EQ(TopicName("VELORAN.chm", "/convert.htm"), "VELORAN.chm::/convert.htm");
  EXPECT_EQ(TopicName("VELORAN.chm", ""), "VELORAN.chm");
  {
    TCHMHelper helper(Manager, nullptr, Recorder());
    EXPECT_TRUE(Manager.HelpJump("errors.htm"));
    EXPECT_TRUE(Manager.HelpJump(""));
    EXPECT_TRUE(Manager.HelpContext(12));
    EXPECT_TRUE(Manager.ShowTableOfContents());
    EXPECT_TRUE(Manager.HelpKeyword("Missing Count"));
    EXPECT_EQ(Calls, (std::vector<TCall>{{"VELORAN.chm::/errors.htm", HH_DISPLAY_TOPIC, 0},
                                         {"VELORAN.chm", HH_DISPLAY_TOPIC, 0},
                                         {"VELORAN.chm", HH_HELP_CONTEXT, 12},
                                         {"VELORAN.chm", HH_DISPLAY_TOC, 0},
                                         {"VELORAN.chm", HH_KEYWORD_LOOKUP, Calls.back().Data}}));
    EXPECT_EQ(Link.cbStruct, 32);
    EXPECT_EQ(Keyword, "Missing Count");
    EXPECT_EQ(Link.pszUrl, nullptr);
    EXPECT_EQ(Link.pszWindow, nullptr);
    EXPECT_TRUE(Link.fIndexOnFail);
    Calls.clear();
  }
  // Destroying the component closes all help windows and unhooks it.
  EXPECT_EQ(Calls, (std::vector<TCall>{{"", HH_CLOSE_ALL, 0}}));
  EXPECT_FALSE(Manager.OnHelp);
  EXPECT_FALSE(Manager.HelpCommand(HELP_CONTENTS, 0));
  EXPECT_FALSE(Manager.ShowTableOfContents());  // the viewer was released
}

TEST(About, VersionTextFromTheFileDate) {
  const struct {
    int year, month, day;
    const char* text;
  } cases[] = {{2002, 6, 19, "Version 1.02.6.19"}, {2010, 12, 1, "Version 1.10.12.1"}, {2026, 1, 5, "Version 1.26.1.5"}};
  for (const auto& c : cases) {
    std::tm date{};
    date.tm_year = c.year - 1900;
    date.tm_mon = c.month - 1;
    date.tm_mday = c.day;
    EXPECT_EQ(VersionText(date), c.text);
    EXPECT_EQ(CopyrightText(date), QString("Copyright \u00A9 %1").arg(c.year));
  }
}

TEST(About, BoxTextsAndButton) {
  TAboutDlg about;
  about.FormCreate();
  EXPECT_EQ(about.windowTitle(), "About Veloran");
  EXPECT_EQ(about.size(), QSize(298, 188));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.ProductName->text(), "Veloran");
  EXPECT_EQ(about.Comments->text(), "Veloran");
  EXPECT_EQ(about.Copyright->text(), "Belvaret");
  EXPECT_EQ(about.ProgramIcon->size(), QSize(80, 80));
  EXPECT_EQ(about.ProgramIcon->pixmap().size(), QSize(127, 100));
  EXPECT_EQ(about.OKButton->size(), QSize(77, 27));
  EXPECT_TRUE(about.OKButton->isDefault());
  const std::tm date = FileDate(QApplication::applicationFilePath().toStdString());
  EXPECT_EQ(about.VersionLabel->text(), VersionText(date));
  EXPECT_EQ(about.CopyRightLabel->text(), CopyrightText(date));
  const QString version = about.VersionLabel->text();
  about.show();
  about.OKButton->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
  about.show();
  EXPECT_EQ(about.VersionLabel->text(), version);
  about.close();
}

TEST(HelpFile, BuiltFileListsTheTopics) {
  const auto chm = TChmFile::Open(VELORAN_HELP_FILE);
  ASSERT_NE(chm, nullptr) << VELORAN_HELP_FILE;
  const auto toc = chm->Read(chm->FindBySuffix(".hhc"));
  ASSERT_TRUE(toc);
  std::vector<std::string> names;
  for (const TSitemapEntry& e : ParseSitemap(*toc)) {
    names.push_back(e.Name);
    if (!e.Local.empty()) {
      EXPECT_TRUE(chm->Read(e.Local)) << e.Local;
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Welcome to Veloran", "Converting a transfer", "The Add New Lines option",
                                             "The shaded-relief preview", "Reading the results", "The information report", "The output summary",
                                             "Error messages", "What the DEM file holds"}));
  EXPECT_FALSE(chm->Read("/nothing.htm"));
  EXPECT_EQ(TChmFile::Open("/nonexistent/VELORAN.chm"), nullptr);
}

TEST(HelpFile, SitemapNesting) {
  const auto entries = ParseSitemap(
      R"(<ul><li><object type="text/sitemap"><param name="Name" value="A"><param name="Local" value="a.htm"></object>)"
      R"(<UL><LI><OBJECT><PARAM NAME="Name" VALUE="B"></OBJECT></UL></ul>)");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Local, "a.htm");
  EXPECT_EQ(entries[0].Depth, 0);
  EXPECT_EQ(entries[1].Name, "B");
  EXPECT_EQ(entries[1].Depth, 1);
}

TEST(HelpWindow, OpensOnContentsAndClosesOnCloseAll) {
  QWidget* window = HtmlHelpA(nullptr, VELORAN_HELP_FILE, HH_DISPLAY_TOC, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(OpenHelpWindows(), 1);
  auto* help = static_cast<THelpWindow*>(window);
  EXPECT_EQ(help->Contents->topLevelItemCount(), 7);
  EXPECT_NE(help->Browser->toPlainText().indexOf("Welcome to Veloran"), -1);
  // An internal link is followed inside the file.
  help->Browser->setSource(QUrl("chm:/errors.htm"));
  EXPECT_NE(help->Browser->toPlainText().indexOf("Cannot open file"), -1);
  // The same file reuses its window; a topic and a keyword find their page.
  EXPECT_EQ(HtmlHelpA(nullptr, std::string(VELORAN_HELP_FILE) + "::/options.htm", HH_DISPLAY_TOPIC, 0), window);
  EXPECT_NE(help->Browser->toPlainText().indexOf("1026-byte lines"), -1);
  THHAKLink link;
  link.pszKeywords = "Missing Count";
  HtmlHelpA(nullptr, VELORAN_HELP_FILE, HH_KEYWORD_LOOKUP, reinterpret_cast<uintptr_t>(&link));
  EXPECT_NE(help->Browser->toPlainText().indexOf("The output summary"), -1);
  EXPECT_EQ(HtmlHelpA(nullptr, "", HH_CLOSE_ALL, 0), nullptr);
  EXPECT_EQ(OpenHelpWindows(), 0);
}

TEST(HelpWindow, MissingHelpFileLeavesTheWindowUsable) {
  testing::TTempDir dir;
  THelpManager manager;
  manager.HelpFile = dir / "VELORAN.chm";
  TForm1 form(&manager);
  form.show();
  form.Contents1->trigger();
  EXPECT_EQ(OpenHelpWindows(), 0);
  for (QWidget* w : QApplication::topLevelWidgets())  // no message of our own
    EXPECT_FALSE(w->inherits("QMessageBox") && w->isVisible());
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.ConvertMnu->isEnabled());
  // A bare name is found beside the program when the current directory lacks it.
  manager.HelpFile = "VELORAN.chm";
  form.Contents1->trigger();
  EXPECT_EQ(OpenHelpWindows(), 1);
  HtmlHelpA(nullptr, "", HH_CLOSE_ALL, 0);
}

// In the contents, Enter and Space open the selected topic; a page reached
// by a link selects its entry; Esc closes the window.
TEST(HelpWindow, KeyboardAndLinksMoveTheContents) {
  auto* help = static_cast<THelpWindow*>(HtmlHelpA(nullptr, VELORAN_HELP_FILE, HH_DISPLAY_TOC, 0));
  ASSERT_NE(help, nullptr);
  help->activateWindow();
  auto entry = [&](const QString& name) { return help->Contents->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).value(0); };
  for (const auto key : {Qt::Key_Return, Qt::Key_Space}) {
    help->Browser->setSource(QUrl("chm:/index.htm"));
    help->Contents->setCurrentItem(entry(key == Qt::Key_Space ? "Error messages" : "The shaded-relief preview"));
    help->Contents->setFocus();
    QTest::keyClick(help->Contents, key);
    EXPECT_NE(help->Browser->toPlainText().indexOf(key == Qt::Key_Space ? "Cannot open file" : "shaded-relief"), -1) << key;
  }
  help->Browser->setSource(QUrl("chm:/summary.htm"));  // as a link would
  ASSERT_NE(help->Contents->currentItem(), nullptr);
  EXPECT_EQ(help->Contents->currentItem()->text(0), "The output summary");
  QPointer<QWidget> alive(help);
  QTest::keyClick(help, Qt::Key_Escape);
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(OpenHelpWindows(), 0);
}

// The help window opens beside the main window when the screen has room:
// on its right, or else on its left.
TEST(HelpWindow, OpensBesideTheMainWindow) {
  THelpManager manager;
  manager.HelpFile = VELORAN_HELP_FILE;
  TForm1 form(&manager);
  form.show();
  const QRect screen = form.screen()->availableGeometry();
  for (const bool onTheLeft : {true, false}) {
    form.move(onTheLeft ? screen.left() : screen.right() - form.frameGeometry().width(), screen.top());
    form.Contents1->trigger();
    ASSERT_EQ(OpenHelpWindows(), 1);
    QWidget* help = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "HelpWindow" && w->isVisible()) help = w;
    ASSERT_NE(help, nullptr);
    EXPECT_FALSE(help->frameGeometry().intersects(form.frameGeometry()))
        << "help " << help->x() << "+" << help->width() << ", form " << form.x() << "+" << form.width();
    EXPECT_EQ(help->x() > form.x(), onTheLeft);
    EXPECT_TRUE(screen.contains(help->frameGeometry())) << "screen " << screen.width() << "x" << screen.height() << " help " << help->x() << "," << help->y() << " " << help->frameGeometry().width() << "x" << help->frameGeometry().height();
    HtmlHelpA(nullptr, "", HH_CLOSE_ALL, 0);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// File > Exit while a help window is open ends the program.
TEST(HelpWindow, ExitWithAHelpWindowOpenEndsTheProgram) {
  THelpManager manager;
  manager.HelpFile = VELORAN_HELP_FILE;
  TForm1 form(&manager);
  form.show();
  form.Contents1->trigger();
  ASSERT_EQ(OpenHelpWindows(), 1);
  QTimer::singleShot(0, &form, [&] { form.Exit1->trigger(); });
  QTimer::singleShot(5000, [] { QApplication::exit(99); });  // the program went on
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(OpenHelpWindows(), 0);
}

}  // namespace
}  // namespace veloran
