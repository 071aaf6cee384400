#include "delete_list.h"

namespace tvx::cli {

DeletePlan PlanDelete(const HostDialect& d, const std::vector<ArchiveEntry>& entries,
                      const std::vector<std::string>& names) {
  DeletePlan plan;
  for (const std::string& name : names) {
    const std::string key = CanonicalKey(d, name);
    const bool says_folder = !name.empty() && IsSeparator(d, name.back());
    const ArchiveEntry* exact = nullptr;
    bool has_below = false;
    for (const ArchiveEntry& e : entries) {
      if (SameKey(d, e.key, key)) exact = &e;
      if (KeyIsBelow(d, e.key, key)) has_below = true;
    }
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
