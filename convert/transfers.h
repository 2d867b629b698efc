// Where transfers are found: the cell modules of a folder (and of its
// sub-folders and their archives), or every cell module of an archive
// (tar, compressed or not, or zip), read without unpacking it.
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
// PATH + "/" + the member's path. The first question reads the archive
// once for its index, keeping the first few MiB of modules (a transfer of
// usual size comes whole with this pass) and every transfer's catalog and
// identification, which locating a transfer reads. Other members are read
// by one cursor that only goes forward: opening a member reads on to it,
// keeping on the way the members of folders whose transfers are being
// converted, so that an archive of many transfers, converted in the order
// of its members, is read twice in all. A transfer's members are dropped
// once the last of its folder's transfers is done (see Lease), so memory
// follows the transfers under way, never what an archive holds. Failures
// say "Cannot read archive PATH: <reason>" for a damaged archive (a
// truncated stream, a bad header, a member larger than what follows it) or
// one whose modules would take more than kMaxArchiveBytes, and "Cannot open
// file PATH: <reason>" for one that cannot be opened. Safe to share between
// threads.
inline constexpr size_t kMaxArchiveBytes = size_t{512} << 20;
class TArchiveFiles final : public ITransferSource, public std::enable_shared_from_this<TArchiveFiles> {
 public:
  explicit TArchiveFiles(std::string path);
  ~TArchiveFiles() override;
  // The cell modules among the members, in the archive's order.
  std::vector<std::string> CellModules() const;
  // These files, for the transfer whose module is `path`: once every lease
  // of its folder is gone, the folder's members are dropped from memory.
  std::shared_ptr<const ITransferSource> Lease(const std::string& path) const;

  void CheckFile(const std::string& path) const override;
  bool Exists(const std::string& path) const override;
  bool List(const std::string& dir, std::vector<std::string>& names) const override;
  std::unique_ptr<TStream> Open(const std::string& path) const override;
  std::string Container() const override { return Path; }
  // How often the archive has been read from its start, and the bytes of
  // members held now.
  size_t Passes() const;
  size_t HeldBytes() const;

 private:
  static constexpr size_t kSmallMember = size_t{64} << 10;
  static constexpr size_t kKeptBytes = size_t{4} << 20;
  struct TMember {
    std::string Name;    // in the archive
    std::string Bytes;   // when Kept
    size_t Ordinal = 0;  // its place among the archive's entries
    bool Kept = false;
    bool IsLink = false;
    std::string Target;  // a link's member, as a path; empty when outside the archive
  };
  struct TFolder {
    int Leases = 0;
    bool Busy = false;  // a transfer of it is being read
  };
  struct TCursor;
  void IndexLocked() const;
  const TMember* Find(const std::string& path) const;
  void ReadOnTo(TMember& wanted) const;
  void Keep(TMember& member, std::string bytes) const;
  void Release(const std::string& folder) const;

  std::string Path;
  mutable std::mutex Mutex;
  mutable bool Indexed = false;
  mutable std::map<std::string, TMember> Members;  // by path
  mutable std::map<std::string, TFolder> Folders;  // by the folder's path, with its "/"
  mutable std::unique_ptr<TCursor> Cursor;
  mutable size_t Held = 0;  // bytes of the members kept
  mutable size_t PassCount = 0;
};

// The cell modules directly in a folder, in name order, with the folder.
std::vector<std::string> CellModulesIn(const std::string& dir, const ITransferSource& source = DiskFiles());

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
TFolderTransfers TransfersIn(const std::string& dir, bool recursive, const ITransferSource& source = DiskFiles());

}  // namespace veloran
