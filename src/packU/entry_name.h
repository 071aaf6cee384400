// Entry names as the host sees them.
#ifndef TOLVEX_PACKU_ENTRY_NAME_H
#define TOLVEX_PACKU_ENTRY_NAME_H

#include <string>

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

// Cuts a name to at most maxBytes bytes, at a separator when one lies in the
// second half of the allowed length, so that a whole component is dropped
// rather than a part of one.
std::string TruncateName(const std::string& name, size_t maxBytes, char separator);

}  // namespace tvx

#endif
