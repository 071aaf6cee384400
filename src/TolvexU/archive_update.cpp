#include "TolvexU/archive_update.h"

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
  explicit UnfinishedFile(const std::string& path) : path_(path) {}
  ~UnfinishedFile() {
    if (!path_.empty()) platform::RemoveFile(path_);
  }
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace

int OpenExistingArchive(const std::string& path, std::unique_ptr<Archive>& archive) {
  archive = Archive::NewArchive(path);
  if (archive->readFailed()) return E_EREAD;
  if (!archive->valid()) return E_UNKNOWN_FORMAT;
  if (archive->damaged()) return E_BAD_ARCHIVE;
  return E_SUCCESS;
}

int WriteAndReplace(DriveQueries& drives, const std::string& packedFile, std::unique_ptr<Archive> old,
                    const RebuildPlan& plan, uint64_t needed) {
  const bool creating = !old;
  TargetPath target;
  if (!creating) {
    target = ChooseTargetPath(drives, packedFile, needed);
  } else {
    // Never a partial file under the final name: written beside, then renamed.
    target.path = FreeNameBeside(drives, packedFile);
  }
  if (target.path.empty()) return E_ECREATE;
  if (!HasFreeSpace(drives, drives.DriveRoot(target.path), needed)) {
    if (target.temporaryFile) platform::RemoveFile(target.path);
    return E_ECREATE;
  }

  UnfinishedFile unfinished(target.path);
  const Status status = RebuildArchive(target.path, plan, [](const ArchiveEntry& entry) { ReportProgress(entry); });
  unfinished.Release();
  old.reset();  // closes the old archive: only now may it be replaced
  if (status != Status::kOk) {
    platform::RemoveFile(target.path);
    return ToHostCode(status);
  }
  if (creating) {
    if (platform::MoveReplacing(target.path, packedFile)) return E_SUCCESS;
    platform::RemoveFile(target.path);
    return E_ECREATE;
  }
  // The new archive is as private as the old one, from before it takes its
  // place (a copy across drives is made anew, so it is set there once more).
  const uint32_t mode = platform::FileAccessMode(packedFile);
  platform::SetFileAccessMode(target.path, mode);
  const int replaced = ToHostCode(ReplaceArchiveFile(drives, packedFile, target.path));
  if (replaced == E_SUCCESS) platform::SetFileAccessMode(packedFile, mode);
  return replaced;
}

}  // namespace tvx::host
