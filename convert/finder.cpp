#include "convert/finder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "convert/transfers.h"
#include "support/errors.h"
#include "support/filesink.h"
#include "support/textutil.h"

namespace veloran {

std::unique_ptr<TJob> FailedJob(const std::string& label, const TConvertError& error) {
  auto job = std::make_unique<TJob>();
  job->Item.Label = label;
  job->Item.Error = error.what();
  job->Item.ErrorKind = error.Kind();
  return job;
}

namespace {

// A module's name without its code and ".DDF": 1234CEL0.DDF gives 1234.
std::string ModuleStem(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  if (name.size() > 8 && EndsWithIgnoringCase(name, ".DDF")) name.resize(name.size() - 8);
  return name;
}

// The name of the folder a file lies in.
std::string FolderName(const std::string& path) {
  const std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
  if (dir.empty()) return ".";
  return dir.substr(dir.rfind('/') + 1);
}

}  // namespace

std::vector<TPiece> TFinder::Expand(const std::string& path) const {
  std::vector<TPiece> pieces;
  try {
    if (DiskFiles().KindOf(path) == TFileKind::Folder) {
      const TFolderTransfers found = TransfersIn(path, Options.Recursive);
      if (found.Cells.empty() && found.Archives.empty() && found.Unreadable.empty())
        Fail(TErrorKind::NotATransfer,
             std::string("no transfer (no cell module ????CE??.DDF) in this folder") +
                 (found.HasSubfolders && !Options.Recursive ? "; use -r to search its sub-folders" : ""));
      for (const std::string& cell : found.Cells)
        pieces.push_back({Locate(cell, DiskFiles(), nullptr, FolderName(cell)), {}});
      for (const std::string& archive : found.Archives) {
        pieces.push_back({});
        pieces.back().Inner = std::make_unique<TInput>();
        pieces.back().Inner->Path = archive;
      }
      for (const auto& [folder, message] : found.Unreadable)
        pieces.push_back({FailedJob(folder, TConvertError(TErrorKind::NotFound, message)), {}});
    } else if (IsArchiveName(path)) {
      const auto files = std::make_shared<TArchiveFiles>(path);
      const std::vector<std::string> cells = files->CellModules();
      if (cells.empty()) Fail(TErrorKind::NotATransfer, "no transfer (no cell module ????CE??.DDF) in this archive");
      for (const std::string& cell : cells)
        pieces.push_back({Locate(cell, *files, files->Lease(cell), ArchiveStem(path)), {}});
    } else {
      pieces.push_back({Locate(path, DiskFiles(), nullptr, ModuleStem(path)), {}});
    }
  } catch (...) {
    pieces.clear();
    pieces.push_back({FailedJob(path, CurrentFailure()), {}});
  }
  return pieces;
}

std::unique_ptr<TJob> TFinder::Locate(const std::string& chosen, const ITransferSource& source,
                                      std::shared_ptr<const ITransferSource> keep, const std::string& inputName) const {
  try {
    return Plan(LocateTransfer(chosen, source, std::move(keep)), chosen, inputName);
  } catch (...) {
    return FailedJob(chosen, CurrentFailure());
  }
}

std::unique_ptr<TJob> TFinder::Plan(TLocatedTransfer transfer, const std::string& label,
                                    const std::string& inputName) const {
  auto job = std::make_unique<TJob>();
  job->Item.Label = label;
  job->Item.Archive = transfer.Modules.Source->Container();
  try {
    if (Options.HaveOutput && !Options.OutputIsDir) {
      job->Wanted = Options.Output;
    } else {
      const std::string name = Options.NameFromInput ? PlainFileName(inputName) + Options.Format->Extension
                                                     : DefaultName(transfer, *Options.Format);
      job->Wanted = Options.OutputIsDir ? InFolder(Options.Output, name) : name;
    }
    job->Transfer = std::move(transfer);
  } catch (...) {
    return FailedJob(label, CurrentFailure());
  }
  return job;
}

void CheckOutputFolder(const std::string& dir) {
  struct stat st {};
  int error = 0;
  if (stat(dir.c_str(), &st) != 0) {
    error = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
  } else if (access(dir.c_str(), W_OK | X_OK) != 0) {
    error = errno;
  }
  if (error != 0) Fail(TErrorKind::OutputIo, "Cannot write in folder " + dir + ": " + std::strerror(error));
}

}  // namespace veloran
