#include "sdts/moduleset.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

void SplitCellFileName(TModuleSet& moduleSet, const std::string& cellPath) {
  const size_t slash = cellPath.rfind('/');
  moduleSet.CellFileName = slash == std::string::npos ? cellPath : cellPath.substr(slash + 1);
  moduleSet.TransferDir = slash == std::string::npos ? std::string() : cellPath.substr(0, slash + 1);
  const std::string& name = moduleSet.CellFileName;
  moduleSet.TransferPrefix = name.substr(0, 4);
  moduleSet.CellModuleSuffix = name.size() > 6 ? name.substr(6, 2) : std::string();
}

std::string ModuleFileName(const TModuleSet& moduleSet, std::string_view code) {
  return moduleSet.TransferDir + moduleSet.TransferPrefix + std::string(code) + ".DDF";
}

namespace {

// The first file name, in byte order, in `dir` that equals `name` ignoring case.
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  std::vector<std::string> names;
  ListFolder(dir, names);
  std::string found;
  for (const std::string& n : names)
    if (SameIgnoringCase(n, name) && (found.empty() || n < found)) found = n;
  return found;
}

// The module's name in the letter case of the chosen cell file: a cell
// file named in lower case (1234cel0.ddf) takes its modules in lower case
// first, so that a folder holding both 1234CEL0.DDF and 1234cel0.ddf keeps
// the two transfers apart.
std::string StyledName(const TModuleSet& moduleSet, std::string_view code) {
  const std::string& cell = moduleSet.CellFileName;
  const bool lower = cell.size() >= 4 && cell.compare(cell.size() - 4, 4, ".ddf") == 0;
  if (!lower) return ModuleFileName(moduleSet, code);
  std::string name = moduleSet.TransferPrefix + std::string(code) + ".ddf";
  for (size_t i = moduleSet.TransferPrefix.size(); i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  return moduleSet.TransferDir + name;
}

// A module among files in memory: the name in the cell file's case, the
// formed name, or else the first path in the same folder that equals it
// ignoring case.
std::unique_ptr<TStream> OpenMemoryModule(const TMemoryFiles& files, const std::string& styled,
                                          const std::string& path, const std::string& dir) {
  auto found = files.Files.find(styled);
  if (found == files.Files.end()) found = files.Files.find(path);
  if (found == files.Files.end()) {
    for (auto it = files.Files.lower_bound(dir); it != files.Files.end() && it->first.rfind(dir, 0) == 0; ++it)
      if (SameIgnoringCase(it->first, path)) {
        found = it;
        break;
      }
  }
  if (found == files.Files.end()) Fail("Cannot open file " + path + ": " + std::strerror(ENOENT));
  return TMemoryStream::Borrow(found->second, found->first);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 || errno != ENOENT;
}

}  // namespace

std::unique_ptr<TStream> OpenModule(const TModuleSet& moduleSet, std::string_view code) {
  const std::string path = ModuleFileName(moduleSet, code);
  const std::string styled = StyledName(moduleSet, code);
  if (moduleSet.Files) return OpenMemoryModule(*moduleSet.Files, styled, path, moduleSet.TransferDir);
  if (Exists(styled)) return std::make_unique<TFileStream>(styled);
  if (Exists(path)) return std::make_unique<TFileStream>(path);
  const std::string found = FindIgnoringCase(moduleSet.TransferDir, path.substr(moduleSet.TransferDir.size()));
  if (found.empty()) Fail("Cannot open file " + path + ": " + std::strerror(ENOENT));
  return std::make_unique<TFileStream>(moduleSet.TransferDir + found);
}

void CheckCellFile(const std::string& cellPath, const TMemoryFiles* files) {
  if (files) {
    if (files->Files.count(cellPath) == 0) Fail("Cannot open file " + cellPath + ": " + std::strerror(ENOENT));
    if (!EndsWithIgnoringCase(cellPath, ".DDF")) Fail(cellPath + " is not a module of an SDTS transfer");
    return;
  }
  struct stat st {};
  if (stat(cellPath.c_str(), &st) != 0) Fail("Cannot open file " + cellPath + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Fail("Cannot open file " + cellPath + ": it is not a regular file");
  // A picture, a DEM or a README chosen by mistake must not lead to module
  // names made up from its name.
  if (!EndsWithIgnoringCase(cellPath, ".DDF")) Fail(cellPath + " is not a module of an SDTS transfer");
}

void CheckNotTransferFile(const TModuleSet& moduleSet, const std::string& cellPath, const std::string& demPath) {
  struct stat target {};
  if (stat(demPath.c_str(), &target) != 0) return;  // a new file cannot be an input
  auto same = [&](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
  };
  auto refuse = [&](const std::string& path) {
    Fail("Cannot create file " + demPath + ": it is " + path + ", a file of the transfer being converted");
  };
  if (moduleSet.Files) {  // the transfer is in an archive: the archive itself is its file
    if (same(moduleSet.Files->SourcePath)) refuse(moduleSet.Files->SourcePath);
    return;
  }
  if (same(cellPath)) refuse(cellPath);
  const std::string& dir = moduleSet.TransferDir;
  const std::string& prefix = moduleSet.TransferPrefix;
  std::vector<std::string> names;
  ListFolder(dir, names);
  for (const std::string& name : names)
    if (name.size() == prefix.size() + 8 && SameIgnoringCase(std::string_view(name).substr(0, prefix.size()), prefix) &&
        EndsWithIgnoringCase(name, ".DDF") && same(dir + name))
      refuse(dir + name);
}

uint8_t CellFormatCode(std::string_view fmt) {
  static constexpr std::string_view kFormats[] = {"BI8",  "BI16",  "BI24",  "BI32",  "BUI",  "BUI8",
                                                  "BUI16", "BUI24", "BUI32", "BFP32", "BFP64"};
  for (uint8_t i = 0; i < std::size(kFormats); ++i)
    if (kFormats[i] == fmt) return i;
  return kUnknownCellFormat;
}

}  // namespace veloran
