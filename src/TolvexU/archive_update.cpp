#include "TolvexU/archive_update.h"

#include <optional>
#include <string>

#include "TolvexU/archive_target.h"
#include "TolvexU/progress.h"
#include "TolvexU/result_codes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"

namespace tvx::host {

int OpenExistingArchive(platform::System& system, const std::string& path, OldArchive& old) {
  old.hold = std::make_unique<ArchiveHold>();
  const int held = old.hold->Take(system, path);
  if (held != E_SUCCESS) return held;
  old.handle = std::make_unique<ArchiveHandle>(Archive::NewArchive(system, path));
  const int opened = ToHostCode(old.get()->result());
  if (opened == E_SUCCESS && old.get()->HasSharedData()) return E_BAD_ARCHIVE;
  return opened;
}

int HoldForPacking(platform::System& system, const std::string& path, OldArchive& old) {
  if (!system.FileExists(path)) {
    old.hold = std::make_unique<ArchiveHold>();
    const int held = old.hold->TakeName(system, path);
    if (held != E_SUCCESS) return held;
    if (!system.FileExists(path)) return E_SUCCESS;
    old.hold.reset();  // made by the call that held the name before: add to it
  }
  return OpenExistingArchive(system, path, old);
}

int WriteAndReplace(platform::System& system, const std::string& packedFile, OldArchive old,
                    RebuildPlan plan, uint64_t needed, HostProgress::KeptCopy keptCopy) {
  const bool creating = old.get() == nullptr;
  TargetPath target;
  if (!creating) {
    target = ChooseTargetPath(system, packedFile, needed);
  } else {
    // Never a partial file under the final name: written beside, then renamed.
    const std::optional<std::string> beside = FreeNameBeside(system, packedFile);
    if (!beside || !ClaimName(system, *beside)) return E_ECREATE;
    target.path = *beside;
    target.temporaryFile = true;
  }
  if (target.failed()) return E_ECREATE;
  // The target is made already, and removed again on every failure.
  UnfinishedFile unfinished(system, target.temporaryFile ? &target.path : nullptr);
  if (!HasFreeSpace(system, system.DriveRoot(target.path), needed)) return E_ECREATE;

  unfinished.Guard(target.path);
  HostProgress progress(keptCopy);
  plan.progress = &progress;
  const Status status = RebuildArchive(system, target.path, plan, nullptr);
  old.handle.reset();  // closes the old archive: only now may it be replaced
  if (status != Status::kOk) return ToHostCode(status);
  if (creating) {
    // Made meanwhile by a program that does not hold names: never replaced.
    if (!system.MoveToFreeName(target.path, packedFile)) return E_ECREATE;
    unfinished.Release();
    return system.SyncFolderOf(packedFile) ? E_SUCCESS : E_EWRITE;
  }
  // Changed by a program that does not hold archives for its updates: its
  // change is not in the new archive, so the new archive must not replace it.
  if (!old.hold->Unchanged(system, packedFile)) return E_EWRITE;
  // The new archive is as private as the old one, from before it takes its
  // place (a copy across drives is made anew, so it is set there once more).
  const uint32_t mode = system.FileAccessMode(packedFile);
  system.SetFileAccessMode(target.path, mode);
  const int replaced = ToHostCode(ReplaceArchiveFile(system, packedFile, target.path, &unfinished));
  // Gone, or kept on purpose as ReplaceArchiveFile says.
  unfinished.Release();
  if (replaced != E_SUCCESS) return replaced;
  system.SetFileAccessMode(packedFile, mode);
  // A power cut must not keep the deleted sources and lose the rename.
  return system.SyncFolderOf(packedFile) ? E_SUCCESS : E_EWRITE;
}

}  // namespace tvx::host
