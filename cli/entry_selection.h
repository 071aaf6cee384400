// The NAME|FOLDER operands of extract: which entries they choose.
#ifndef TOLVEX_CLI_ENTRY_SELECTION_H
#define TOLVEX_CLI_ENTRY_SELECTION_H

#include <string>
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
  std::vector<std::string> keys_;
};

}  // namespace tvx::cli

#endif
