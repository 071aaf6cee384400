// Where a changed archive is written, and how it then takes the old one's place.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_TARGET_H
#define TOLVEX_TOLVEXU_ARCHIVE_TARGET_H

#include <cstdint>
#include <string>

#include "TolvexU/drive_queries.h"
#include "packU/status.h"

namespace tvx::host {

struct TargetPath {
  std::string path;  // "" when no temporary file could be made
  bool temporaryFile = false;  // made empty in the temporary folder; remove it on every failure
};

// For an existing archive, the first rule that applies:
//  1. the temporary folder lies on the archive's drive: a new "tvx" file there
//     (a rename will put it in place);
//  2. the archive's drive is removable: a temporary file as in 1;
//  3. the archive's drive has no more than `needed` free bytes: likewise;
//  4. the side file: the archive's path with everything from its last '.'
//     replaced by "___" (D:\data\backup.arc -> D:\data\backup___). When that
//     name is taken already, a temporary file as in 1, so that no file of the
//     user's is overwritten.
TargetPath ChooseTargetPath(DriveQueries& drives, const std::string& packedFile, uint64_t needed);

// Puts the finished archive at target in packedFile's place. On the same
// drive by one atomic rename; should that fail, packedFile is unchanged and
// target is deleted. Across drives the target is copied in bounded pieces to a
// free name beside the archive, which is then renamed onto it; only when the
// archive's volume has no room (or no free name) for that copy is the archive
// overwritten in place. On success target is gone. A failure across drives
// (kWriteFailed) keeps target, the finished new archive; packedFile is then
// unchanged, or incomplete when the in-place overwrite failed.
Status ReplaceArchiveFile(DriveQueries& drives, const std::string& packedFile, const std::string& target);

}  // namespace tvx::host

#endif
