#include "TolvexU/archive_target.h"

#include <cstdint>
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

// The folder part of path, with its separator; "" for a bare name.
std::string FolderOf(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return std::string();
}

bool Usable(DriveQueries& drives, const std::string& name) {
  return platform::PathFits(name) && !drives.NameTaken(name);
}

}  // namespace

std::string FreeNameBeside(DriveQueries& drives, const std::string& packedFile) {
  const std::string first = packedFile + ".tvxnew";
  if (Usable(drives, first)) return first;
  if (platform::PathFits(first)) {
    for (int n = 2; n < 1000; ++n) {
      const std::string name = first + std::to_string(n);
      if (Usable(drives, name)) return name;
    }
  }
  // Too long with the suffix: a short name in the same folder.
  const std::string folder = FolderOf(packedFile);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = folder + "tvx" + std::to_string(n) + ".tvxnew";
    if (Usable(drives, name)) return name;
  }
  return std::string();
}

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
    const platform::MoveOutcome moved = platform::MoveReplacingOnVolume(target, packedFile);
    if (moved == platform::MoveOutcome::kMoved) return Status::kOk;
    if (moved == platform::MoveOutcome::kFailed) {
      // The old archive is intact: nothing is lost by dropping the new one.
      platform::RemoveFile(target);
      return Status::kWriteFailed;
    }
    // Another volume behind the same drive: copied as across drives.
  }
  const int64_t size = platform::FileSize64(target);
  const std::string root = drives.DriveRoot(packedFile);
  const std::string beside = FreeNameBeside(drives, packedFile);
  if (!beside.empty() && size >= 0 && HasFreeSpace(drives, root, static_cast<uint64_t>(size))) {
    if (CopyFileContents(target, beside) && platform::MoveReplacing(beside, packedFile)) {
      platform::RemoveFile(target);
      return Status::kOk;
    }
    // The old archive is intact; the finished new one stays at target.
    platform::RemoveFile(beside);
    return Status::kWriteFailed;
  }
  // No room (or no free name) for a copy beside the archive: overwrite it, but
  // only when the whole new archive fits once the old one is emptied. A cut
  // archive would be worse than a refused change.
  const int64_t oldSize = platform::FileSize64(packedFile);
  const int64_t free = drives.VolumeFreeBytes(root);
  if (size < 0 || oldSize < 0 || free < 0 || free > INT64_MAX - oldSize || free + oldSize < size) {
    platform::RemoveFile(target);
    return Status::kWriteFailed;
  }
  // Should this fail, the archive is incomplete, and target keeps the only complete copy.
  if (!CopyFileContents(target, packedFile)) return Status::kWriteFailed;
  platform::RemoveFile(target);
  return Status::kOk;
}

}  // namespace tvx::host
