// Entry names as the host sees them.
#ifndef TOLVEX_PACKU_ENTRY_NAME_H
#define TOLVEX_PACKU_ENTRY_NAME_H

#include <string>
#include <vector>

namespace tvx {

// Every '/' becomes separator; with leadingSeparator one separator goes in
// front: docs/a.txt -> \docs\a.txt.
std::string EntryHostName(const std::string& name, bool leadingSeparator, char separator = '\\');

// Rules for turning a stored name into one that is safe to join to a
// destination folder.
struct NameSafetyRules {
  // Also treat '\' and ':' as separators and drop a drive prefix ("C:");
  // replace control characters and < > " | ? * (not valid in Windows names)
  // with '_'; put '_' before a device name ("CON", "com1.txt") and after a
  // trailing dot or space.
  bool windows = false;
};

// The name with every component that could lead outside a destination folder
// removed: ".", "..", empty components (and so leading separators), and on
// Windows a drive prefix. NUL bytes (and on Windows every control character
// and every character Windows forbids in names) become '_'. Separators become '/', a directory keeps its trailing
// '/'. A name that ends up empty becomes "_" ("_/" for a directory). Names the
// plug-in writes itself come back unchanged.
std::string SafeEntryName(const std::string& name, const NameSafetyRules& rules);
// True when SafeEntryName(name, rules) is name itself, found without a copy.
bool AlreadySafe(const std::string& name, const NameSafetyRules& rules);

// Cuts a name to at most maxBytes bytes, at a separator when one lies in the
// second half of the allowed length, so that a whole component is dropped
// rather than a part of one.
std::string TruncateName(const std::string& name, size_t maxBytes, char separator);

// The name a new entry gets from name (in entry form: '/' separators, a
// folder's trailing '/'): empty and "." components dropped, "./a//b" -> "a/b",
// "x/./" -> "x/"; empty when nothing is left. False for a ".." component: a
// new entry never climbs above the archive's root.
bool NormalEntryName(const std::string& name, std::string& normal);

// What two entry names share exactly when they name one entry: the name
// itself, or with caseBlind (where the file system takes names that differ
// only in ASCII case for one) the name in lower case.
std::string EntryMatchKey(const std::string& name, bool caseBlind);

// True when the new entries (normal names) and the old ones (as they are
// extracted) cannot stand side by side: two new names of one entry, or a new
// file where a new or old entry is a folder of that name or lies in one, or a
// new folder where an old entry is a file of that name. A new entry that
// replaces an old one of its name and kind is no clash.
bool NamesClash(const std::vector<std::string>& newNames, const std::vector<std::string>& oldNames,
                bool caseBlind);

}  // namespace tvx

#endif
