#include "TolvexU/shown_name_match.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "TolvexU/host_dialect.h"
#include "packU/name_table.h"

namespace tvx::host {
namespace {

// ASCII letters folded: the letters every code page shares.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// True when entry i is shown under another name than stored; shown is then
// that name in entry form.
bool ShownOtherwise(ArchiveHandle& handle, size_t i, std::string& shown) {
  const std::string& name = handle.archive->entries()[i].name;
  if (ShownAsStored(name)) return false;
  shown = ShownEntryForm(handle, i);
  return shown != name;
}

// True when name lies in one of folders (each ending in '/').
bool InAnyFolder(const std::string& name, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (name.compare(0, folder.size(), folder) == 0) return true;
  }
  return false;
}

// Hosts name a folder to delete as "folder<sep>*.*".
bool IsFolderItem(std::string_view item) {
  return item.size() >= 4 && item.compare(item.size() - 3, 3, "*.*") == 0 && IsListSeparator(item[item.size() - 4]);
}

// A host's list of names in entry form, read in place: the host's own bytes
// where '/' is its only separator, else one copy with the separators turned.
class ListInEntryForm {
 public:
  explicit ListInEntryForm(const char* list) {
    if (list == nullptr) return;
    size_t size = 0;
    for (; list[size] != '\0'; ++count_) {
      const size_t length = std::strlen(list + size);
      hasFolders_ = hasFolders_ || IsFolderItem(std::string_view(list + size, length));
      size += length + 1;
    }
    text_ = list;
    if (kSeparator != '/') {
      converted_.assign(list, size);
      for (char& c : converted_) {
        if (IsListSeparator(c)) c = '/';
      }
      text_ = converted_.c_str();
    }
  }
  // text_ may point into converted_.
  ListInEntryForm(const ListInEntryForm&) = delete;
  ListInEntryForm& operator=(const ListInEntryForm&) = delete;

  // visit(name, offset) for each name in list order; offset finds it again (At).
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const char* at = text_; *at != '\0';) {
      const std::string_view name(at);
      visit(name, static_cast<uint32_t>(at - text_));
      at += name.size() + 1;
    }
  }

  std::string_view At(uint32_t offset) const { return text_ + offset; }

  // The names listed, folders among them.
  size_t count() const { return count_; }
  bool hasFolders() const { return hasFolders_; }

 private:
  const char* text_ = "";
  size_t count_ = 0;
  bool hasFolders_ = false;
  std::string converted_;
};

}  // namespace

std::vector<bool> EntriesNamedInList(ArchiveHandle& handle, const char* list) {
  const std::vector<ArchiveEntry>& entries = handle.archive->entries();
  const ListInEntryForm items(list);
  std::vector<std::string> folders;  // each ending in '/'
  if (items.hasFolders()) {
    items.ForEach([&](std::string_view item, uint32_t) {
      if (IsFolderItem(item)) folders.emplace_back(item.substr(0, item.size() - 3));
    });
  }
  const auto folderAt = [&folders](uint32_t id) { return std::string_view(folders[id]); };
  NameTable<decltype(folderAt)> folderSet(folders.size(), folderAt);
  for (uint32_t id = 0; id < folders.size(); ++id) folderSet.Insert(folders[id], id);
  const auto inFolder = [&](std::string_view name) {
    if (folders.empty()) return false;
    for (size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', slash + 1)) {
      if (folderSet.Contains(name.substr(0, slash + 1))) return true;
    }
    return false;
  };

  // Hosts list the names in the order they were shown, the archive's: each
  // entry is compared with the name listed after the last one met.
  std::string_view next = items.At(0);
  const auto skipFolders = [&] {
    while (!next.empty() && IsFolderItem(next)) next = next.data() + next.size() + 1;
  };
  skipFolders();
  std::vector<bool> drop(entries.size(), false);
  bool distinct = true;  // the names ascend, so no two entries share one
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].name;
    if (distinct && i > 0 && !(entries[i - 1].name < name)) distinct = false;
    if (!next.empty() && name == next) {
      drop[i] = true;
      next = next.data() + next.size() + 1;
      skipFolders();
    }
  }
  // Each listed name was met, in the order listed, in an archive whose names
  // all differ: no other entry bears one of them. Otherwise, and for the names
  // shown otherwise than stored, the listed names are looked up in a table,
  // made when first needed.
  const bool allMet = next.empty() && distinct;
  const auto nameAt = [&items](uint32_t offset) { return items.At(offset); };
  std::optional<NameTable<decltype(nameAt)>> table;
  const auto listed = [&](std::string_view name) {
    if (!table) {
      table.emplace(items.count(), nameAt);
      items.ForEach([&](std::string_view item, uint32_t offset) {
        if (!IsFolderItem(item)) table->Insert(item, offset);
      });
    }
    return table->Contains(name);
  };
  std::string shown;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (drop[i]) continue;
    const std::string& name = entries[i].name;
    if ((!allMet && listed(name)) || inFolder(name)) {
      drop[i] = true;
      continue;
    }
    // The host names entries as ReadHeader showed them: those shown under
    // another name than stored go too.
    if (ShownOtherwise(handle, i, shown)) drop[i] = listed(shown) || InAnyFolder(shown, folders);
  }
  return drop;
}

std::vector<bool> EntriesNamedAsShown(ArchiveHandle& handle, const std::vector<std::string>& names,
                                      const std::vector<std::string>& folders) {
  const std::vector<ArchiveEntry>& entries = handle.archive->entries();
  // Views of the caller's names: no copy of each one just to look it up.
  // Made only once an entry is shown differently: usually none is.
  std::unordered_set<std::string_view> named;
  std::vector<bool> drop;
  std::string shown;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ShownOtherwise(handle, i, shown)) continue;
    if (drop.empty()) {
      drop.assign(entries.size(), false);
      named.insert(names.begin(), names.end());
    }
    drop[i] = named.count(shown) != 0 || InAnyFolder(shown, folders);
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
