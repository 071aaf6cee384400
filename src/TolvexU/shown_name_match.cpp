#include "TolvexU/shown_name_match.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "TolvexU/host_dialect.h"

namespace tvx::host {
namespace {

// ASCII letters folded: the letters every code page shares.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace

std::vector<bool> EntriesNamedAsShown(ArchiveHandle& handle, const std::vector<std::string>& names,
                                      const std::vector<std::string>& folders) {
  const std::vector<ArchiveEntry>& entries = handle.archive->entries();
  // Views of the caller's names: no copy of each one just to look it up.
  // Made only once an entry is shown differently: usually none is.
  std::unordered_set<std::string_view> named;
  std::vector<bool> drop;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (ShownAsStored(entries[i].name)) continue;
    const std::string shown = ShownEntryForm(handle, i);
    if (shown == entries[i].name) continue;
    if (drop.empty()) {
      drop.assign(entries.size(), false);
      named.insert(names.begin(), names.end());
    }
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
  return drop;
}

void SpellFoldersAsShown(ArchiveHandle& handle, std::vector<NewItem>& additions) {
  if (!kCaseBlindNames || additions.empty()) return;
  // Every folder the archive shows ("docs/", "docs/sub/"), folded, with the
  // spelling it is shown in: the first one met where several are.
  std::unordered_map<std::string, std::string> folders;
  for (size_t i = 0; i < handle.archive->entries().size(); ++i) {
    const std::string shown = ShownEntryForm(handle, i);
    for (size_t slash = shown.find('/'); slash != std::string::npos; slash = shown.find('/', slash + 1)) {
      const std::string folder = shown.substr(0, slash + 1);
      folders.emplace(Folded(folder), folder);
    }
  }
  for (NewItem& addition : additions) {
    std::string& name = addition.entryName;
    // Shorter folders first: "DOCS/SUB/" is looked up as "docs/SUB/" once
    // "DOCS/" has become "docs/".
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      const auto found = folders.find(Folded(name.substr(0, slash + 1)));
      if (found != folders.end()) name.replace(0, slash + 1, found->second);
    }
  }
}

void DropEntriesNamedInAnotherCase(ArchiveHandle& handle, const std::vector<NewItem>& additions,
                                   std::vector<bool>& dropOld) {
  if (!kCaseBlindNames || additions.empty()) return;
  std::unordered_set<std::string> added;
  for (const NewItem& addition : additions) added.insert(Folded(addition.entryName));
  const size_t count = handle.archive->entries().size();
  for (size_t i = 0; i < count; ++i) {
    if (added.count(Folded(ShownEntryForm(handle, i))) == 0) continue;
    dropOld.resize(count, false);
    dropOld[i] = true;
  }
}

}  // namespace tvx::host
