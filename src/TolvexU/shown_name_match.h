// Which old entries the host means when it names entries back: it names them
// as ReadHeader showed them, which differs from the stored name for names made
// safe (an empty name, a leading '/', "..", a drive, a device name) or
// shortened to fit, and on Windows it names them in any case.
#ifndef TOLVEX_TOLVEXU_SHOWN_NAME_MATCH_H
#define TOLVEX_TOLVEXU_SHOWN_NAME_MATCH_H

#include <string>
#include <vector>

#include "TolvexU/archive_handle.h"
#include "packU/rebuild.h"

namespace tvx::host {

// One flag per entry of the handle's archive: set when the entry's shown name (in entry
// form) is one of names, or lies in one of folders (each ending in '/').
// Empty when no shown name differs from its stored name: the stored names
// then say everything.
std::vector<bool> EntriesNamedAsShown(ArchiveHandle& handle, const std::vector<std::string>& names,
                                      const std::vector<std::string>& folders);

// One flag per entry of the handle's archive: set when the host's delete
// list (NUL-terminated names back to back, ended by an empty one; null for
// none) names it, by its stored name or by its shown name (ShownEntryForm):
// an entry of a listed name, or one in a listed folder ("folder<sep>*.*"):
// the folder's own entry and every entry below it.
std::vector<bool> EntriesNamedInList(ArchiveHandle& handle, const char* list);

// Where the host's file system takes names that differ only in case for the
// same name (Windows): each addition's folders take the spelling the archive
// already shows for them ("DOCS/g" joins "docs/"), as a copied folder joins
// the one already there. Elsewhere names stay byte-exact and nothing changes.
void SpellFoldersAsShown(ArchiveHandle& handle, std::vector<NewItem>& additions);

// Where names differ only in case for the same name (Windows): sets the flag
// (see EntriesNamedAsShown; dropOld is sized when empty) of every old entry
// shown under an addition's name in another case, which the addition replaces.
void DropEntriesNamedInAnotherCase(ArchiveHandle& handle, const std::vector<NewItem>& additions,
                                   std::vector<bool>& dropOld);

}  // namespace tvx::host

#endif
