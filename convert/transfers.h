// Where transfers are found: a cell module named on the command line, the
// cell modules directly in a folder, or every cell module of an archive
// (tar, compressed or not, or zip), read into memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdts/sdtsinfo.h"

namespace veloran {

// .tar.gz, .tgz, .tar.Z, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .tar or
// .zip, in any letter case.
bool IsArchiveName(std::string_view path);
// The archive's file name without that ending: a.tar.gz gives a.
std::string ArchiveStem(std::string_view path);
// Four characters, "CE", two characters, ".DDF", in any letter case.
bool IsCellModuleName(std::string_view name);

// Reads every regular ".DDF" member of the archive into memory, under
// `path` + "/" + the member's path. Fails with "Cannot read archive PATH:
// <reason>" for a damaged archive (a truncated gzip stream, a bad tar
// header, a member larger than what follows it) or one whose modules would
// take more than kMaxArchiveBytes.
inline constexpr size_t kMaxArchiveBytes = size_t{512} << 20;
std::shared_ptr<const TMemoryFiles> ReadArchive(const std::string& path);

// The cell modules among files in memory, in path order (any sub-folder).
std::vector<std::string> CellModules(const TMemoryFiles& files);
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

// How many transfers (cell modules) an archive holds, read from its member
// names alone. Fails as ReadArchive does.
size_t CountArchiveTransfers(const std::string& path);

}  // namespace veloran
