#include "TolvexU/archive_update.h"

#include <optional>
#include <string>

#include "TolvexU/archive_target.h"
#include "TolvexU/progress.h"
#include "TolvexU/result_codes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"

namespace tvx::host {
namespace {

// Removes the file of a new archive on the way out until released: an
// allocation failure that unwinds through the rebuild (the exports turn it
// into E_NO_MEMORY) leaves no partial archive behind, as a failed write does.
class UnfinishedFile {
 public:
  UnfinishedFile(platform::System& system, const std::string& path) : system_(system), path_(path) {}
  ~UnfinishedFile() {
    if (!path_.empty()) system_.RemoveFile(path_);
  }
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;
  void Release() { path_.clear(); }

 private:
  platform::System& system_;
  std::string path_;
};

}  // namespace

int OpenExistingArchive(platform::System& system, const std::string& path, OldArchive& old) {
  old.hold = std::make_unique<ArchiveHold>();
  const int held = old.hold->Take(system, path);
  if (held != E_SUCCESS) return held;
  old.archive = Archive::NewArchive(system, path);
  const int opened = ToHostCode(old.archive->result());
  if (opened == E_SUCCESS && old.archive->HasSharedData()) return E_BAD_ARCHIVE;
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
                    const RebuildPlan& plan, uint64_t needed) {
  const bool creating = !old.archive;
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
  if (!HasFreeSpace(system, system.DriveRoot(target.path), needed)) {
    if (target.temporaryFile) system.RemoveFile(target.path);
    return E_ECREATE;
  }

  UnfinishedFile unfinished(system, target.path);
  const Status status = RebuildArchive(system, target.path, plan, [](const ArchiveEntry& entry) { ReportProgress(entry); });
  unfinished.Release();
  old.archive.reset();  // closes the old archive: only now may it be replaced
  if (status != Status::kOk) {
    system.RemoveFile(target.path);
    return ToHostCode(status);
  }
  if (creating) {
    // Made meanwhile by a program that does not hold names: never replaced.
    if (system.FileExists(packedFile) || !system.MoveReplacing(target.path, packedFile)) {
      system.RemoveFile(target.path);
      return E_ECREATE;
    }
    return system.SyncFolderOf(packedFile) ? E_SUCCESS : E_EWRITE;
  }
  // Changed by a program that does not hold archives for its updates: its
  // change is not in the new archive, so the new archive must not replace it.
  if (!old.hold->Unchanged(system, packedFile)) {
    system.RemoveFile(target.path);
    return E_EWRITE;
  }
  // The new archive is as private as the old one, from before it takes its
  // place (a copy across drives is made anew, so it is set there once more).
  const uint32_t mode = system.FileAccessMode(packedFile);
  system.SetFileAccessMode(target.path, mode);
  const int replaced = ToHostCode(ReplaceArchiveFile(system, packedFile, target.path));
  if (replaced != E_SUCCESS) return replaced;
  system.SetFileAccessMode(packedFile, mode);
  // A power cut must not keep the deleted sources and lose the rename.
  return system.SyncFolderOf(packedFile) ? E_SUCCESS : E_EWRITE;
}

}  // namespace tvx::host
