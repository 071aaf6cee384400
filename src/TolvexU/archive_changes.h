// The two ways the host changes archives. Each writes a complete new archive
// and then puts it in the old one's place; neither ever edits an archive in
// place, and on every failure the old archive is left as it was. All they ask
// of files and drives goes through the system given.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_CHANGES_H
#define TOLVEX_TOLVEXU_ARCHIVE_CHANGES_H

#include <string>

#include "platform/platform.h"

namespace tvx::host {

struct PackRequest {
  std::string packedFile;  // the archive, created when missing
  std::string subPath;     // folder inside the archive, "" for its root
  std::string srcPath;     // folder the names are relative to
  const char* addList = nullptr;  // the host's double-NUL list; a trailing separator names a folder
  int flags = 0;           // PK_PACK_SAVE_PATHS, PK_PACK_MOVE_FILES
};

// The host's result code: 0; E_UNKNOWN_FORMAT for a file that is no archive;
// E_BAD_ARCHIVE for a damaged one; E_ECREATE when there is no room or the
// archive cannot be created; E_EREAD for a file that cannot be read;
// E_EWRITE when writing or replacing failed; E_NOT_SUPPORTED for a file of
// 2 GiB or more, an archive that would reach 2 GiB, an entry name the host
// could not be shown whole (NameFitsHost), a name with a ".." component, or
// entries that could not all be extracted (NamesClash, entry_name.h);
// E_NO_MEMORY. An entry's name is SubPath and the item (without
// PK_PACK_SAVE_PATHS, the item's file name part), empty and "." components
// dropped. An old entry is replaced when its stored name or the name the host
// was shown is a new entry's name.
// With PK_PACK_MOVE_FILES the packed files are deleted only once the new
// archive is in place.
int PackFilesWith(platform::System& system, const PackRequest& request);

// Removes the listed entries. An item "folder<sep>*.*" removes the folder and
// everything in it; any other item removes the entries of exactly that name,
// stored or as the host was shown it (made safe, or shortened).
// E_EOPEN when the archive does not exist; otherwise as PackFilesWith.
int DeleteFilesWith(platform::System& system, const std::string& packedFile, const char* deleteList);

}  // namespace tvx::host

#endif
