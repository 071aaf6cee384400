// The steps that packing and deleting share.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_UPDATE_H
#define TOLVEX_TOLVEXU_ARCHIVE_UPDATE_H

#include <cstdint>
#include <memory>
#include <string>

#include "TolvexU/archive_handle.h"
#include "TolvexU/archive_hold.h"
#include "packU/archive.h"
#include "TolvexU/progress.h"
#include "packU/rebuild.h"

namespace tvx::host {

// The archive an update changes, read while it is held for that update.
struct OldArchive {
  std::unique_ptr<ArchiveHold> hold;
  std::unique_ptr<ArchiveHandle> handle;  // null while creating
  Archive* get() const { return handle ? handle->archive.get() : nullptr; }
  ArchiveHandle& operator*() const { return *handle; }
};

// Holds and opens the existing archive at path: 0 and old set, or
// E_UNKNOWN_FORMAT for a file of another format, E_BAD_ARCHIVE for a damaged
// directory or entries that share their data (an update would keep the
// damage, or multiply it), E_EREAD when the file could not be read, E_EWRITE
// when another update holds it (ArchiveHold::Take).
int OpenExistingArchive(platform::System& system, const std::string& path, OldArchive& old);

// For packing: the existing archive held and opened as OpenExistingArchive
// does, or, when there is none, its name held (old.handle stays null) so
// that the call may create it. A second call creating the same archive waits
// for the first and then adds to its archive.
int HoldForPacking(platform::System& system, const std::string& path, OldArchive& old);

// Writes the archive that plan describes and puts it at packedFile. With an
// old archive (plan.oldArchive, owned by `old`) the new one is written to the
// place ChooseTargetPath picks and then replaces it; without one it is written
// under FreeNameBeside(packedFile) and renamed to packedFile once complete. `needed` is the free space asked for. The old
// archive is closed before the replacement, which is refused (E_EWRITE) when
// the old file is no longer the one that was read; the hold ends after it.
// The new name is durable (its folder synced) before 0 is answered, so the
// caller may then delete moved files. Every failure removes what it wrote
// except a finished archive whose replacement failed; the host's Cancel too
// (E_EABORTED). keptCopy: how copying kept entries is reported.
int WriteAndReplace(platform::System& system, const std::string& packedFile, OldArchive old,
                    RebuildPlan plan, uint64_t needed,
                    HostProgress::KeptCopy keptCopy = HostProgress::KeptCopy::kBesideAdditions);

}  // namespace tvx::host

#endif
