#include "name_clash.h"

#include <unordered_set>

namespace tvx::cli {
namespace {

// Where each folder above the entry ends in key, and for a folder entry
// where the entry itself ends: "a/b/c" -> 1, 3.
std::vector<size_t> FolderEnds(const std::string& key, bool directory) {
  std::vector<size_t> ends;
  for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
    ends.push_back(slash);
  }
  if (directory) ends.push_back(key.size());
  return ends;
}

}  // namespace

std::string NameClashWithArchive(const HostDialect& d, const std::vector<ArchiveEntry>& existing,
                                 const std::string& subPath, const std::vector<SourceItem>& items) {
  // By MatchKey: the archive's files, and its folders (with every one above an entry).
  std::unordered_set<std::string> files;
  std::unordered_set<std::string> folders;
  for (const ArchiveEntry& entry : existing) {
    const std::string key = MatchKey(d, entry.key);
    if (!entry.directory) files.insert(key);
    for (size_t end : FolderEnds(key, entry.directory)) folders.insert(key.substr(0, end));
  }
  for (const SourceItem& item : items) {
    const std::string key = CanonicalKey(d, subPath.empty() ? item.relative : subPath + d.separator + item.relative);
    const std::string match = MatchKey(d, key);
    if (!item.directory && folders.count(match) != 0) {
      return "a folder of that name is in the archive: " + ToHostForm(d, key);
    }
    for (size_t end : FolderEnds(match, item.directory)) {
      if (files.count(match.substr(0, end)) != 0) {
        return "a file of that name is in the archive: " + ToHostForm(d, key.substr(0, end));
      }
    }
  }
  return std::string();
}

}  // namespace tvx::cli
