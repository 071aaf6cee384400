#include "TolvexU/archive_update.h"

#include <optional>
#include <string>

#include "TolvexU/archive_target.h"
#include "TolvexU/progress.h"
#include "TolvexU/result_codes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"

namespace tvx::host {

int OpenExistingArchive(platform::System& system, const std::string& path, std::unique_ptr<Archive>& archive) {
  archive = Archive::NewArchive(system, path);
  return ToHostCode(archive->result());
}

int WriteAndReplace(platform::System& system, const std::string& packedFile, std::unique_ptr<Archive> old,
                    RebuildPlan plan, uint64_t needed, HostProgress::KeptCopy keptCopy) {
  const bool creating = !old;
  TargetPath target;
  if (!creating) {
    target = ChooseTargetPath(system, packedFile, needed);
  } else {
    // Never a partial file under the final name: written beside, then renamed.
    const std::optional<std::string> beside = FreeNameBeside(system, packedFile);
    if (!beside) return E_ECREATE;
    target.path = *beside;
  }
  if (target.failed()) return E_ECREATE;
  // A temporary file is made already; any other name is taken by the rebuild.
  UnfinishedFile unfinished(system, target.temporaryFile ? &target.path : nullptr);
  if (!HasFreeSpace(system, system.DriveRoot(target.path), needed)) return E_ECREATE;

  unfinished.Guard(target.path);
  HostProgress progress(keptCopy);
  plan.progress = &progress;
  const Status status = RebuildArchive(system, target.path, plan, nullptr);
  old.reset();  // closes the old archive: only now may it be replaced
  if (status != Status::kOk) return ToHostCode(status);
  if (creating) {
    if (!system.MoveReplacing(target.path, packedFile)) return E_ECREATE;
    unfinished.Release();
    return E_SUCCESS;
  }
  // The new archive is as private as the old one, from before it takes its
  // place (a copy across drives is made anew, so it is set there once more).
  const uint32_t mode = system.FileAccessMode(packedFile);
  system.SetFileAccessMode(target.path, mode);
  const int replaced = ToHostCode(ReplaceArchiveFile(system, packedFile, target.path, &unfinished));
  // Gone, or kept on purpose as ReplaceArchiveFile says.
  unfinished.Release();
  if (replaced == E_SUCCESS) system.SetFileAccessMode(packedFile, mode);
  return replaced;
}

}  // namespace tvx::host
