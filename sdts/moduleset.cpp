#include "sdts/moduleset.h"

#include <sys/stat.h>

#include <cerrno>
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

// A module among files in memory: the formed path, or else the first path
// in the same folder that equals it ignoring case.
std::unique_ptr<TStream> OpenMemoryModule(const TMemoryFiles& files, const std::string& path, const std::string& dir) {
  auto found = files.Files.find(path);
  if (found == files.Files.end()) {
    for (auto it = files.Files.lower_bound(dir); it != files.Files.end() && it->first.rfind(dir, 0) == 0; ++it)
      if (SameIgnoringCase(it->first, path)) {
        found = it;
        break;
      }
  }
  if (found == files.Files.end()) Fail("Cannot open file " + path);
  return TMemoryStream::Borrow(found->second, found->first);
}

}  // namespace

std::unique_ptr<TStream> OpenModule(const TModuleSet& moduleSet, std::string_view code) {
  const std::string path = ModuleFileName(moduleSet, code);
  if (moduleSet.Files) return OpenMemoryModule(*moduleSet.Files, path, moduleSet.TransferDir);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    const std::string name = path.substr(moduleSet.TransferDir.size());
    const std::string found = FindIgnoringCase(moduleSet.TransferDir, name);
    if (found.empty()) Fail("Cannot open file " + path);
    try {
      return std::make_unique<TFileStream>(moduleSet.TransferDir + found);
    } catch (const TConvertError&) {
      Fail("Cannot open file " + path);
    }
  }
  return std::make_unique<TFileStream>(path);
}

void CheckCellFile(const std::string& cellPath, const TMemoryFiles* files) {
  if (files) {
    if (files->Files.count(cellPath) == 0) Fail("Cannot open file " + cellPath);
    return;
  }
  struct stat st {};
  if (stat(cellPath.c_str(), &st) != 0) Fail("Cannot open file " + cellPath);
  if (!S_ISREG(st.st_mode)) Fail("Cannot open file " + cellPath + ": it is not a regular file");
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
