// Where the files of transfers come from: folders on disk, an archive, or
// files a caller hands in (tests, GDAL's virtual file systems). Finding a
// transfer's modules and reading them go through this alone.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "iso8211/stream.h"

namespace veloran {

class ITransferSource {
 public:
  virtual ~ITransferSource() = default;
  // Fails with "Cannot open file %s: <reason>" unless `path` is a regular file.
  virtual void CheckFile(const std::string& path) const = 0;
  // Whether there is a file at `path` (one that cannot be read counts: its
  // opening will say why).
  virtual bool Exists(const std::string& path) const = 0;
  // The names in the folder `dir` (empty, or ending in "/"); false when it
  // cannot be read.
  virtual bool List(const std::string& dir, std::vector<std::string>& names) const = 0;
  // The file, read-only; fails with "Cannot open file %s: <reason>".
  virtual std::unique_ptr<TStream> Open(const std::string& path) const = 0;
  // Whether the paths are those of the disk, which an output could write over.
  virtual bool OnDisk() const { return false; }
  // The file on disk these files are read from (an archive), or none.
  virtual std::string Container() const { return {}; }
};

// The files on disk.
const ITransferSource& DiskFiles();

// The names in the folder `dir` (empty, or ending in "/") of files kept
// in a map by path.
template <class TMap>
void ListMapFolder(const TMap& files, const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  for (auto it = files.lower_bound(dir); it != files.end() && it->first.rfind(dir, 0) == 0; ++it)
    if (it->first.find('/', dir.size()) == std::string::npos) names.push_back(it->first.substr(dir.size()));
}

// Files held in memory, by path; `SourcePath` is the file they came from,
// if any.
class TMemoryFiles final : public ITransferSource {
 public:
  std::string SourcePath;
  std::map<std::string, std::string> Files;

  void CheckFile(const std::string& path) const override;
  bool Exists(const std::string& path) const override { return Files.count(path) > 0; }
  bool List(const std::string& dir, std::vector<std::string>& names) const override;
  std::unique_ptr<TStream> Open(const std::string& path) const override;
  std::string Container() const override { return SourcePath; }
};

}  // namespace veloran
