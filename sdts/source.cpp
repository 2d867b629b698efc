#include "sdts/source.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

namespace {

class TDiskFiles final : public ITransferSource {
 public:
  void CheckFile(const std::string& path) const override {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) Fail(TErrorKind::NotFound, "Cannot open file " + path + ": it is not a regular file");
  }
  bool Exists(const std::string& path) const override {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 || errno != ENOENT;
  }
  TFileKind KindOf(const std::string& path, bool followLinks) const override {
    struct stat st {};
    if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return TFileKind::Missing;
    return S_ISDIR(st.st_mode) ? TFileKind::Folder : S_ISREG(st.st_mode) ? TFileKind::File : TFileKind::Other;
  }
  bool List(const std::string& dir, std::vector<std::string>& names) const override {
    return ListFolder(dir, names);
  }
  std::unique_ptr<TStream> Open(const std::string& path) const override {
    return std::make_unique<TFileStream>(path);
  }
  bool OnDisk() const override { return true; }
};

}  // namespace

const ITransferSource& DiskFiles() {
  static const TDiskFiles disk;
  return disk;
}

}  // namespace veloran
