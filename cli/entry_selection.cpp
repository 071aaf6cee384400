#include "entry_selection.h"

#include <algorithm>

#include "terminal_text.h"

namespace tvx::cli {

ArchiveSpellings::ArchiveSpellings(const HostDialect& d, const std::vector<ArchiveEntry>& entries) : dialect_(d) {
  std::unordered_set<std::string> seen;
  for (const ArchiveEntry& e : entries) {
    AnyKeyOrFolderAbove(e.key, [&](const std::string& k) {
      if (!seen.insert(k).second) return true;
      byMatchKey_[MatchKey(d, k)].push_back(k);
      return false;
    });
  }
}

ArchiveSpellings::Found ArchiveSpellings::Find(const std::string& key) const {
  Found found;
  const auto it = byMatchKey_.find(MatchKey(dialect_, key));
  if (it == byMatchKey_.end()) return found;
  const std::vector<std::string>& spellings = it->second;
  if (spellings.size() == 1 || std::find(spellings.begin(), spellings.end(), key) != spellings.end()) {
    found.spelling = spellings.size() == 1 ? spellings[0] : key;
  } else {
    found.choices = spellings;
    std::sort(found.choices.begin(), found.choices.end());
  }
  return found;
}

ArchiveSpellings::Found ArchiveSpellings::FindName(const std::string& name) const {
  const std::string key = CanonicalKey(dialect_, name);
  const Found found = key.empty() ? Found{} : Find(key);
  const std::string unescaped = FromTerminalSafe(name);
  if (!found.spelling.empty() || !found.choices.empty() || unescaped == name) return found;
  const std::string shownKey = CanonicalKey(dialect_, unescaped);
  return shownKey.empty() ? found : Find(shownKey);
}

std::string AmbiguityText(const std::string& name, const std::vector<std::string>& choices) {
  std::string text = "ambiguous, the archive holds ";
  for (size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += i + 1 == choices.size() ? " and " : ", ";
    text += choices[i];
  }
  return text + " (names that differ only in case); give one as spelled there: " + name;
}

EntrySelection::EntrySelection(const HostDialect& d, const std::vector<std::string>& names,
                               const std::vector<ArchiveEntry>& entries) {
  everything_ = names.empty();
  if (everything_) return;  // the archive's spellings are needed only to look names up
  const ArchiveSpellings spellings(d, entries);
  for (const std::string& name : names) {
    const std::string key = CanonicalKey(d, name);
    // An empty name (a lone separator) stands for the whole archive.
    if (key.empty()) {
      if (entries.empty()) unmatched_.push_back(name);
      everything_ = true;
      continue;
    }
    const ArchiveSpellings::Found found = spellings.FindName(name);
    if (!found.spelling.empty()) {
      chosen_.insert(found.spelling);
    } else if (!found.choices.empty()) {
      ambiguous_.push_back(AmbiguityText(name, found.choices));
    } else {
      unmatched_.push_back(name);
    }
  }
}

bool EntrySelection::Chooses(const std::string& key) const {
  if (everything_) return true;
  return AnyKeyOrFolderAbove(key, [&](const std::string& k) { return chosen_.count(k) != 0; });
}

}  // namespace tvx::cli
