// What `add` sends to the module: the files and folders below the given
// paths, named relative to the folder that holds them, as the file manager
// sends a selection.
#ifndef TOLVEX_CLI_SOURCE_WALK_H
#define TOLVEX_CLI_SOURCE_WALK_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "file_checks.h"
#include "host_dialect.h"

namespace tvx::cli {

// The format keeps sizes in 31 bits: a file must stay below 2 GiB.
constexpr int64_t kFormatSizeLimit = int64_t{1} << 31;

struct SourceItem {
  std::string full;      // the path on disk
  std::string relative;  // '/' between components, no trailing separator
  bool directory = false;
  int64_t size = 0;
  size_t group = 0;  // index into SourceSet::roots
  int64_t modified = 0;  // PathLook::modified, as seen before packing
};

struct SourceSet {
  std::string root;                // roots.front()
  std::vector<std::string> roots;  // one folder per group, ending in the platform's separator
  std::vector<SourceItem> items;   // folders before what they hold, groups in the order given
  std::vector<std::string> tooLarge;   // files of kFormatSizeLimit or more
  std::vector<std::string> leftOut;    // what cannot be packed, and why: the add is incomplete
  std::vector<std::string> notes;      // things skipped on purpose, worth telling
  std::string error;                   // set when nothing can be packed
};

// Walks paths (files or folders) recursively. Paths that lie in one folder
// form one group (one PackFiles call); each path's last component is the top
// of its names. Two paths giving the same top name are an error. The archive
// itself is left out when it lies among them; unreadable files, broken links,
// links to folders and special files are left out with a reason.
SourceSet CollectSources(const HostDialect& d, const std::vector<std::string>& paths,
                         const std::string& archive);

// Items that lie side by side, seen where they are (no copies).
class SourceRange {
 public:
  SourceRange(const SourceItem* first, const SourceItem* last) : first_(first), last_(last) {}
  SourceRange(const std::vector<SourceItem>& items)  // NOLINT: any list of items is one
      : first_(items.data()), last_(items.data() + items.size()) {}
  const SourceItem* begin() const { return first_; }
  const SourceItem* end() const { return last_; }
  bool empty() const { return first_ == last_; }

 private:
  const SourceItem* first_;
  const SourceItem* last_;
};

// The items of one group.
SourceRange GroupItems(const SourceSet& set, size_t group);

// The length of the name the file manager is shown for item packed below
// subPath (empty for the archive's top): separators, the leading one of
// the Windows dialect and a folder's trailing one included.
size_t HostNameLength(const HostDialect& d, const std::string& subPath, const SourceItem& item);
// The longest name the file manager can show (its FileName holds 260 bytes).
constexpr size_t kHostNameLimit = 259;

// The AddList: each name NUL-terminated, folders with a trailing separator,
// the list closed by one more NUL.
std::string BuildAddList(const HostDialect& d, SourceRange items);

// The SubPath for --into FOLDER: the dialect's separators, none leading or
// trailing. Sets error for a name that climbs out ("..").
std::string SubPathFromInto(const HostDialect& d, const std::string& into, std::string& error);

// After a move: removes the source folders that are empty now, deepest first.
void RemoveEmptiedFolders(const std::vector<SourceItem>& items);

int64_t TotalSize(SourceRange items);

}  // namespace tvx::cli

#endif
