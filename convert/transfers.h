// Where transfers are found: a cell module named on the command line, the
// cell modules directly in a folder, or every cell module of a .tar.gz
// archive, read into memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdts/sdtsinfo.h"

namespace veloran {

// .tar.gz, .tgz, .tar or .tar.Z, in any letter case.
bool IsArchiveName(std::string_view path);
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
// folder by folder; and whether it has sub-folders at all.
struct TFolderTransfers {
  std::vector<std::string> Cells, Archives;
  bool HasSubfolders = false;
};
TFolderTransfers TransfersIn(const std::string& dir, bool recursive);

// How many transfers (cell modules) an archive holds, read from its member
// names alone. Fails as ReadArchive does.
size_t CountArchiveTransfers(const std::string& path);

}  // namespace veloran
