// Where the files of transfers come from: folders on disk, an archive, or
// GDAL's virtual file systems. Finding transfers in folders, finding a
// transfer's modules and reading them go through this alone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "iso8211/stream.h"

namespace veloran {

enum class TFileKind { Missing, File, Folder, Other };

class ITransferSource {
 public:
  virtual ~ITransferSource() = default;
  // Fails with "Cannot open file %s: <reason>" unless `path` is a regular file.
  virtual void CheckFile(const std::string& path) const = 0;
  // Whether there is a file at `path` (one that cannot be read counts: its
  // opening will say why).
  virtual bool Exists(const std::string& path) const = 0;
  // What is at `path`, following links or not (a link not followed is
  // Other).
  virtual TFileKind KindOf(const std::string& path, bool followLinks = true) const {
    (void)followLinks;
    return Exists(path) ? TFileKind::File : TFileKind::Missing;
  }
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

}  // namespace veloran
