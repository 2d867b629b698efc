// The program's own compiled-help viewer: a window with the table of
// contents and the index of a CHM file beside its topic pages.
#pragma once

#include <QTextBrowser>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "app/chmfile.h"

class QListWidget;
class QTabWidget;
class QTreeWidget;

namespace veloran {

// Shows topics out of the CHM file and follows its internal links.
class TChmBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  TChmBrowser(const TChmFile& chm, QWidget* parent);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  const TChmFile& Chm;
};

class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit THelpWindow(std::unique_ptr<TChmFile> chm);
  ~THelpWindow() override;
  const std::string& FilePath() const { return Chm->Path(); }

  void ShowTopic(const std::string& topic);  // "" for the default topic
  void ShowContents();
  void ShowIndex();
  // Shows the index entry named like the keyword; false when there is none.
  bool ShowKeyword(const std::string& keyword);

  QTreeWidget* Contents = nullptr;
  QListWidget* Index = nullptr;
  TChmBrowser* Browser = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<TChmFile> Chm;
  QTabWidget* Tabs = nullptr;
  std::string DefaultTopic;
};

// Stands in for the platform's HtmlHelpA: display topic (0), table of
// contents (1), index (2), keyword lookup (13, data a THHAKLink*), context
// (15) and close all (18). A bare file name is looked for in the current
// directory, beside the program, then in the installed data folder. A
// missing or unreadable file shows nothing. Returns the help window, or
// nullptr.
QWidget* HtmlHelpA(QWidget* owner, const std::string& file, unsigned command, uintptr_t data);

// The help windows open now, for tests.
int OpenHelpWindows();

}  // namespace veloran
