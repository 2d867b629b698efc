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

// One entry of an archive, as its header tells it.
struct TEntry {
  std::string Name;    // normalized
  bool Module = false;  // a regular .DDF member
  bool IsLink = false;  // a link to a .DDF member
  std::string Target;   // the link's member (empty: outside the archive)
  size_t Size = 0;
};

// The next entry's header; false at the end of the archive.
bool NextEntry(archive* a, const std::string& path, TEntry& entry) {
  archive_entry* header = nullptr;
  const int r = archive_read_next_header(a, &header);
  if (r == ARCHIVE_EOF) return false;
  if (r != ARCHIVE_OK && r != ARCHIVE_WARN) ArchiveFailed(a, path);
  entry = TEntry();
  entry.Name = NormalMemberPath(archive_entry_pathname(header) ? archive_entry_pathname(header) : "");
  const bool ddf = EndsWithIgnoringCase(entry.Name, ".ddf");
  const char* hardlink = archive_entry_hardlink(header);
  const char* symlink = archive_entry_filetype(header) == AE_IFLNK ? archive_entry_symlink(header) : nullptr;
  if ((hardlink || symlink) && ddf) {
    // A symbolic link's target is relative to its own folder.
    const std::string folder = entry.Name.substr(0, entry.Name.rfind('/') + 1);
    entry.Target = NormalMemberPath(hardlink ? std::string(hardlink) : folder + symlink);
    if (symlink && *symlink == '/') entry.Target.clear();  // outside the archive
    entry.IsLink = true;
  }
  const la_int64_t size = archive_entry_size(header);
  entry.Module = !hardlink && archive_entry_filetype(header) == AE_IFREG && ddf && size >= 0;
  entry.Size = entry.Module ? static_cast<size_t>(size) : 0;
  return true;
}

void SkipEntry(archive* a, const std::string& path) {
  if (archive_read_data_skip(a) != ARCHIVE_OK) ArchiveFailed(a, path);
}

std::string ReadEntry(archive* a, const std::string& path, const TEntry& entry) {
  std::string bytes(entry.Size, '\0');
  for (size_t got = 0; got < bytes.size();) {
    const la_ssize_t n = archive_read_data(a, bytes.data() + got, bytes.size() - got);
    if (n < 0) ArchiveFailed(a, path);
    if (n == 0) ArchiveFails(path, "the member " + entry.Name + " is cut short");
    got += static_cast<size_t>(n);
  }
  return bytes;
}

// The folder of a member's path, with its "/".
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// A catalog or an identification module: what locating a transfer reads.
bool LocatingModule(const std::string& name) {
  const std::string_view base = BaseName(name);
  return base.size() >= 8 && (SameIgnoringCase(base.substr(4, 4), "CATD") || SameIgnoringCase(base.substr(4, 4), "IDEN"));
}

}  // namespace

// The archive opened once more, and the ordinal of its next entry.
struct TArchiveFiles::TCursor {
  TArchiveReader Reader;
  size_t Next = 0;
};

TArchiveFiles::TArchiveFiles(std::string path) : Path(std::move(path)) {}

TArchiveFiles::~TArchiveFiles() = default;

// The members, every one's place, and the bytes of the first few MiB and
// of every catalog and identification module.
void TArchiveFiles::IndexLocked() const {
  if (Indexed) return;
  TArchiveReader reader;
  archive* a = reader.A;
  OpenArchive(a, Path);
  ++PassCount;
  size_t kept = 0;
  TEntry entry;
  for (size_t ordinal = 0; NextEntry(a, Path, entry); ++ordinal) {
    if (entry.IsLink) {
      TMember& member = Members[Path + "/" + entry.Name];
      member.Target = entry.Target.empty() ? std::string() : Path + "/" + entry.Target;
      member.IsLink = true;
    }
    if (!entry.Module) {
      SkipEntry(a, Path);
      continue;
    }
    TMember& member = Members[Path + "/" + entry.Name];
    member.Name = entry.Name;
    member.Ordinal = ordinal;
    const bool locating = entry.Size <= kSmallMember && LocatingModule(entry.Name);
    if (!locating && kept + entry.Size > kKeptBytes) {
      SkipEntry(a, Path);
      continue;
    }
    Keep(member, ReadEntry(a, Path, entry));
    if (!locating) kept += entry.Size;
  }
  Indexed = true;
}

void TArchiveFiles::Keep(TMember& member, std::string bytes) const {
  if (Held + bytes.size() > kMaxArchiveBytes)
    ArchiveFails(Path, "its modules take more than " + std::to_string(kMaxArchiveBytes >> 20) + " MiB");
  Held += bytes.size();
  member.Bytes = std::move(bytes);
  member.Kept = true;
}

// Reads on to `wanted`, from the start again where the cursor has passed
// it, keeping the members on the way whose folders are being read.
void TArchiveFiles::ReadOnTo(TMember& wanted) const {
  if (!Cursor || Cursor->Next > wanted.Ordinal) {
    Cursor = std::make_unique<TCursor>();
    OpenArchive(Cursor->Reader.A, Path);
    ++PassCount;
  }
  Folders[FolderOf(Path + "/" + wanted.Name)].Busy = true;
  archive* a = Cursor->Reader.A;
  TEntry entry;
  while (!wanted.Kept) {
    if (!NextEntry(a, Path, entry)) {
      Cursor.reset();
      return;
    }
    const size_t ordinal = Cursor->Next++;
    const std::string path = Path + "/" + entry.Name;
    const auto member = Members.find(path);
    const auto folder = Folders.find(FolderOf(path));
    const bool wantedNow = entry.Module && member != Members.end() && member->second.Ordinal == ordinal &&
                           !member->second.Kept &&
                           (&member->second == &wanted || (folder != Folders.end() && folder->second.Busy));
    if (wantedNow) {
      Keep(member->second, ReadEntry(a, Path, entry));
    } else {
      SkipEntry(a, Path);
    }
  }
}

std::shared_ptr<const ITransferSource> TArchiveFiles::Lease(const std::string& path) const {
  const std::string folder = FolderOf(path);
  {
    std::lock_guard lock(Mutex);
    ++Folders[folder].Leases;
  }
  auto self = shared_from_this();
  return std::shared_ptr<const ITransferSource>(self.get(), [self, folder](const ITransferSource*) {
    self->Release(folder);
  });
}

// The last lease of the folder is gone: its members leave memory.
void TArchiveFiles::Release(const std::string& folder) const {
  std::lock_guard lock(Mutex);
  TFolder& f = Folders[folder];
  if (--f.Leases > 0) return;
  f.Busy = false;
  for (auto it = Members.lower_bound(folder); it != Members.end() && it->first.rfind(folder, 0) == 0; ++it)
    if (it->second.Kept && it->first.find('/', folder.size()) == std::string::npos) {
      Held -= it->second.Bytes.size();
      std::string().swap(it->second.Bytes);
      it->second.Kept = false;
    }
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
  if (!member->Kept) ReadOnTo(*member);
  if (!member->Kept) ArchiveFails(Path, "the member " + member->Name + " is cut short");
  return TMemoryStream::Borrow(member->Bytes, path);
}

size_t TArchiveFiles::Passes() const {
  std::lock_guard lock(Mutex);
  return PassCount;
}

size_t TArchiveFiles::HeldBytes() const {
  std::lock_guard lock(Mutex);
  return Held;
}

std::vector<std::string> TArchiveFiles::CellModules() const {
  std::lock_guard lock(Mutex);
  IndexLocked();
  std::vector<std::pair<size_t, std::string>> cells;
  for (const auto& [name, member] : Members)
    if (IsCellModuleName(BaseName(name)))
      if (const TMember* found = Find(name)) cells.push_back({found->Ordinal, name});
  // In the archive's order: its transfers are then read in one pass.
  std::sort(cells.begin(), cells.end());
  std::vector<std::string> names;
  for (auto& cell : cells) names.push_back(std::move(cell.second));
  return names;
}

namespace {

[[noreturn]] void FolderFailed(const std::string& dir) {
  Fail(TErrorKind::NotFound, "Cannot open folder " + dir + ": " + std::strerror(errno));
}

void CollectTransfers(const std::string& dir, bool recursive, const ITransferSource& source, TFolderTransfers& found) {
  std::vector<std::string> names;
  if (!source.List(dir, names)) FolderFailed(dir);
  std::sort(names.begin(), names.end());
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    const std::string path = InFolder(dir, name);
    const TFileKind kind = source.KindOf(path);
    if (kind == TFileKind::Missing) continue;
    if (kind == TFileKind::Folder) {
      found.HasSubfolders = true;
      folders.push_back(path);
    } else if (IsCellModuleName(name)) {
      found.Cells.push_back(path);
    } else if (recursive && IsArchiveName(name) && kind == TFileKind::File) {
      found.Archives.push_back(path);
    }
  }
  if (!recursive) return;
  for (const std::string& folder : folders) {
    // A link to a folder is not followed: it could lead back up the tree.
    if (source.KindOf(folder, false) != TFileKind::Folder) continue;
    // A sub-folder that cannot be read is told, and the others converted.
    try {
      CollectTransfers(folder, true, source, found);
    } catch (const TConvertError& e) {
      found.Unreadable.push_back({folder, e.what()});
    }
  }
}

}  // namespace

TFolderTransfers TransfersIn(const std::string& dir, bool recursive, const ITransferSource& source) {
  TFolderTransfers found;
  CollectTransfers(dir, recursive, source, found);
  return found;
}

std::vector<std::string> CellModulesIn(const std::string& dir, const ITransferSource& source) {
  std::vector<std::string> names, cells;
  if (!source.List(dir, names)) FolderFailed(dir);
  for (const std::string& name : names)
    if (IsCellModuleName(name)) cells.push_back(name);
  std::sort(cells.begin(), cells.end());
  for (std::string& cell : cells) cell = InFolder(dir, cell);
  return cells;
}

}  // namespace veloran
