#include "delete_list.h"

#include <unordered_map>
#include <unordered_set>

#include "entry_selection.h"

namespace tvx::cli {

DeletePlan PlanDelete(const HostDialect& d, const std::vector<ArchiveEntry>& entries,
                      const std::vector<std::string>& names) {
  // Each entry by its key as spelled, and every folder that has something
  // below it, so that a name costs one lookup rather than a pass over the archive.
  const ArchiveSpellings spellings(d, entries);
  std::unordered_map<std::string, const ArchiveEntry*> by_key;
  std::unordered_set<std::string> has_below_set;
  for (const ArchiveEntry& e : entries) {
    by_key[e.key] = &e;
    const size_t slash = e.key.rfind('/');
    if (slash == std::string::npos) continue;
    AnyKeyOrFolderAbove(e.key.substr(0, slash), [&](const std::string& k) { return !has_below_set.insert(k).second; });
  }

  DeletePlan plan;
  for (const std::string& name : names) {
    const std::string key = CanonicalKey(d, name);
    const ArchiveSpellings::Found found = key.empty() ? ArchiveSpellings::Found{} : spellings.Find(key);
    if (!found.choices.empty()) {
      plan.ambiguous.push_back(AmbiguityText(name, found.choices));
      continue;
    }
    const std::string& spelled = found.spelling;
    const bool says_folder = !name.empty() && IsSeparator(d, name.back());
    const auto at = by_key.find(spelled);
    const ArchiveEntry* exact = spelled.empty() || at == by_key.end() ? nullptr : at->second;
    const bool has_below = !spelled.empty() && has_below_set.count(spelled) != 0;
    const bool file_named_as_folder = says_folder && exact && !exact->directory && !has_below;
    if (spelled.empty() || file_named_as_folder) {
      plan.unmatched.push_back(name);
      continue;
    }
    // Spelled as the archive has it: the module compares exactly.
    if (says_folder || has_below || (exact && exact->directory)) {
      plan.list += ToHostForm(d, spelled) + d.separator + "*.*";
    } else {
      plan.list += ToHostForm(d, spelled);
    }
    plan.list += '\0';
    ++plan.count;
  }
  plan.list += '\0';
  return plan;
}

}  // namespace tvx::cli
