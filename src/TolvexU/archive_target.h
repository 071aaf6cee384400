// Where a changed archive is written, and how it then takes the old one's place.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_TARGET_H
#define TOLVEX_TOLVEXU_ARCHIVE_TARGET_H

#include <cstdint>
#include <optional>
#include <string>

#include "packU/status.h"
#include "platform/platform.h"

namespace tvx::host {

// Strictly more free bytes than count on the volume of root; equal is not enough.
bool HasFreeSpace(platform::System& system, const std::string& root, uint64_t count);

// Creates path empty, never through a link and never over anything: true
// when this call now owns the name. replacing: owner-only, for a file that is
// to take the place of one that may be private.
bool ClaimName(platform::System& system, const std::string& path, bool replacing = false);

// Whether anything (a file or a folder) has this name.
bool NameTaken(platform::System& system, const std::string& path);

struct TargetPath {
  std::string path;            // empty when failed()
  bool temporaryFile = false;  // made empty by this call (temporary folder or beside); removed on every failure
  platform::IoError error;     // why no temporary file could be made
  bool failed() const { return error.failed(); }
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
TargetPath ChooseTargetPath(platform::System& system, const std::string& packedFile, uint64_t needed);

// A free name beside packedFile (in its folder) under which a new archive, or
// the copy of one from another drive, is written before it is renamed into
// place. The first choice is always exactly `<packedFile>.tvxnew`: the
// command-line host removes that name after an interrupted call when it did
// not exist before. When it is taken: `<packedFile>.tvxnew2`, 3, ... When the
// long name does not fit (Windows MAX_PATH, a component of more than 255
// characters): `tvx<N>.tvxnew` in the same folder. Nothing when no name is free.
std::optional<std::string> FreeNameBeside(platform::System& system, const std::string& packedFile);

// Removes a file on the way out unless released: an allocation failure that
// unwinds through writing or replacing an archive (the exports turn it into
// E_NO_MEMORY) leaves no file of it behind, as a failed write does. It keeps
// the caller's path, not a copy: guarding allocates nothing.
class UnfinishedFile {
 public:
  explicit UnfinishedFile(platform::System& system, const std::string* path = nullptr)
      : system_(system), path_(path) {}
  ~UnfinishedFile() {
    if (path_ != nullptr) system_.RemoveFile(*path_);
  }
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;
  void Guard(const std::string& path) { path_ = &path; }
  void Release() { path_ = nullptr; }

 private:
  platform::System& system_;
  const std::string* path_;
};

// Puts the finished archive at target in packedFile's place. On the same
// drive by one atomic rename; should that fail, packedFile is unchanged and
// target is deleted. When the system reports the two names on different
// volumes after all (a bind mount, a junction, a folder mounted below the
// drive), it goes on as across drives. Across drives the target is copied in
// bounded pieces to a free name beside the archive, which is then renamed
// onto it. Only when the archive's volume has no room (or no free name) for
// that copy is the archive overwritten in place, and only when the volume
// holds the whole new archive once the old one is emptied (free bytes + old
// size >= new size); otherwise kWriteFailed, target deleted and packedFile
// byte for byte as it was. On success target is gone. Any other failure
// across drives (kWriteFailed) keeps target, the finished new archive;
// packedFile is then unchanged, or incomplete when the in-place overwrite
// itself failed. unfinished, when given, guards target and is released once
// the in-place overwrite begins: from then on target may be the only complete
// copy.
Status ReplaceArchiveFile(platform::System& system, const std::string& packedFile, const std::string& target,
                          UnfinishedFile* unfinished = nullptr);

}  // namespace tvx::host

#endif
