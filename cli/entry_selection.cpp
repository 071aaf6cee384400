#include "entry_selection.h"

namespace tvx::cli {

EntrySelection::EntrySelection(const HostDialect& d, const std::vector<std::string>& names)
    : dialect_(d), given_(names) {
  for (const std::string& name : names) {
    keys_.push_back(MatchKey(d, CanonicalKey(d, name)));
    chosen_.insert(keys_.back());
  }
}

bool EntrySelection::Chooses(const std::string& key) const {
  // An empty name (a lone separator) stands for the whole archive.
  if (keys_.empty() || chosen_.count(std::string())) return true;
  return AnyKeyOrFolderAbove(MatchKey(dialect_, key),
                             [&](const std::string& k) { return chosen_.count(k) != 0; });
}

std::vector<std::string> EntrySelection::Unmatched(const std::vector<ArchiveEntry>& entries) const {
  std::vector<std::string> missing;
  if (keys_.empty()) return missing;
  // Every entry's key and the folders above it: a name matches when it is one.
  std::unordered_set<std::string> present;
  if (!entries.empty()) present.insert(std::string());
  for (const ArchiveEntry& e : entries) {
    AnyKeyOrFolderAbove(MatchKey(dialect_, e.key), [&](const std::string& k) { return !present.insert(k).second; });
  }
  for (size_t i = 0; i < keys_.size(); ++i)
    if (!present.count(keys_[i])) missing.push_back(given_[i]);
  return missing;
}

}  // namespace tvx::cli
