#include "TolvexU/archive_target.h"

#include <memory>
#include <string>

#include "commonsU/path_text.h"
#include "platform/platform.h"
#include "streams/copy_stream.h"
#include "streams/file_stream.h"

namespace tvx::host {
namespace {

TargetPath TemporaryTarget(DriveQueries& drives) {
  return TargetPath{drives.CreateTempFile(drives.TempDirectory(), "tvx"), true};
}

// Copies the whole of source over destination (created or emptied), on disk
// before it may replace anything.
bool CopyFileContents(const std::string& source, const std::string& destination) {
  std::unique_ptr<FileStream> in = OpenReadFileStream(source);
  if (!in->IsOpen()) return false;
  std::unique_ptr<FileStream> out = CreateWriteFileStream(destination);
  if (!out->IsOpen()) return false;
  const uint32_t size = in->Size();
  return CopyStream(*out, *in, size).Complete(size) && out->Flush();
}

// A name beside packedFile that nothing uses yet, for the copy.
std::string FreeNameBeside(DriveQueries& drives, const std::string& packedFile) {
  std::string name = packedFile + ".tvxnew";
  for (int n = 2; n < 1000 && drives.NameTaken(name); ++n) name = packedFile + ".tvxnew" + std::to_string(n);
  return drives.NameTaken(name) ? std::string() : name;
}

}  // namespace

TargetPath ChooseTargetPath(DriveQueries& drives, const std::string& packedFile, uint64_t needed) {
  const std::string root = drives.DriveRoot(packedFile);
  if (drives.SameDrive(drives.TempDirectory(), packedFile)) return TemporaryTarget(drives);
  if (drives.IsRemovableDrive(root)) return TemporaryTarget(drives);
  if (!HasFreeSpace(drives, root, needed)) return TemporaryTarget(drives);
  const std::string side = ReplaceExtension(packedFile, "___");
  if (drives.NameTaken(side)) return TemporaryTarget(drives);
  return TargetPath{side, false};
}

Status ReplaceArchiveFile(DriveQueries& drives, const std::string& packedFile, const std::string& target) {
  if (drives.SameDrive(packedFile, target)) {
    if (platform::MoveReplacing(target, packedFile)) return Status::kOk;
    // The old archive is intact: nothing is lost by dropping the new one.
    platform::RemoveFile(target);
    return Status::kWriteFailed;
  }
  const int64_t size = platform::FileSize64(target);
  const std::string beside = FreeNameBeside(drives, packedFile);
  if (!beside.empty() && size >= 0 && HasFreeSpace(drives, drives.DriveRoot(packedFile), static_cast<uint64_t>(size))) {
    if (CopyFileContents(target, beside) && platform::MoveReplacing(beside, packedFile)) {
      platform::RemoveFile(target);
      return Status::kOk;
    }
    // The old archive is intact; the finished new one stays at target.
    platform::RemoveFile(beside);
    return Status::kWriteFailed;
  }
  // No room (or no free name) for a copy beside the archive: overwrite it. Should this fail,
  // the archive is incomplete, and target keeps the only complete copy.
  if (!CopyFileContents(target, packedFile)) return Status::kWriteFailed;
  platform::RemoveFile(target);
  return Status::kOk;
}

}  // namespace tvx::host
