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
  std::unordered_map<std::string, const ArchiveEntry*> byKey;
  std::unordered_set<std::string> hasBelowSet;
  for (const ArchiveEntry& e : entries) {
    byKey[e.key] = &e;
    const size_t slash = e.key.rfind('/');
    if (slash == std::string::npos) continue;
    AnyKeyOrFolderAbove(e.key.substr(0, slash), [&](const std::string& k) { return !hasBelowSet.insert(k).second; });
  }

  DeletePlan plan;
  for (const std::string& name : names) {
    const ArchiveSpellings::Found found = spellings.FindName(name);
    if (!found.choices.empty()) {
      plan.ambiguous.push_back(AmbiguityText(name, found.choices));
      continue;
    }
    const std::string& spelled = found.spelling;
    const bool saysFolder = !name.empty() && IsSeparator(d, name.back());
    const auto at = byKey.find(spelled);
    const ArchiveEntry* exact = spelled.empty() || at == byKey.end() ? nullptr : at->second;
    const bool hasBelow = !spelled.empty() && hasBelowSet.count(spelled) != 0;
    const bool fileNamedAsFolder = saysFolder && exact && !exact->directory && !hasBelow;
    if (spelled.empty() || fileNamedAsFolder) {
      plan.unmatched.push_back(name);
      continue;
    }
    // Spelled as the archive has it: the module compares exactly.
    if (saysFolder || hasBelow || (exact && exact->directory)) {
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
