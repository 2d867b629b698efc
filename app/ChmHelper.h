// Help routing: every help request of the application goes to the compiled
// help viewer for the application's help file ("VELORAN.chm").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace veloran {

// WinHelp commands, as help requests carry them.
enum : unsigned {
  HELP_CONTEXT = 1,
  HELP_QUIT = 2,
  HELP_CONTENTS = 3,
  HELP_CONTEXTPOPUP = 8,
  HELP_FINDER = 11,
  HELP_KEY = 257,
};

// HTML Help commands.
enum : unsigned {
  HH_DISPLAY_TOPIC = 0,
  HH_DISPLAY_TOC = 1,
  HH_DISPLAY_INDEX = 2,
  HH_KEYWORD_LOOKUP = 13,
  HH_HELP_CONTEXT = 15,
  HH_CLOSE_ALL = 18,
};

// The keyword-link record of a keyword lookup.
struct THHAKLink {
  int cbStruct = 32;
  bool fReserved = false;
  const char* pszKeywords = nullptr;
  const char* pszUrl = nullptr;
  const char* pszMsgText = nullptr;
  const char* pszMsgTitle = nullptr;
  const char* pszWindow = nullptr;
  bool fIndexOnFail = true;
};

// The compiled-help function: owner window, file, command, data. Its result
// is ignored.
using THtmlHelp = std::function<void(QWidget* owner, const std::string& file, unsigned command, uintptr_t data)>;

// "file::/topic"; only "::" before a topic that starts with "/"; the bare
// file name without a topic.
std::string TopicName(const std::string& file, const std::string& topic);
// Whether a file name ends in `extension`, compared without regard to case.
bool HasExtension(const std::string& file, const std::string& extension);

class THelpManager;

// The compiled-help viewer, registered as "HTMLHelp Viewer". It understands
// requests only when the help file is a ".chm" file.
class THTMLHelpViewer {
 public:
  THTMLHelpViewer(THelpManager& manager, THtmlHelp htmlHelp) : Manager(&manager), HtmlHelp(std::move(htmlHelp)) {}

  std::string GetViewerName() const { return "HTMLHelp Viewer"; }
  int UnderstandsKeyword(const std::string& keyword) const;
  // Always a list: the keyword, or nothing for other help files.
  std::unique_ptr<std::vector<std::string>> GetHelpStrings(const std::string& keyword) const;
  bool CanShowTableOfContents() const { return IsChm(); }
  void ShowTableOfContents();
  void ShowHelp(const std::string& keyword);
  bool UnderstandsTopic(const std::string& topic) const;
  void DisplayTopic(const std::string& topic);
  bool UnderstandsContext(int context) const;
  void DisplayHelpByContext(int context);
  void NotifyID(int viewerId) { ViewerId = viewerId; }
  int ViewerID() const { return ViewerId; }
  void SoftShutDown();
  void ShutDown();

 private:
  bool IsChm() const;
  std::string HelpFile() const;

  THelpManager* Manager;
  THtmlHelp HtmlHelp;
  int ViewerId = 0;
};

// Keeps the classic (WinHelp) viewer to ".hlp" files.
class TWinHelpMakeBehave {
 public:
  bool CanShowALink(const std::string& /*link*/, const std::string& file) const { return HasExtension(file, ".hlp"); }
  bool CanShowTopic(const std::string& /*topic*/, const std::string& file) const { return HasExtension(file, ".hlp"); }
  bool CanShowContext(int /*context*/, const std::string& file) const { return HasExtension(file, ".hlp"); }
  std::vector<std::string> GetHelpStrings(const std::string&) const { return {}; }
  std::string GetHelpPath() const { return {}; }
  std::string GetDefaultHelpFile() const { return {}; }
};

// The application's help system: its help file, the help-request event and
// the registered viewers.
class THelpManager {
 public:
  // The help-request event: command, data, and whether another help system
  // should still run; returns whether the request was served.
  using THelpEvent = std::function<bool(unsigned command, intptr_t data, bool& callHelp)>;

  std::string HelpFile;
  THelpEvent OnHelp;
  const TWinHelpMakeBehave* WinHelpTester = nullptr;

  int RegisterViewer(THTMLHelpViewer* viewer);
  void ReleaseViewer(int viewerId);

  // A help request (Help > Contents sends HELP_CONTENTS, 0).
  bool HelpCommand(unsigned command, intptr_t data);
  // The other routes, served by a viewer that understands them.
  bool HelpKeyword(const std::string& keyword);
  bool HelpJump(const std::string& topic);
  bool HelpContext(int context);
  bool ShowTableOfContents();

 private:
  std::vector<std::pair<int, THTMLHelpViewer*>> Viewers;
  int NextViewerId = 1;
};

// The help component of the main window.
class TCHMHelper {
 public:
  // `owner` gives the window of the focused control for requests.
  TCHMHelper(THelpManager& manager, std::function<QWidget*()> owner, THtmlHelp htmlHelp);
  ~TCHMHelper();
  TCHMHelper(const TCHMHelper&) = delete;
  TCHMHelper& operator=(const TCHMHelper&) = delete;

  THTMLHelpViewer& Viewer() { return *HelpViewer; }

 private:
  bool HandleHelp(unsigned command, intptr_t data, bool& callHelp);

  THelpManager& Manager;
  std::function<QWidget*()> Owner;
  THtmlHelp HtmlHelp;
  std::unique_ptr<THTMLHelpViewer> HelpViewer;
  TWinHelpMakeBehave WinHelpBehave;
};

}  // namespace veloran
