#include "convert/transfers.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

namespace {

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A member path without "." and ".." steps (a ".." above the archive's top
// stays outside it: such a link finds nothing).
std::string NormalMemberPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  bool outside = false;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) outside = true;
      else parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (outside) return {};
  std::string normal;
  for (const std::string& part : parts) normal += (normal.empty() ? "" : "/") + part;
  return normal;
}

// Closes the archive on every path.
struct TArchiveReader {
  archive* A = archive_read_new();
  ~TArchiveReader() { archive_read_free(A); }
};

}  // namespace

namespace {

// The endings of archive names, each before any ending it ends in.
constexpr std::string_view kArchiveEndings[] = {".tar.gz", ".tgz", ".tar.z", ".tar.bz2", ".tbz2", ".tbz",
                                                ".tar.xz", ".txz", ".tar",   ".zip"};

// The length of the archive ending `name` has, or 0.
size_t ArchiveEnding(std::string_view name) {
  for (const std::string_view ending : kArchiveEndings)
    if (EndsWithIgnoringCase(name, ending)) return ending.size();
  return 0;
}

}  // namespace

bool IsArchiveName(std::string_view path) { return ArchiveEnding(path) > 0; }

std::string ArchiveStem(std::string_view path) {
  const std::string_view name = BaseName(path);
  const size_t ending = ArchiveEnding(name);
  return std::string(ending > 0 && ending < name.size() ? name.substr(0, name.size() - ending) : name);
}

bool IsCellModuleName(std::string_view name) {
  return name.size() == 12 && EndsWithIgnoringCase(name.substr(0, 6), "ce") && EndsWithIgnoringCase(name, ".ddf");
}

namespace {

[[noreturn]] void ArchiveFails(const std::string& path, const std::string& reason) {
  Fail("Cannot read archive " + path + ": " + reason);
}
// The fault libarchive reports for `a`.
[[noreturn]] void ArchiveFailed(archive* a, const std::string& path) {
  ArchiveFails(path, archive_error_string(a) ? archive_error_string(a) : "damaged archive");
}

// Opens the archive for reading: tar, bare or compressed as transfers are
// found (gzip, compress, bzip2, xz), or zip.
void OpenArchive(archive* a, const std::string& path) {
  if (!a) ArchiveFails(path, "out of memory");
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_compress(a);
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_xz(a);
  archive_read_support_format_tar(a);
  archive_read_support_format_zip(a);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) ArchiveFails(path, "not a regular file");
  if (archive_read_open_filename(a, path.c_str(), 64 * 1024) != ARCHIVE_OK) {
    // A file that cannot be opened says why in the system's words.
    const char* said = archive_error_string(a);
    if (said && std::string_view(said).rfind("Failed to open", 0) == 0 && archive_errno(a) > 0)
      Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(archive_errno(a)));
    ArchiveFailed(a, path);
  }
}

}  // namespace

namespace {

// Reads the archive's members one after the other; `take` gets each
// regular .DDF member's (normalized) name and size and returns whether to
// read its bytes, which then reach `keep`; `link` gets each link to a .DDF
// member and its target (empty: outside the archive).
template <class FTake, class FKeep, class FLink>
void WalkArchive(const std::string& path, FTake&& take, FKeep&& keep, FLink&& link) {
  TArchiveReader reader;
  archive* a = reader.A;
  OpenArchive(a, path);
  size_t total = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) ArchiveFailed(a, path);
    const std::string name = NormalMemberPath(archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "");
    const char* hardlink = archive_entry_hardlink(entry);
    const char* symlink = archive_entry_filetype(entry) == AE_IFLNK ? archive_entry_symlink(entry) : nullptr;
    if ((hardlink || symlink) && EndsWithIgnoringCase(name, ".ddf")) {
      // A symbolic link's target is relative to its own folder.
      const std::string folder = name.substr(0, name.rfind('/') + 1);
      std::string target = NormalMemberPath(hardlink ? std::string(hardlink) : folder + symlink);
      if (symlink && *symlink == '/') target.clear();  // outside the archive
      link(name, target);
    }
    const la_int64_t size = archive_entry_size(entry);
    if (hardlink || archive_entry_filetype(entry) != AE_IFREG || !EndsWithIgnoringCase(name, ".ddf") || size < 0 ||
        !take(name, static_cast<size_t>(size))) {
      if (archive_read_data_skip(a) != ARCHIVE_OK) ArchiveFailed(a, path);
      continue;
    }
    if (total + static_cast<size_t>(size) > kMaxArchiveBytes)
      ArchiveFails(path, "its modules take more than " + std::to_string(kMaxArchiveBytes >> 20) + " MiB");
    std::string bytes(static_cast<size_t>(size), '\0');
    for (size_t got = 0; got < bytes.size();) {
      const la_ssize_t n = archive_read_data(a, bytes.data() + got, bytes.size() - got);
      if (n < 0) ArchiveFailed(a, path);
      if (n == 0) ArchiveFails(path, "the member " + name + " is cut short");
      got += static_cast<size_t>(n);
    }
    total += bytes.size();
    keep(name, std::move(bytes));
  }
}

}  // namespace

TArchiveFiles::TArchiveFiles(std::string path) : Path(std::move(path)) {}

void TArchiveFiles::IndexLocked() const {
  if (Indexed) return;
  size_t kept = 0;
  WalkArchive(
      Path,
      [&](const std::string& name, size_t size) {
        Members[Path + "/" + name].Name = name;
        // Small modules, and all of a transfer of usual size, come with
        // this one pass; a member beyond that is read when it is opened.
        const bool keep = size <= kSmallMember || kept + size <= kKeptBytes;
        if (keep) kept += size;
        return keep;
      },
      [&](const std::string& name, std::string bytes) {
        TMember& member = Members[Path + "/" + name];
        member.Bytes = std::move(bytes);
        member.Kept = true;
      },
      [&](const std::string& name, const std::string& target) {
        TMember& member = Members[Path + "/" + name];
        member.Target = target.empty() ? std::string() : Path + "/" + target;
        member.IsLink = true;
      });
  Indexed = true;
}

// A link reads as the member it leads to; links to links are followed a
// few steps, and a link to nothing in the archive is no file.
const TArchiveFiles::TMember* TArchiveFiles::Find(const std::string& path) const {
  IndexLocked();
  auto found = Members.find(path);
  for (int step = 0; step < 8 && found != Members.end() && found->second.IsLink; ++step)
    found = found->second.Target.empty() ? Members.end() : Members.find(found->second.Target);
  return found == Members.end() || found->second.IsLink ? nullptr : &found->second;
}

void TArchiveFiles::CheckFile(const std::string& path) const {
  std::lock_guard lock(Mutex);
  if (!Find(path)) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(ENOENT));
}

bool TArchiveFiles::Exists(const std::string& path) const {
  std::lock_guard lock(Mutex);
  return Find(path) != nullptr;
}

bool TArchiveFiles::List(const std::string& dir, std::vector<std::string>& names) const {
  std::lock_guard lock(Mutex);
  IndexLocked();
  names.clear();
  for (auto it = Members.lower_bound(dir); it != Members.end() && it->first.rfind(dir, 0) == 0; ++it)
    if (it->first.find('/', dir.size()) == std::string::npos) names.push_back(it->first.substr(dir.size()));
  return true;
}

std::unique_ptr<TStream> TArchiveFiles::Open(const std::string& path) const {
  std::lock_guard lock(Mutex);
  TMember* member = const_cast<TMember*>(Find(path));
  if (!member) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(ENOENT));
  if (!member->Kept) {
    // One more pass through the archive, for this member alone.
    WalkArchive(
        Path, [&](const std::string& name, size_t) { return name == member->Name; },
        [&](const std::string&, std::string bytes) {
          member->Bytes = std::move(bytes);
          member->Kept = true;
        },
        [](const std::string&, const std::string&) {});
    if (!member->Kept) ArchiveFails(Path, "the member " + member->Name + " is cut short");
  }
  return TMemoryStream::Borrow(member->Bytes, path);
}

std::vector<std::string> TArchiveFiles::CellModules() const {
  std::lock_guard lock(Mutex);
  IndexLocked();
  std::vector<std::string> cells;
  for (const auto& [name, member] : Members)
    if (IsCellModuleName(BaseName(name)) && Find(name)) cells.push_back(name);
  return cells;
}

namespace {

[[noreturn]] void FolderFailed(const std::string& dir) {
  Fail(TErrorKind::NotFound, "Cannot open folder " + dir + ": " + std::strerror(errno));
}

void CollectTransfers(const std::string& dir, bool recursive, TFolderTransfers& found) {
  std::vector<std::string> names;
  if (!ListFolder(dir, names)) FolderFailed(dir);
  std::sort(names.begin(), names.end());
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    const std::string path = InFolder(dir, name);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      found.HasSubfolders = true;
      folders.push_back(path);
    } else if (IsCellModuleName(name)) {
      found.Cells.push_back(path);
    } else if (recursive && IsArchiveName(name) && S_ISREG(st.st_mode)) {
      found.Archives.push_back(path);
    }
  }
  if (!recursive) return;
  for (const std::string& folder : folders) {
    struct stat st {};
    // A link to a folder is not followed: it could lead back up the tree.
    if (lstat(folder.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    // A sub-folder that cannot be read is told, and the others converted.
    try {
      CollectTransfers(folder, true, found);
    } catch (const TConvertError& e) {
      found.Unreadable.push_back({folder, e.what()});
    }
  }
}

}  // namespace

TFolderTransfers TransfersIn(const std::string& dir, bool recursive) {
  TFolderTransfers found;
  CollectTransfers(dir, recursive, found);
  return found;
}

std::vector<std::string> CellModulesIn(const std::string& dir) {
  std::vector<std::string> names, cells;
  if (!ListFolder(dir, names)) FolderFailed(dir);
  for (const std::string& name : names)
    if (IsCellModuleName(name)) cells.push_back(name);
  std::sort(cells.begin(), cells.end());
  for (std::string& cell : cells) cell = InFolder(dir, cell);
  return cells;
}

}  // namespace veloran
