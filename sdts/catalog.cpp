#include "sdts/catalog.h"

#include <algorithm>
#include <vector>

#include "iso8211/ddfreader.h"
#include "iso8211/subfields.h"
#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

std::map<std::string, std::string> ReadCatalog(const std::string& path, const ITransferSource& source) {
  std::map<std::string, std::string> catalog;
  auto stream = source.Open(path);
  NameFileOnFailure(path, [&] {
    TDataDescription description;
    ReadDataDescription(*stream, description, 0);
    description.Records.Count = 1;  // each record in turn, as record 0
    for (int r = 1; stream->Position() < stream->Size(); ++r) {
      const bool more = ReadDataRecord(*stream, description.Records.Leaders[0], description.Records.Directories[0], r);
      const int64_t next = stream->Position();
      std::string code = GetSubfieldText(*stream, "CATD", "NAME", 0, description);
      const std::string file = GetSubfieldText(*stream, "CATD", "FILE", 0, description);
      for (char& c : code)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (!code.empty() && !file.empty() && file.find('/') == std::string::npos) catalog.emplace(code, file);
      if (!more) break;
      stream->Seek(next);
    }
  });
  return catalog;
}

bool LooksLikeIso8211(const std::string& path, const ITransferSource& source) {
  auto stream = source.Open(path);
  char leader[24];
  return stream->Read(leader, 24) == 24 && leader[6] == 'L' && IsLeaderText(leader);
}

std::string FindCatalogListing(const std::string& dir, const std::string& name, const ITransferSource& source) {
  std::vector<std::string> names;
  source.List(dir, names);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    const std::string path = dir + n;
    if (!EndsWithIgnoringCase(path, ".DDF")) continue;
    try {
      if (!LooksLikeIso8211(path, source)) continue;
      for (const auto& [code, file] : ReadCatalog(path, source))
        if (SameIgnoringCase(file, name)) return path;
    } catch (const TConvertError&) {
      // Not a catalog one can read: not the one sought.
    }
  }
  return {};
}

}  // namespace veloran
