#include "convert/names.h"

#include "support/errors.h"
#include "support/textutil.h"

namespace veloran {

void TOutputNames::Settle(const std::string& wanted, size_t order) {
  const auto waiting = Unsettled.find(wanted);
  if (waiting == Unsettled.end()) return;
  waiting->second.erase(order);
  if (waiting->second.empty()) Unsettled.erase(waiting);
}

std::string TOutputNames::Take(const std::string& wanted, const void* owner) {
  std::string name = FreeName(wanted, [&](const std::string& n) { return Taken.count(n) > 0; });
  Taken[name] = owner;
  return name;
}

void TOutputNames::Release(const std::string& name, const void* owner) {
  const auto taken = Taken.find(name);
  if (taken != Taken.end() && taken->second == owner) Taken.erase(taken);
}

std::string FreeName(const std::string& wanted, const std::function<bool(const std::string&)>& taken) {
  const size_t dot = wanted.rfind('.');
  const std::string stem = dot == std::string::npos ? wanted : wanted.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : wanted.substr(dot);
  std::string name = wanted;
  for (int n = 2; taken(name); ++n) name = stem + " (" + std::to_string(n) + ")" + ext;
  return name;
}

std::string PictureName(const std::string& output, const TBatchOptions& options) {
  if (!options.PreviewIsDir) return options.Preview;
  std::string name = output.substr(output.rfind('/') + 1);
  const std::string& extension = options.Format->Extension;
  if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
    name.resize(name.size() - extension.size());
  return InFolder(options.Preview, name + ".png");
}

std::string FailureKinds(const std::map<TErrorKind, size_t>& failed) {
  std::string kinds;
  for (const auto& [kind, count] : failed)
    if (count > 0) kinds += (kinds.empty() ? " (" : ", ") + std::to_string(count) + " " + KindName(kind);
  return kinds.empty() ? kinds : kinds + ")";
}

}  // namespace veloran
