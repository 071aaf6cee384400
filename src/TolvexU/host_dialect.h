// How the host reads names, times and attributes. The Windows file manager
// and the Linux host read the same records differently; this unit holds both
// dialects and the build picks one. Everything else is shared.
#ifndef TOLVEX_TOLVEXU_HOST_DIALECT_H
#define TOLVEX_TOLVEXU_HOST_DIALECT_H

#include <cstdint>
#include <string>
#include <vector>

#include "TolvexU/archive_handle.h"
#include "packU/archive.h"
#include "packU/archive_entry.h"

namespace tvx::host {

// The separator in the host's names and lists: '\' on Windows, '/' on Linux.
extern const char kSeparator;
// IsListSeparatorOf this host: '/' and on Windows '\', never ':'.
bool IsListSeparator(char c);
// True where the host's file system takes names that differ only in case
// for the same name (Windows), so its lists name entries in any case.
extern const bool kCaseBlindNames;

// An entry's name as the host is shown it (ReadHeader and progress reports):
// made safe to join to a destination folder, in host form - "\docs\a.txt" on
// Windows, "docs/a.txt" on Linux (whose host shows nothing for names with a
// leading '/'). A name longer than the host's 259 characters is shortened to
// a name of its own of the same kind: its leading part, "~" and a hash of the
// whole name, and a folder's trailing separator.
std::string ReportedName(const ArchiveEntry& entry);

// ReportedName of the archive's entry at index, which for a shortened name
// also makes sure that no other entry of the archive is shown under it
// (noting what it needs for that in handle.shownNames). ReadHeader uses this.
std::string ShownName(ArchiveHandle& handle, size_t index);

// ShownName as the host names the entry back in its lists, in entry form
// ('/' separators, no leading separator): what DeleteFiles and the replacing
// of PackFiles match besides the stored name.
std::string ShownEntryForm(ArchiveHandle& handle, size_t index);

// True when ShownEntryForm of an entry so named is the name itself, as it is
// for almost every name; found without building that form. False says nothing.
bool ShownAsStored(const std::string& entryName);

// True when the entry name's host form fits the host's FileName unshortened.
bool NameFitsHost(const std::string& entryName);

// FileTime of an entry of archive: Windows, a DOS date and time of the
// entry's wall-clock time (the nearest one for times before 1980); Linux, a
// Unix time: that wall-clock time read as local time. Only this handle's
// state is used, so handles on different threads may ask at the same time.
int FileTimeOf(ArchiveHandle& handle, const ArchiveEntry& entry);

// FileAttr: Windows 16 for a folder, 0 otherwise; Linux a Unix mode
// (S_IFDIR | 0755, S_IFREG | 0644).
int FileAttrOf(const ArchiveEntry& entry);

// A name from the host's AddList or DeleteList in entry form ('/' separators).
std::string ListItemToEntryName(const std::string& item);

}  // namespace tvx::host

#endif
