// The NAME|FOLDER operands of extract and delete: which entries they choose.
// Names are looked up in sets, so many names cost no more per entry than one.
#ifndef TOLVEX_CLI_ENTRY_SELECTION_H
#define TOLVEX_CLI_ENTRY_SELECTION_H

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive_reader.h"
#include "host_dialect.h"

namespace tvx::cli {

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

// How the archive spells its entries and the folders above them. Where the
// dialect ignores case, an archive may still hold names that differ only in
// case (written on Linux, or by another tool): a name given as the archive
// spells it always means that one, and a name that differs from it in case
// only when no other spelling could be meant.
class ArchiveSpellings {
 public:
  ArchiveSpellings(const HostDialect& d, const std::vector<ArchiveEntry>& entries);

  struct Found {
    std::string spelling;              // the archive's spelling of key; empty when none or several
    std::vector<std::string> choices;  // the spellings that could be meant, when several
  };
  Found Find(const std::string& key) const;
  // The same for a NAME operand: as given, or, when that names nothing, as
  // `list` shows it (control characters escaped, \x1b), since that is what
  // a user copies.
  Found FindName(const std::string& name) const;

 private:
  const HostDialect& dialect_;
  std::unordered_map<std::string, std::vector<std::string>> byMatchKey_;
};

// Text for a name that several entries could be meant by.
std::string AmbiguityText(const std::string& name, const std::vector<std::string>& choices);

class EntrySelection {
 public:
  // No names: everything is chosen.
  EntrySelection(const HostDialect& d, const std::vector<std::string>& names,
                 const std::vector<ArchiveEntry>& entries);

  // True for an entry (by its key) named, or lying below a folder named.
  bool Chooses(const std::string& key) const;
  // The given names that match no entry at all.
  const std::vector<std::string>& Unmatched() const { return unmatched_; }
  // One text per given name that entries of several spellings could be meant by.
  const std::vector<std::string>& Ambiguous() const { return ambiguous_; }

 private:
  bool everything_ = false;
  std::unordered_set<std::string> chosen_;  // the archive's spellings of the given names
  std::vector<std::string> unmatched_;
  std::vector<std::string> ambiguous_;
};

}  // namespace tvx::cli

#endif
