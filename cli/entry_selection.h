// The NAME|FOLDER operands of extract: which entries they choose. Names are
// looked up in a set, so many names cost no more per entry than one.
#ifndef TOLVEX_CLI_ENTRY_SELECTION_H
#define TOLVEX_CLI_ENTRY_SELECTION_H

#include <string>
#include <unordered_set>
#include <vector>

#include "archive_reader.h"
#include "host_dialect.h"

namespace tvx::cli {

class EntrySelection {
 public:
  // No names: everything is chosen.
  EntrySelection(const HostDialect& d, const std::vector<std::string>& names);

  // True for an entry named, or lying below a folder named.
  bool Chooses(const std::string& key) const;
  // The given names that match no entry at all.
  std::vector<std::string> Unmatched(const std::vector<ArchiveEntry>& entries) const;

 private:
  const HostDialect& dialect_;
  std::vector<std::string> given_;
  std::vector<std::string> keys_;          // MatchKey of each given name
  std::unordered_set<std::string> chosen_;  // the same, for lookups
};

// Calls visit with key and each folder above it ("a/b/c", "a/b", "a"),
// stopping when visit returns true. Returns whether it did.
template <typename Visit>
bool AnyKeyOrFolderAbove(const std::string& key, Visit visit) {
  std::string prefix = key;
  for (;;) {
    if (visit(prefix)) return true;
    const size_t slash = prefix.rfind('/');
    if (slash == std::string::npos) return false;
    prefix.resize(slash);
  }
}

}  // namespace tvx::cli

#endif
