// How the host reads names, times and attributes. The Windows file manager
// and the Linux host read the same records differently; this unit holds both
// dialects and the build picks one. Everything else is shared.
#ifndef TOLVEX_TOLVEXU_HOST_DIALECT_H
#define TOLVEX_TOLVEXU_HOST_DIALECT_H

#include <cstdint>
#include <string>

#include "packU/archive_entry.h"

namespace tvx::host {

// The separator in the host's names and lists: '\' on Windows, '/' on Linux.
extern const char kSeparator;
bool IsListSeparator(char c);

// An entry's name as the host is shown it (ReadHeader and progress reports):
// made safe to join to a destination folder, in host form - "\docs\a.txt" on
// Windows, "docs/a.txt" on Linux (whose host shows nothing for names with a
// leading '/').
std::string ReportedName(const ArchiveEntry& entry);

// FileTime: Windows, a DOS date and time of the entry's wall-clock time;
// Linux, a Unix time: that wall-clock time read as local time.
int FileTimeOf(const ArchiveEntry& entry);

// FileAttr: Windows 16 for a folder, 0 otherwise; Linux a Unix mode
// (S_IFDIR | 0755, S_IFREG | 0644).
int FileAttrOf(const ArchiveEntry& entry);

// A name from the host's AddList or DeleteList in entry form ('/' separators).
std::string ListItemToEntryName(const std::string& item);

}  // namespace tvx::host

#endif
