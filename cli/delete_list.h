// Turns the names given to `delete` into the module's DeleteList.
#ifndef TOLVEX_CLI_DELETE_LIST_H
#define TOLVEX_CLI_DELETE_LIST_H

#include <string>
#include <vector>

#include "archive_reader.h"
#include "host_dialect.h"

namespace tvx::cli {

struct DeletePlan {
  std::string list;                    // NUL-terminated items, closed by one more NUL
  int count = 0;                       // items in list
  std::vector<std::string> unmatched;  // names that match no entry
  std::vector<std::string> ambiguous;  // AmbiguityText of names several entries could be meant by
};

// A folder (a name ending in a separator, naming a folder entry, or having
// entries below it) becomes "FOLDER/*.*" in the dialect's separators; a file
// is sent by its name as the archive spells it (ArchiveSpellings).
DeletePlan PlanDelete(const HostDialect& d, const std::vector<ArchiveEntry>& entries,
                      const std::vector<std::string>& names);

}  // namespace tvx::cli

#endif
