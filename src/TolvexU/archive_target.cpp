#include "TolvexU/archive_target.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "commonsU/path_text.h"
#include "platform/platform.h"
#include "streams/copy_stream.h"
#include "streams/file_stream.h"

namespace tvx::host {
namespace {

TargetPath TemporaryTarget(platform::System& system) {
  platform::PathResult made = system.CreateTempFile(system.TempDirectory(), "tvx");
  return TargetPath{std::move(made.path), !made.failed(), made.error};
}

// Copies the whole of source over destination, on disk before it may replace
// anything; destination is opened only once source is. With made, it is
// created new and owner-only (*made tells whether it was), so a name taken
// since it was found free (a link planted there) is neither written through
// nor removed; without, it is emptied, but never through a link.
bool CopyFileContents(platform::System& system, const std::string& source, const std::string& destination,
                      bool* made) {
  std::unique_ptr<FileStream> in = OpenReadFileStream(system, source);
  if (!in->IsOpen()) return false;
  std::unique_ptr<FileStream> out = made != nullptr ? CreateNewWriteFileStream(system, destination, true)
                                                    : CreateWriteFileStream(system, destination);
  if (!out->IsOpen()) return false;
  if (made != nullptr) *made = true;
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

// Free, and no link either: a dangling link looks free, but whatever is
// written to it lands where it leads.
bool Usable(platform::System& system, const std::string& name) {
  return system.PathFits(name) && !NameTaken(system, name) && !system.IsSymbolicLink(name);
}

}  // namespace

bool HasFreeSpace(platform::System& system, const std::string& root, uint64_t count) {
  const int64_t free = system.VolumeFreeBytes(root);
  return free > 0 && static_cast<uint64_t>(free) > count;
}

bool ClaimName(platform::System& system, const std::string& path, bool replacing) {
  return CreateNewWriteFileStream(system, path, replacing)->IsOpen();
}

bool NameTaken(platform::System& system, const std::string& path) {
  return system.FileExists(path) || system.DirectoryExists(path);
}

std::optional<std::string> FreeNameBeside(platform::System& system, const std::string& packedFile) {
  const std::string first = packedFile + ".tvxnew";
  if (Usable(system, first)) return first;
  if (system.PathFits(first)) {
    for (int n = 2; n < 1000; ++n) {
      const std::string name = first + std::to_string(n);
      if (Usable(system, name)) return name;
    }
  }
  // Too long with the suffix: a short name in the same folder.
  const std::string folder = FolderOf(packedFile);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = folder + "tvx" + std::to_string(n) + ".tvxnew";
    if (Usable(system, name)) return name;
  }
  return std::nullopt;
}

TargetPath ChooseTargetPath(platform::System& system, const std::string& packedFile, uint64_t needed) {
  const std::string root = system.DriveRoot(packedFile);
  if (system.SameDrive(system.TempDirectory(), packedFile)) return TemporaryTarget(system);
  if (system.IsRemovableDrive(root)) return TemporaryTarget(system);
  if (!HasFreeSpace(system, root, needed)) return TemporaryTarget(system);
  const std::string side = ReplaceExtension(packedFile, "___");
  // Taken by this call alone: another update (of "a.tv2", say) or a link in
  // its place makes the temporary folder the target instead.
  if (ClaimName(system, side, true)) return TargetPath{side, true, platform::IoError()};
  if (!Usable(system, side)) return TemporaryTarget(system);
  // Not taken, yet not made (a folder that refuses, say): the rebuild's own
  // open says why, before anything is written.
  return TargetPath{side, false, platform::IoError()};
}

Status ReplaceArchiveFile(platform::System& system, const std::string& packedFile, const std::string& target,
                          UnfinishedFile* unfinished) {
  if (system.SameDrive(packedFile, target)) {
    const platform::MoveOutcome moved = system.MoveReplacing(target, packedFile);
    if (moved == platform::MoveOutcome::kMoved) return Status::kOk;
    if (moved == platform::MoveOutcome::kFailed) {
      // The old archive is intact: nothing is lost by dropping the new one.
      system.RemoveFile(target);
      return Status::kWriteFailed;
    }
    // Another volume behind the same drive: copied as across system.
  }
  const int64_t size = system.FileSize64(target);
  const std::string root = system.DriveRoot(packedFile);
  const std::optional<std::string> beside = FreeNameBeside(system, packedFile);
  if (beside && size >= 0 && HasFreeSpace(system, root, static_cast<uint64_t>(size))) {
    UnfinishedFile copy(system, &*beside);
    bool made = false;
    const bool copied = CopyFileContents(system, target, *beside, &made);
    // Complete: now it may be as open as the new archive.
    if (copied) system.SetFileAccessMode(*beside, system.FileAccessMode(target));
    if (copied && system.MoveReplacing(*beside, packedFile) == platform::MoveOutcome::kMoved) {
      copy.Release();
      system.RemoveFile(target);
      return Status::kOk;
    }
    // The old archive is intact; the finished new one stays at target.
    if (!made) copy.Release();
    return Status::kWriteFailed;
  }
  // No room (or no free name) for a copy beside the archive: overwrite it, but
  // only when the whole new archive fits once the old one is emptied. A cut
  // archive would be worse than a refused change.
  const int64_t oldSize = system.FileSize64(packedFile);
  const int64_t free = system.VolumeFreeBytes(root);
  if (size < 0 || oldSize < 0 || free < 0 || free > INT64_MAX - oldSize || free + oldSize < size) {
    system.RemoveFile(target);
    return Status::kWriteFailed;
  }
  // Should this fail, the archive is incomplete, and target keeps the only complete copy.
  if (unfinished != nullptr) unfinished->Release();
  if (!CopyFileContents(system, target, packedFile, nullptr)) return Status::kWriteFailed;
  system.RemoveFile(target);
  return Status::kOk;
}

}  // namespace tvx::host
