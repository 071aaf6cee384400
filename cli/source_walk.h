// What `add` sends to the module: the files and folders below the given
// paths, named relative to the folder that holds them, as the file manager
// sends a selection.
#ifndef TOLVEX_CLI_SOURCE_WALK_H
#define TOLVEX_CLI_SOURCE_WALK_H

#include <cstdint>
#include <string>
#include <vector>

#include "host_dialect.h"

namespace tvx::cli {

// The format keeps sizes in 31 bits: a file must stay below 2 GiB.
constexpr int64_t kFormatSizeLimit = int64_t{1} << 31;

struct SourceItem {
  std::string full;      // the path on disk
  std::string relative;  // '/' between components, no trailing separator
  bool directory = false;
  int64_t size = 0;
};

struct SourceSet {
  std::string root;  // the common folder, ending in the platform's separator
  std::vector<SourceItem> items;  // folders before what they hold
  std::vector<std::string> too_large;  // files of kFormatSizeLimit or more
  std::vector<std::string> notes;      // things skipped, worth telling
  std::string error;                   // set when nothing can be packed
};

// Walks paths (files or folders) recursively. All must lie in one folder.
// The archive itself is left out when it lies among them.
SourceSet CollectSources(const HostDialect& d, const std::vector<std::string>& paths,
                         const std::string& archive);

// The AddList: each name NUL-terminated, folders with a trailing separator,
// the list closed by one more NUL.
std::string BuildAddList(const HostDialect& d, const std::vector<SourceItem>& items);

// The SubPath for --into FOLDER: the dialect's separators, none leading or
// trailing. Sets error for a name that climbs out ("..").
std::string SubPathFromInto(const HostDialect& d, const std::string& into, std::string& error);

// After a move: removes the source folders that are empty now, deepest first.
void RemoveEmptiedFolders(const std::vector<SourceItem>& items);

int64_t TotalSize(const std::vector<SourceItem>& items);

}  // namespace tvx::cli

#endif
