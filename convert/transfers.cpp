#include "convert/transfers.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

namespace {

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Closes the archive on every path.
struct TArchiveReader {
  archive* A = archive_read_new();
  ~TArchiveReader() { archive_read_free(A); }
};

}  // namespace

bool IsArchiveName(std::string_view path) {
  return EndsWithIgnoringCase(path, ".tar.gz") || EndsWithIgnoringCase(path, ".tgz") ||
         EndsWithIgnoringCase(path, ".tar") || EndsWithIgnoringCase(path, ".tar.z");
}

bool IsCellModuleName(std::string_view name) {
  return name.size() == 12 && EndsWithIgnoringCase(name.substr(0, 6), "ce") && EndsWithIgnoringCase(name, ".ddf");
}

std::shared_ptr<const TMemoryFiles> ReadArchive(const std::string& path) {
  auto files = std::make_shared<TMemoryFiles>();
  files->SourcePath = path;
  TArchiveReader reader;
  archive* a = reader.A;
  auto fail = [&](const std::string& reason) { Fail("Cannot read archive " + path + ": " + reason); };
  auto failed = [&] { fail(archive_error_string(a) ? archive_error_string(a) : "damaged archive"); };
  if (!a) fail("out of memory");
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_compress(a);
  archive_read_support_format_tar(a);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) fail("not a regular file");
  if (archive_read_open_filename(a, path.c_str(), 64 * 1024) != ARCHIVE_OK) failed();
  size_t total = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) failed();
    std::string name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    if (archive_entry_filetype(entry) != AE_IFREG || !EndsWithIgnoringCase(name, ".ddf")) {
      if (archive_read_data_skip(a) != ARCHIVE_OK) failed();
      continue;
    }
    std::string bytes;
    const la_int64_t size = archive_entry_size(entry);
    if (size < 0 || total + static_cast<size_t>(size) > kMaxArchiveBytes)
      fail("its modules take more than " + std::to_string(kMaxArchiveBytes >> 20) + " MiB");
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes.size()) {
      const la_ssize_t n = archive_read_data(a, bytes.data() + got, bytes.size() - got);
      if (n < 0) failed();
      if (n == 0) fail("the member " + name + " is cut short");
      got += static_cast<size_t>(n);
    }
    total += bytes.size();
    files->Files[path + "/" + name] = std::move(bytes);
  }
  return files;
}

std::vector<std::string> CellModules(const TMemoryFiles& files) {
  std::vector<std::string> cells;
  for (const auto& [name, bytes] : files.Files)
    if (IsCellModuleName(BaseName(name))) cells.push_back(name);
  return cells;
}

std::vector<std::string> CellModulesIn(const std::string& dir) {
  std::vector<std::string> names, cells;
  if (!ListFolder(dir, names)) Fail("Cannot open folder " + dir);
  for (const std::string& name : names)
    if (IsCellModuleName(name)) cells.push_back(name);
  std::sort(cells.begin(), cells.end());
  for (std::string& cell : cells) cell = InFolder(dir, cell);
  return cells;
}

}  // namespace veloran
