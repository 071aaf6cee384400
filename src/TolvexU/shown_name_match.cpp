#include "TolvexU/shown_name_match.h"

#include <unordered_set>

#include "TolvexU/host_dialect.h"

namespace tvx::host {

std::vector<bool> EntriesNamedAsShown(Archive& archive, const std::vector<std::string>& names,
                                      const std::vector<std::string>& folders) {
  const std::vector<ArchiveEntry>& entries = archive.entries();
  const std::unordered_set<std::string> named(names.begin(), names.end());
  std::vector<bool> drop(entries.size(), false);
  bool anyShownDifferently = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string shown = ShownEntryForm(archive, i);
    if (shown == entries[i].name) continue;
    anyShownDifferently = true;
    if (named.count(shown) != 0) {
      drop[i] = true;
      continue;
    }
    for (const std::string& folder : folders) {
      if (shown.compare(0, folder.size(), folder) == 0) {
        drop[i] = true;
        break;
      }
    }
  }
  if (!anyShownDifferently) drop.clear();
  return drop;
}

}  // namespace tvx::host
