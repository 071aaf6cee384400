#include "entry_selection.h"

namespace tvx::cli {

EntrySelection::EntrySelection(const HostDialect& d, const std::vector<std::string>& names)
    : dialect_(d), given_(names) {
  for (const std::string& name : names) keys_.push_back(CanonicalKey(d, name));
}

bool EntrySelection::Chooses(const std::string& key) const {
  if (keys_.empty()) return true;
  for (const std::string& k : keys_)
    if (SameKey(dialect_, key, k) || KeyIsBelow(dialect_, key, k)) return true;
  return false;
}

std::vector<std::string> EntrySelection::Unmatched(const std::vector<ArchiveEntry>& entries) const {
  std::vector<std::string> missing;
  for (size_t i = 0; i < keys_.size(); ++i) {
    bool found = false;
    for (const ArchiveEntry& e : entries) {
      if (SameKey(dialect_, e.key, keys_[i]) || KeyIsBelow(dialect_, e.key, keys_[i])) {
        found = true;
        break;
      }
    }
    if (!found) missing.push_back(given_[i]);
  }
  return missing;
}

}  // namespace tvx::cli
