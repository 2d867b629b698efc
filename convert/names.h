// The names a batch's outputs take: each transfer asks for one (its title,
// or its input's name) and takes it, or the first of "STEM (2).EXT",
// "STEM (3).EXT"... that no earlier transfer of the run has taken, in the
// order of the transfers. A transfer waits for the earlier ones that ask
// for the same name until they have taken theirs or failed; one that fails
// takes none. Not thread-safe: the batch calls it under its lock.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "convert/batch.h"

namespace veloran {

class TOutputNames {
 public:
  // The transfer at `order` will ask for `wanted`.
  void Expect(const std::string& wanted, size_t order) { Unsettled[wanted].insert(order); }
  // Whether every earlier transfer asking for `wanted` has settled.
  bool Turn(const std::string& wanted, size_t order) { return *Unsettled[wanted].begin() == order; }
  // The transfer at `order` no longer keeps later ones waiting.
  void Settle(const std::string& wanted, size_t order);
  // Takes `wanted`, or the first free name after it, for `owner`.
  std::string Take(const std::string& wanted, const void* owner);
  // A transfer that failed once it had its name leaves the name free.
  void Release(const std::string& name, const void* owner);

 private:
  std::map<std::string, std::set<size_t>> Unsettled;  // by wanted name, the transfers not yet named finally
  std::map<std::string, const void*> Taken;           // each output name and the transfer that took it
};

// The first of `wanted`, "STEM (2).EXT", "STEM (3).EXT"... that `taken`
// does not hold.
std::string FreeName(const std::string& wanted, const std::function<bool(const std::string&)>& taken);
// The picture of the output `output`: the one picture named, or the output's
// name with ".png" for its extension in the picture folder.
std::string PictureName(const std::string& output, const TBatchOptions& options);

}  // namespace veloran
