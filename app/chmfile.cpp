#include "app/chmfile.h"

#include <chm_lib.h>

#include <algorithm>
#include <cctype>
#include <regex>

namespace veloran {

std::unique_ptr<TChmFile> TChmFile::Open(const std::string& path) {
  chmFile* handle = chm_open(path.c_str());
  if (!handle) return nullptr;
  return std::unique_ptr<TChmFile>(new TChmFile(handle, path));
}

TChmFile::~TChmFile() { chm_close(Handle); }

std::optional<std::string> TChmFile::Read(const std::string& object) const {
  chmUnitInfo info{};
  const std::string name = object.empty() || object[0] != '/' ? "/" + object : object;
  if (chm_resolve_object(Handle, name.c_str(), &info) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  std::string bytes(static_cast<size_t>(info.length), '\0');
  const LONGINT64 got = chm_retrieve_object(Handle, &info, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                            static_cast<LONGINT64>(info.length));
  if (got < 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

namespace {

struct TSearch {
  std::string Suffix;
  std::string Found;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int Visit(chmFile*, chmUnitInfo* info, void* context) {
  auto* search = static_cast<TSearch*>(context);
  const std::string name = Lower(info->path);
  if (name.size() >= search->Suffix.size() &&
      name.compare(name.size() - search->Suffix.size(), std::string::npos, search->Suffix) == 0) {
    search->Found = info->path;
    return CHM_ENUMERATOR_SUCCESS;
  }
  return CHM_ENUMERATOR_CONTINUE;
}

}  // namespace

std::string TChmFile::FindBySuffix(const std::string& suffix) const {
  TSearch search{Lower(suffix), {}};
  chm_enumerate(Handle, CHM_ENUMERATE_NORMAL, Visit, &search);
  return search.Found;
}

std::vector<TSitemapEntry> ParseSitemap(const std::string& html) {
  static const std::regex tag(R"(<\s*(/?)\s*(ul|object|param)\b([^>]*)>)", std::regex::icase);
  static const std::regex nameAttr(R"(\bname\s*=\s*"([^"]*)\")", std::regex::icase);
  static const std::regex valueAttr(R"(\bvalue\s*=\s*"([^"]*)\")", std::regex::icase);
  std::vector<TSitemapEntry> entries;
  int depth = -1;
  bool inObject = false;
  TSitemapEntry current;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it) {
    const bool closing = !(*it)[1].str().empty();
    const std::string name = Lower((*it)[2].str());
    const std::string attributes = (*it)[3].str();
    if (name == "ul") {
      depth += closing ? -1 : 1;
    } else if (name == "object") {
      if (!closing) {
        inObject = true;
        current = TSitemapEntry{{}, {}, depth < 0 ? 0 : depth};
      } else if (inObject) {
        inObject = false;
        if (!current.Name.empty()) entries.push_back(current);
      }
    } else if (name == "param" && inObject) {
      std::smatch n, v;
      if (std::regex_search(attributes, n, nameAttr) && std::regex_search(attributes, v, valueAttr)) {
        const std::string key = Lower(n[1].str());
        if (key == "name" && current.Name.empty()) current.Name = v[1].str();
        if (key == "local") current.Local = v[1].str();
      }
    }
  }
  return entries;
}

}  // namespace veloran
