#include "app/helpwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPointer>
#include <QScreen>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTreeWidgetItemIterator>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "app/ChmHelper.h"

namespace veloran {

namespace {

// Every help window the program opened, so that close all reaches them.
std::vector<QPointer<THelpWindow>>& HelpWindows() {
  static std::vector<QPointer<THelpWindow>> windows;
  return windows;
}

constexpr int kTopicRole = Qt::UserRole + 1;

QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A bare name: the current directory first, then beside the program, then
// the installed data folder (share/veloran beside the program's bin).
QString FindHelpFile(const QString& name) {
  if (name.isEmpty()) return {};
  if (QFileInfo(name).isAbsolute() || name.contains('/')) return QFileInfo(name).absoluteFilePath();
  const QString programDir = QCoreApplication::applicationDirPath();
  for (const QString& dir : {QDir::currentPath(), programDir, programDir + "/../share/veloran"}) {
    const QString path = QDir(dir).filePath(name);
    if (QFileInfo(path).isFile()) return path;
  }
  return {};
}

// Beside the owner, on its right or else on its left, narrowed to the room
// there when needed (but not below 400 pixels); over it only when the
// screen has no room beside it.
void PlaceBeside(QWidget& window, const QWidget& owner) {
  const QScreen* screen = owner.screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QRect frame = owner.frameGeometry();
  constexpr int kGap = 8, kNarrowest = 400;
  const int right = area.right() - (frame.right() + kGap);
  const int left = frame.left() - kGap - area.left();
  // Sizes with the window's frame, which resize() leaves out.
  const QSize extra = window.frameGeometry().size() - window.size();
  const int wanted = window.width() + extra.width();
  int x;
  if (right >= std::min(wanted, kNarrowest)) {
    window.resize(std::min(wanted, right) - extra.width(), window.height());
    x = frame.right() + kGap;
  } else if (left >= std::min(wanted, kNarrowest)) {
    window.resize(std::min(wanted, left) - extra.width(), window.height());
    x = frame.left() - kGap - (window.width() + extra.width());
  } else {
    x = std::max(area.left(), std::min(frame.right() + kGap, area.right() - wanted));
  }
  const int y = std::max(area.top(), std::min(frame.top(), area.bottom() - window.height() - extra.height()));
  window.move(x, y);
}

}  // namespace

TChmBrowser::TChmBrowser(const TChmFile& chm, QWidget* parent) : QTextBrowser(parent), Chm(chm) {
  setOpenExternalLinks(false);
}

QVariant TChmBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == "chm") {
    if (const auto bytes = Chm.Read(name.path().toStdString())) {
      return type == QTextDocument::HtmlResource ? QVariant(FromBytes(*bytes))
                                                 : QVariant(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())));
    }
    return {};
  }
  return QTextBrowser::loadResource(type, name);
}

THelpWindow::THelpWindow(std::unique_ptr<TChmFile> chm) : Chm(std::move(chm)) {
  setObjectName("HelpWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(760, 520);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* splitter = new QSplitter(this);
  Tabs = new QTabWidget(splitter);
  Contents = new QTreeWidget(Tabs);
  Contents->setHeaderHidden(true);
  Index = new QListWidget(Tabs);
  Tabs->addTab(Contents, "Contents");
  Tabs->addTab(Index, "Index");
  Browser = new TChmBrowser(*Chm, splitter);
  splitter->addWidget(Tabs);
  splitter->addWidget(Browser);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({220, 540});
  layout->addWidget(splitter);

  // Table of contents: the .hhc sitemap as a tree.
  std::vector<QTreeWidgetItem*> parents;
  if (const auto toc = Chm->Read(Chm->FindBySuffix(".hhc"))) {
    for (const TSitemapEntry& e : ParseSitemap(*toc)) {
      parents.resize(static_cast<size_t>(e.Depth));
      QTreeWidgetItem* item = parents.empty() || !parents.back() ? new QTreeWidgetItem(Contents)
                                                                 : new QTreeWidgetItem(parents.back());
      item->setText(0, FromBytes(e.Name));
      item->setData(0, kTopicRole, FromBytes(e.Local));
      parents.push_back(item);
      if (DefaultTopic.empty()) DefaultTopic = e.Local;
    }
  }
  Contents->expandAll();
  if (const auto index = Chm->Read(Chm->FindBySuffix(".hhk"))) {
    for (const TSitemapEntry& e : ParseSitemap(*index)) {
      auto* item = new QListWidgetItem(FromBytes(e.Name), Index);
      item->setData(kTopicRole, FromBytes(e.Local));
    }
  }
  if (DefaultTopic.empty()) DefaultTopic = "index.htm";
  setWindowTitle(Chm->Read("/index.htm") ? QString("Veloran Help") : QFileInfo(FromBytes(Chm->Path())).fileName());

  // A click, a double-click, Enter or Space on a contents entry opens it.
  auto openItem = [this](QTreeWidgetItem* item) {
    const QString topic = item ? item->data(0, kTopicRole).toString() : QString();
    if (!topic.isEmpty()) ShowTopic(topic.toStdString());
  };
  connect(Contents, &QTreeWidget::itemClicked, this, openItem);
  connect(Contents, &QTreeWidget::itemActivated, this, openItem);
  Contents->installEventFilter(this);
  // The tree follows the page shown, also one reached by a link.
  connect(Browser, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
    QString topic = url.path();
    if (topic.startsWith('/')) topic.remove(0, 1);
    for (QTreeWidgetItemIterator it(Contents); *it; ++it)
      if ((*it)->data(0, kTopicRole).toString().compare(topic, Qt::CaseInsensitive) == 0) {
        const QSignalBlocker quiet(Contents);
        Contents->setCurrentItem(*it);
        break;
      }
  });
  connect(Index, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    ShowTopic(item->data(kTopicRole).toString().toStdString());
  });
  connect(Index, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    ShowTopic(item->data(kTopicRole).toString().toStdString());
  });
}

THelpWindow::~THelpWindow() = default;

// Enter and Space in the contents open the selected topic (the tree would
// only select it).
bool THelpWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Contents && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (QTreeWidgetItem* item = Contents->currentItem()) {
        const QString topic = item->data(0, kTopicRole).toString();
        if (!topic.isEmpty()) ShowTopic(topic.toStdString());
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Esc closes the help window.
void THelpWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void THelpWindow::ShowTopic(const std::string& topic) {
  std::string path = topic.empty() ? DefaultTopic : topic;
  if (path[0] != '/') path = "/" + path;
  Browser->setSource(QUrl("chm:" + FromBytes(path)));
  show();
  raise();
  activateWindow();
}

void THelpWindow::ShowContents() {
  Tabs->setCurrentWidget(Contents);
  ShowTopic("");
}

void THelpWindow::ShowIndex() {
  Tabs->setCurrentWidget(Index);
  ShowTopic("");
}

bool THelpWindow::ShowKeyword(const std::string& keyword) {
  const auto found = Index->findItems(FromBytes(keyword), Qt::MatchFixedString);
  if (found.isEmpty()) return false;
  Tabs->setCurrentWidget(Index);
  Index->setCurrentItem(found.first());
  ShowTopic(found.first()->data(kTopicRole).toString().toStdString());
  return true;
}

QWidget* HtmlHelpA(QWidget* owner, const std::string& file, unsigned command, uintptr_t data) {
  auto& windows = HelpWindows();
  windows.erase(std::remove_if(windows.begin(), windows.end(), [](const auto& w) { return w.isNull(); }),
                windows.end());
  if (command == HH_CLOSE_ALL) {
    for (const auto& window : windows)
      if (window) window->close();
    windows.clear();
    return nullptr;
  }
  // "file::/topic" names a topic inside the file.
  const size_t split = file.find("::");
  const std::string name = file.substr(0, split);
  const std::string topic = split == std::string::npos ? std::string() : file.substr(split + 2);
  const QString path = FindHelpFile(FromBytes(name));
  if (path.isEmpty()) return nullptr;

  THelpWindow* window = nullptr;
  bool created = false;
  for (const auto& w : windows)
    if (w && FromBytes(w->FilePath()) == path) window = w;
  if (!window) {
    auto chm = TChmFile::Open(path.toStdString());
    if (!chm) return nullptr;
    window = new THelpWindow(std::move(chm));
    windows.emplace_back(window);
    created = true;
  }
  switch (command) {
    case HH_DISPLAY_TOC: window->ShowContents(); break;
    case HH_DISPLAY_INDEX: window->ShowIndex(); break;
    case HH_KEYWORD_LOOKUP: {
      const auto* link = reinterpret_cast<const THHAKLink*>(data);
      const bool found = link && link->pszKeywords && window->ShowKeyword(link->pszKeywords);
      if (!found) {
        if (link && link->fIndexOnFail) {
          window->ShowIndex();
        } else {
          window->ShowTopic("");
        }
      }
      break;
    }
    default: window->ShowTopic(topic); break;  // topic, context: the topic named, or the default one
  }
  // Placed once shown, when its frame is known.
  if (created && owner) PlaceBeside(*window, *owner->window());
  return window;
}

int OpenHelpWindows() {
  int open = 0;
  for (const auto& w : HelpWindows())
    if (w && w->isVisible()) ++open;
  return open;
}

}  // namespace veloran
