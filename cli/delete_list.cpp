#include "delete_list.h"

#include <unordered_map>
#include <unordered_set>

#include "entry_selection.h"

namespace tvx::cli {

DeletePlan PlanDelete(const HostDialect& d, const std::vector<ArchiveEntry>& entries,
                      const std::vector<std::string>& names) {
  // Each entry by its key, and every folder that has something below it,
  // so that a name costs one lookup rather than a pass over the archive.
  std::unordered_map<std::string, const ArchiveEntry*> by_key;
  std::unordered_set<std::string> has_below_set;
  for (const ArchiveEntry& e : entries) {
    const std::string key = MatchKey(d, e.key);
    by_key[key] = &e;
    const size_t slash = key.rfind('/');
    if (slash == std::string::npos) continue;
    AnyKeyOrFolderAbove(key.substr(0, slash), [&](const std::string& k) { return !has_below_set.insert(k).second; });
  }

  DeletePlan plan;
  for (const std::string& name : names) {
    const std::string key = CanonicalKey(d, name);
    const std::string match = MatchKey(d, key);
    const bool says_folder = !name.empty() && IsSeparator(d, name.back());
    const auto found = by_key.find(match);
    const ArchiveEntry* exact = found == by_key.end() ? nullptr : found->second;
    const bool has_below = has_below_set.count(match) != 0;
    const bool file_named_as_folder = says_folder && exact && !exact->directory && !has_below;
    if (key.empty() || (!exact && !has_below) || file_named_as_folder) {
      plan.unmatched.push_back(name);
      continue;
    }
    // Spelled as the archive has it, since the module may compare exactly.
    const std::string spelled = exact ? exact->key : key;
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
