#include "app/ChmHelper.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace veloran {

std::string TopicName(const std::string& file, const std::string& topic) {
  if (topic.empty()) return file;
  return file + (topic[0] == '/' ? "::" : "::/") + topic;
}

bool HasExtension(const std::string& file, const std::string& extension) {
  if (file.size() < extension.size()) return false;
  return std::equal(extension.begin(), extension.end(), file.end() - static_cast<std::ptrdiff_t>(extension.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                std::tolower(static_cast<unsigned char>(b)); });
}

bool THTMLHelpViewer::IsChm() const { return HasExtension(HelpFile(), ".chm"); }

std::string THTMLHelpViewer::HelpFile() const { return Manager ? Manager->HelpFile : std::string(); }

int THTMLHelpViewer::UnderstandsKeyword(const std::string&) const { return IsChm() ? 1 : 0; }

std::unique_ptr<std::vector<std::string>> THTMLHelpViewer::GetHelpStrings(const std::string& keyword) const {
  auto list = std::make_unique<std::vector<std::string>>();
  if (IsChm()) list->push_back(keyword);
  return list;
}

void THTMLHelpViewer::ShowTableOfContents() { HtmlHelp(nullptr, HelpFile(), HH_DISPLAY_TOC, 0); }

void THTMLHelpViewer::ShowHelp(const std::string& keyword) {
  THHAKLink link;
  link.pszKeywords = keyword.c_str();
  HtmlHelp(nullptr, HelpFile(), HH_KEYWORD_LOOKUP, reinterpret_cast<uintptr_t>(&link));
}

bool THTMLHelpViewer::UnderstandsTopic(const std::string&) const { return IsChm(); }

void THTMLHelpViewer::DisplayTopic(const std::string& topic) {
  HtmlHelp(nullptr, TopicName(HelpFile(), topic), HH_DISPLAY_TOPIC, 0);
}

bool THTMLHelpViewer::UnderstandsContext(int) const { return IsChm(); }

void THTMLHelpViewer::DisplayHelpByContext(int context) {
  HtmlHelp(nullptr, HelpFile(), HH_HELP_CONTEXT, static_cast<uintptr_t>(context));
}

void THTMLHelpViewer::SoftShutDown() { HtmlHelp(nullptr, std::string(), HH_CLOSE_ALL, 0); }

void THTMLHelpViewer::ShutDown() {
  SoftShutDown();
  Manager = nullptr;
}

int THelpManager::RegisterViewer(THTMLHelpViewer* viewer) {
  const int id = NextViewerId++;
  Viewers.emplace_back(id, viewer);
  viewer->NotifyID(id);
  return id;
}

void THelpManager::ReleaseViewer(int viewerId) {
  Viewers.erase(std::remove_if(Viewers.begin(), Viewers.end(), [&](const auto& v) { return v.first == viewerId; }),
                Viewers.end());
}

bool THelpManager::HelpCommand(unsigned command, intptr_t data) {
  bool callHelp = true;
  const bool served = OnHelp ? OnHelp(command, data, callHelp) : false;
  return served || !callHelp;
}

bool THelpManager::HelpKeyword(const std::string& keyword) {
  for (const auto& [id, viewer] : Viewers) {
    if (viewer->UnderstandsKeyword(keyword) <= 0) continue;
    const auto strings = viewer->GetHelpStrings(keyword);
    if (!strings) throw std::logic_error("ENSURE: GetHelpStrings must always return a valid string list");
    viewer->ShowHelp(strings->empty() ? keyword : strings->front());
    return true;
  }
  return false;
}

bool THelpManager::HelpJump(const std::string& topic) {
  for (const auto& [id, viewer] : Viewers)
    if (viewer->UnderstandsTopic(topic)) {
      viewer->DisplayTopic(topic);
      return true;
    }
  return false;
}

bool THelpManager::HelpContext(int context) {
  for (const auto& [id, viewer] : Viewers)
    if (viewer->UnderstandsContext(context)) {
      viewer->DisplayHelpByContext(context);
      return true;
    }
  return false;
}

bool THelpManager::ShowTableOfContents() {
  for (const auto& [id, viewer] : Viewers)
    if (viewer->CanShowTableOfContents()) {
      viewer->ShowTableOfContents();
      return true;
    }
  return false;
}

TCHMHelper::TCHMHelper(THelpManager& manager, std::function<QWidget*()> owner, THtmlHelp htmlHelp)
    : Manager(manager), Owner(std::move(owner)), HtmlHelp(htmlHelp),
      HelpViewer(std::make_unique<THTMLHelpViewer>(manager, std::move(htmlHelp))) {
  Manager.RegisterViewer(HelpViewer.get());
  Manager.WinHelpTester = &WinHelpBehave;
  Manager.OnHelp = [this](unsigned command, intptr_t data, bool& callHelp) {
    return HandleHelp(command, data, callHelp);
  };
}

TCHMHelper::~TCHMHelper() {
  Manager.OnHelp = nullptr;
  Manager.WinHelpTester = nullptr;
  HelpViewer->ShutDown();
  Manager.ReleaseViewer(HelpViewer->ViewerID());
}

bool TCHMHelper::HandleHelp(unsigned command, intptr_t data, bool& callHelp) {
  callHelp = false;  // handled here: no other help system runs
  unsigned htmlCommand = HH_DISPLAY_TOPIC;
  uintptr_t htmlData = 0;
  switch (command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP: htmlCommand = HH_HELP_CONTEXT; htmlData = static_cast<uintptr_t>(data); break;
    case HELP_QUIT: htmlCommand = HH_CLOSE_ALL; break;
    case HELP_CONTENTS: htmlCommand = HH_DISPLAY_TOC; break;
    case HELP_FINDER: htmlCommand = HH_DISPLAY_TOPIC; htmlData = static_cast<uintptr_t>(data); break;
    case HELP_KEY: htmlCommand = HH_DISPLAY_INDEX; htmlData = static_cast<uintptr_t>(data); break;
    default: break;
  }
  HtmlHelp(Owner ? Owner() : nullptr, Manager.HelpFile, htmlCommand, htmlData);
  return true;
}

}  // namespace veloran
