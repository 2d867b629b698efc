// Where transfers are found: a cell module named on the command line, the
// cell modules directly in a folder, or every cell module of an archive
// (tar, compressed or not, or zip), read into memory.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sdts/source.h"

namespace veloran {

// .tar.gz, .tgz, .tar.Z, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .tar or
// .zip, in any letter case.
bool IsArchiveName(std::string_view path);
// The archive's file name without that ending: a.tar.gz gives a.
std::string ArchiveStem(std::string_view path);
// Four characters, "CE", two characters, ".DDF", in any letter case.
bool IsCellModuleName(std::string_view name);

// An archive's files (its regular ".DDF" members and links to them), under
// PATH + "/" + the member's path. They are read as they are asked for: the
// first question reads the archive once, keeping the modules while they
// are few or small (a transfer of usual size comes whole with this pass);
// a member beyond that is read again when it is opened, so that memory
// follows what is converted, never what an archive holds. Failures say
// "Cannot read archive PATH: <reason>" for a damaged archive (a truncated
// stream, a bad header, a member larger than what follows it) or one whose
// modules would take more than kMaxArchiveBytes, and "Cannot open file
// PATH: <reason>" for one that cannot be opened. Safe to share between
// threads.
inline constexpr size_t kMaxArchiveBytes = size_t{512} << 20;
class TArchiveFiles final : public ITransferSource {
 public:
  explicit TArchiveFiles(std::string path);
  // The cell modules among the members, in path order (any sub-folder).
  std::vector<std::string> CellModules() const;

  void CheckFile(const std::string& path) const override;
  bool Exists(const std::string& path) const override;
  bool List(const std::string& dir, std::vector<std::string>& names) const override;
  std::unique_ptr<TStream> Open(const std::string& path) const override;
  std::string Container() const override { return Path; }

 private:
  static constexpr size_t kSmallMember = size_t{64} << 10;
  static constexpr size_t kKeptBytes = size_t{16} << 20;
  struct TMember {
    std::string Name;    // in the archive
    std::string Bytes;   // when Kept
    bool Kept = false;
    bool IsLink = false;
    std::string Target;  // a link's member, as a path; empty when outside the archive
  };
  void IndexLocked() const;
  const TMember* Find(const std::string& path) const;

  std::string Path;
  mutable std::mutex Mutex;
  mutable bool Indexed = false;
  mutable std::map<std::string, TMember> Members;  // by path
};

// The cell modules directly in a folder, in name order, with the folder.
std::vector<std::string> CellModulesIn(const std::string& dir);

// What a folder holds for a batch: its cell modules and, with `recursive`,
// those of its sub-folders and the archives found there, each in name order,
// folder by folder; whether it has sub-folders at all; and the sub-folders
// that could not be read, with the message saying why. Fails with "Cannot
// open folder %s: <reason>" when `dir` itself cannot be read.
struct TFolderTransfers {
  std::vector<std::string> Cells, Archives;
  std::vector<std::pair<std::string, std::string>> Unreadable;
  bool HasSubfolders = false;
};
TFolderTransfers TransfersIn(const std::string& dir, bool recursive);

}  // namespace veloran
