// An archive held for the one update that reads it, from before it is read
// until the new archive has taken its place: a second update of the same file
// (another window, another process, a script run twice) waits for it and
// then reads the first one's result, so neither change is lost.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_HOLD_H
#define TOLVEX_TOLVEXU_ARCHIVE_HOLD_H

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tvx::host {

// How long a second update waits for the first before it gives up.
constexpr uint32_t kUpdateWaitMilliseconds = 20000;

// Stays where it was made (the thread's updates are listed by address).
class ArchiveHold {
 public:
  ArchiveHold() = default;
  ~ArchiveHold();
  ArchiveHold(const ArchiveHold&) = delete;
  ArchiveHold& operator=(const ArchiveHold&) = delete;

  // 0 when held, and also when the volume cannot lock (the check of
  // Unchanged still guards the replacement there); E_EWRITE when another
  // update kept it for longer than kUpdateWaitMilliseconds, or when this
  // thread is updating it already (a DeleteFiles from inside a PackFiles
  // progress callback: waiting would never end, and going on would undo or
  // be undone by the outer change).
  int Take(platform::System& system, const std::string& path);
  // The same for an archive that does not exist yet: its name is held, so a
  // second call creating it waits, then finds it and updates it instead.
  int TakeName(platform::System& system, const std::string& path);
  // True when path still leads to the file this update read, of the same
  // size and last write: nothing outside the holders changed it meanwhile.
  bool Unchanged(platform::System& system, const std::string& path) const;

 private:
  int Finish(platform::System& system, const std::string& path, platform::UpdateLock::Outcome outcome, bool name);

  std::unique_ptr<platform::SystemLock> lock_;
  platform::FileIdentity identity_;
  const ArchiveHold* outer_ = nullptr;  // the update this thread holds besides, if any
  bool listed_ = false;
};

}  // namespace tvx::host

#endif
