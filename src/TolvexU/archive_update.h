// The steps that packing and deleting share.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_UPDATE_H
#define TOLVEX_TOLVEXU_ARCHIVE_UPDATE_H

#include <cstdint>
#include <memory>
#include <string>

#include "packU/archive.h"
#include "TolvexU/progress.h"
#include "packU/rebuild.h"

namespace tvx::host {

// Opens the existing archive at path: 0 and archive set, or E_UNKNOWN_FORMAT
// for a file of another format, E_BAD_ARCHIVE for a damaged directory,
// E_EREAD when the file could not be read.
int OpenExistingArchive(platform::System& system, const std::string& path, std::unique_ptr<Archive>& archive);

// Writes the archive that plan describes and puts it at packedFile. With an
// old archive (plan.oldArchive, owned by `old`) the new one is written to the
// place ChooseTargetPath picks and then replaces it; without one it is written
// under FreeNameBeside(packedFile) and renamed to packedFile once complete. `needed` is the free space asked for. The old
// archive is closed before the replacement. Every failure removes what it
// wrote except a finished archive whose replacement failed; the host's
// Cancel too (E_EABORTED). keptCopy: how copying kept entries is reported.
int WriteAndReplace(platform::System& system, const std::string& packedFile, std::unique_ptr<Archive> old,
                    RebuildPlan plan, uint64_t needed,
                    HostProgress::KeptCopy keptCopy = HostProgress::KeptCopy::kBesideAdditions);

}  // namespace tvx::host

#endif
