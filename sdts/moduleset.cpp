#include "sdts/moduleset.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sdts/catalog.h"
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
  const auto listed = moduleSet.Catalog.find(std::string(code));
  if (listed != moduleSet.Catalog.end()) return moduleSet.TransferDir + listed->second;
  return moduleSet.TransferDir + moduleSet.TransferPrefix + std::string(code) + ".DDF";
}

namespace {

// The first file name, in byte order, in `dir` that equals `name` ignoring case.
std::string FindIgnoringCase(const std::string& dir, const std::string& name, const ITransferSource& source) {
  std::vector<std::string> names;
  source.List(dir, names);
  std::string found;
  for (const std::string& n : names)
    if (SameIgnoringCase(n, name) && (found.empty() || n < found)) found = n;
  return found;
}

// The module's name in the letter case of the chosen cell file: a cell
// file named in lower case (1234cel0.ddf) takes its modules in lower case
// first, also those its catalog names (USGS catalogs name files in
// capitals, which unpacking often lowers), so that a folder holding both
// 1234CEL0.DDF and 1234cel0.ddf keeps the two transfers apart.
std::string StyledName(const TModuleSet& moduleSet, std::string_view code) {
  const std::string& cell = moduleSet.CellFileName;
  const bool lower = cell.size() >= 4 && cell.compare(cell.size() - 4, 4, ".ddf") == 0;
  if (!lower) return ModuleFileName(moduleSet, code);
  const bool listed = moduleSet.Catalog.count(std::string(code)) > 0;
  std::string name =
      listed ? moduleSet.Catalog.at(std::string(code)) : moduleSet.TransferPrefix + std::string(code) + ".ddf";
  for (size_t i = listed ? 0 : moduleSet.TransferPrefix.size(); i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  return moduleSet.TransferDir + name;
}

// A name the prefix rule gives a module: prefix, a four-letter code and
// ".DDF", in any letter case.
bool IsModuleFileName(std::string_view name, std::string_view prefix) {
  return name.size() == prefix.size() + 8 && SameIgnoringCase(name.substr(0, prefix.size()), prefix) &&
         EndsWithIgnoringCase(name, ".DDF");
}

[[noreturn]] void Incomplete(const TModuleSet& moduleSet, std::string_view code, const std::string& path) {
  std::string folder = moduleSet.TransferDir;
  if (folder.size() > 1) folder.pop_back();
  Fail("The transfer " + moduleSet.TransferPrefix + " in " + (folder.empty() ? "." : folder) + " is incomplete: its " +
       std::string(code) + " module (" + path + ") is missing");
}

// The path of the file in `dir` named `name`: exactly, or else (with
// `anyCase`) the first, in byte order, whose name equals it ignoring case;
// empty when there is none.
std::string FindModuleFile(const std::string& dir, const std::string& name, const ITransferSource& source,
                           bool anyCase = true) {
  if (source.Exists(dir + name)) return dir + name;
  const std::string found = anyCase ? FindIgnoringCase(dir, name, source) : std::string();
  return found.empty() ? std::string() : dir + found;
}

// A module's file: named in the chosen cell file's case, named as formed,
// or else named so in any case; empty when it is missing.
std::string FindModule(const TModuleSet& moduleSet, std::string_view code) {
  const std::string& dir = moduleSet.TransferDir;
  const ITransferSource& source = *moduleSet.Source;
  const std::string found = FindModuleFile(dir, StyledName(moduleSet, code).substr(dir.size()), source, false);
  return found.empty() ? FindModuleFile(dir, ModuleFileName(moduleSet, code).substr(dir.size()), source) : found;
}

}  // namespace

std::unique_ptr<TStream> OpenModule(const TModuleSet& moduleSet, std::string_view code) {
  const auto found = moduleSet.Paths.find(std::string(code));
  if (found != moduleSet.Paths.end()) return moduleSet.Source->Open(found->second);
  const std::string path = FindModule(moduleSet, code);
  if (path.empty()) Incomplete(moduleSet, code, ModuleFileName(moduleSet, code));
  return moduleSet.Source->Open(path);
}

namespace {

// The modules a conversion reads, the cell module aside.
constexpr std::string_view kMetadataCodes[] = {"DDSH", "IDEN", "DDOM", "IREF", "XREF", "RSDF", "SPDM", "LDEF"};

// The cell module of the transfer whose file is `chosenPath`, and its
// catalog where there is one; Cell is empty when there is none.
struct TCellSearch {
  std::string Dir, Cell, CatalogPath;
  TModuleSet Named;  // module names in the chosen file's letter case
  std::map<std::string, std::string> Catalog;
};
TCellSearch FindCell(const std::string& chosenPath, const ITransferSource& source) {
  TCellSearch found;
  const size_t slash = chosenPath.rfind('/');
  const std::string& dir = found.Dir = slash == std::string::npos ? std::string() : chosenPath.substr(0, slash + 1);
  const std::string name = chosenPath.substr(dir.size());
  SplitCellFileName(found.Named, chosenPath);
  auto nameOf = [&](std::string_view code) { return StyledName(found.Named, code).substr(dir.size()); };

  // A chosen cell module is the cell module, listed or not.
  const bool cellName = name.size() > 6 && SameIgnoringCase(std::string_view(name).substr(4, 2), "CE");
  std::string& cell = found.Cell = cellName ? chosenPath : std::string();
  std::string catd = FindModuleFile(dir, nameOf("CATD"), source);
  // A transfer whose files do not follow the prefix rule (no cell module
  // by it either): the catalog that lists the chosen file, which may be
  // the chosen file itself. A folder of many transfers is never searched
  // for what the prefix rule finds.
  if (catd.empty() && cell.empty() && FindModuleFile(dir, nameOf("CEL0"), source).empty())
    catd = FindCatalogListing(dir, name, source);
  if (!catd.empty()) {
    found.CatalogPath = catd;
    found.Catalog = ReadCatalog(catd, source);
    found.Named.Catalog = found.Catalog;
    // The chosen file when the catalog lists it as a cell module, else the
    // first cell module it lists, in the chosen file's letter case first.
    for (const auto& [code, file] : found.Catalog) {
      if (!cell.empty() || code.rfind("CE", 0) != 0) continue;
      if (SameIgnoringCase(file, name)) {
        cell = chosenPath;
      } else {
        cell = FindModuleFile(dir, nameOf(code), source, false);
        if (cell.empty()) cell = FindModuleFile(dir, file, source);
      }
    }
  }
  if (cell.empty()) cell = FindModuleFile(dir, nameOf("CEL0"), source);
  return found;
}

}  // namespace

std::string SelectTransfer(TModuleSet& moduleSet, const std::string& chosenPath, const ITransferSource& source) {
  CheckCellFile(chosenPath, source);
  TCellSearch found = FindCell(chosenPath, source);
  const std::string& cell = found.Cell;
  if (cell.empty()) {
    if (!LooksLikeIso8211(chosenPath, source))
      Fail(TErrorKind::NotATransfer, chosenPath + " is not a module of an SDTS transfer");
    Incomplete(found.Named, "CEL0", StyledName(found.Named, "CEL0"));
  }

  SplitCellFileName(moduleSet, cell);
  moduleSet.Source = &source;
  moduleSet.Catalog = std::move(found.Catalog);
  moduleSet.CatalogPath = found.CatalogPath;
  // The cell module is opened by its code, which its name gives.
  if (!moduleSet.Catalog.empty()) moduleSet.Catalog["CE" + moduleSet.CellModuleSuffix] = moduleSet.CellFileName;
  // Every module the conversion reads is looked for once, here.
  moduleSet.Paths.clear();
  for (const std::string_view code : kMetadataCodes) {
    std::string path = FindModule(moduleSet, code);
    if (path.empty()) Incomplete(moduleSet, code, ModuleFileName(moduleSet, code));
    moduleSet.Paths.emplace(code, std::move(path));
  }
  moduleSet.Paths.emplace("CE" + moduleSet.CellModuleSuffix, cell);
  return cell;
}

bool HoldsCellModule(const std::string& chosenPath, const ITransferSource& source) {
  try {
    return !FindCell(chosenPath, source).Cell.empty();
  } catch (const TConvertError&) {
    return false;  // a catalog that cannot be read
  }
}

bool CatalogListsCellModule(const std::string& catalogPath, const ITransferSource& source) {
  const std::string dir = catalogPath.substr(0, catalogPath.rfind('/') + 1);
  try {
    for (const auto& [code, file] : ReadCatalog(catalogPath, source))
      if (code.rfind("CE", 0) == 0 && !FindModuleFile(dir, file, source).empty()) return true;
  } catch (const TConvertError&) {
    // A catalog that cannot be read lists nothing.
  }
  return false;
}

std::vector<std::string> TransferFiles(const TModuleSet& moduleSet) {
  std::vector<std::string> files;
  auto add = [&](const std::string& path) {
    if (!path.empty() && std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
  };
  add(moduleSet.CatalogPath);
  for (const auto& [code, file] : moduleSet.Catalog) add(FindModule(moduleSet, code));
  if (!moduleSet.Catalog.empty()) return files;
  const std::string& prefix = moduleSet.TransferPrefix;
  std::vector<std::string> names;
  moduleSet.Source->List(moduleSet.TransferDir, names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    if (IsModuleFileName(name, prefix)) add(moduleSet.TransferDir + name);
  return files;
}

void CheckCellFile(const std::string& cellPath, const ITransferSource& source) {
  source.CheckFile(cellPath);
  // A picture, a DEM or a README chosen by mistake must not lead to module
  // names made up from its name.
  if (!EndsWithIgnoringCase(cellPath, ".DDF"))
    Fail(TErrorKind::NotATransfer, cellPath + " is not a module of an SDTS transfer");
}

void CheckNotTransferFile(const TModuleSet& moduleSet, const std::string& cellPath, const std::string& demPath) {
  struct stat target {};
  if (stat(demPath.c_str(), &target) != 0) return;  // a new file cannot be an input
  auto same = [&](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
  };
  auto refuse = [&](const std::string& path) {
    Fail(TErrorKind::OutputIo,
         "Cannot create file " + demPath + ": it is " + path + ", a file of the transfer being converted");
  };
  if (!moduleSet.Source->OnDisk()) {  // the transfer is in an archive: the archive itself is its file
    const std::string container = moduleSet.Source->Container();
    if (!container.empty() && same(container)) refuse(container);
    return;
  }
  if (same(cellPath)) refuse(cellPath);
  for (const auto& [code, file] : moduleSet.Catalog)
    if (same(moduleSet.TransferDir + file)) refuse(moduleSet.TransferDir + file);
  const std::string& dir = moduleSet.TransferDir;
  const std::string& prefix = moduleSet.TransferPrefix;
  std::vector<std::string> names;
  ListFolder(dir, names);
  for (const std::string& name : names)
    if (IsModuleFileName(name, prefix) && same(dir + name)) refuse(dir + name);
}

uint8_t CellFormatCode(std::string_view fmt) {
  static constexpr std::string_view kFormats[] = {"BI8",  "BI16",  "BI24",  "BI32",  "BUI",  "BUI8",
                                                  "BUI16", "BUI24", "BUI32", "BFP32", "BFP64"};
  for (uint8_t i = 0; i < std::size(kFormats); ++i)
    if (kFormats[i] == fmt) return i;
  return kUnknownCellFormat;
}

}  // namespace veloran
