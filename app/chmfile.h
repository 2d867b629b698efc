// A compiled help (CHM) file read with chmlib, and the sitemaps (table of
// contents and index) it holds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct chmFile;

namespace veloran {

class TChmFile {
 public:
  // nullptr when the file is missing or not a CHM file.
  static std::unique_ptr<TChmFile> Open(const std::string& path);
  ~TChmFile();
  TChmFile(const TChmFile&) = delete;
  TChmFile& operator=(const TChmFile&) = delete;

  // The bytes of an object such as "/index.htm", if the file holds it.
  std::optional<std::string> Read(const std::string& object) const;
  // The first object whose name ends with `suffix`, ignoring case ("" if none).
  std::string FindBySuffix(const std::string& suffix) const;
  const std::string& Path() const { return FilePath; }

 private:
  TChmFile(chmFile* handle, std::string path) : Handle(handle), FilePath(std::move(path)) {}
  chmFile* Handle;
  std::string FilePath;
};

struct TSitemapEntry {
  std::string Name;
  std::string Local;  // the topic, for example "convert.htm"; empty for a heading
  int Depth = 0;      // 0 for the top level
};

// The entries of a table of contents (.hhc) or index (.hhk) in order.
std::vector<TSitemapEntry> ParseSitemap(const std::string& html);

}  // namespace veloran
