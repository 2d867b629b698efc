// A transfer's catalog (its CATD module): the module files it names, and
// the catalog that lists a file, for transfers whose names do not follow
// the prefix rule.
#pragma once

#include <map>
#include <string>

#include "sdts/source.h"

namespace veloran {

// The catalog at `path`: each record's module code (NAME, in capitals) and
// file (FILE), a file of the catalog's own folder. Every record is read: a
// catalog lists a module per record, USGS's already 19, others more. Fails
// with the reader's message naming the file.
std::map<std::string, std::string> ReadCatalog(const std::string& path, const ITransferSource& source);

// Whether the file starts as an ISO 8211 file does: a leader of 24
// characters whose sixth holds the leader identifier "L".
bool LooksLikeIso8211(const std::string& path, const ITransferSource& source);

// The first ISO 8211 file of `dir` that is a catalog listing `name`; empty
// when there is none.
std::string FindCatalogListing(const std::string& dir, const std::string& name, const ITransferSource& source);

}  // namespace veloran
