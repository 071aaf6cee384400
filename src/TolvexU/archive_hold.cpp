#include "TolvexU/archive_hold.h"

#include "iwcxhead/wcxhead.h"

namespace tvx::host {
namespace {

// This thread's updates in progress, innermost first. A lock of its own would
// not tell: flock would block on it, and a mutex would let it in again.
thread_local const ArchiveHold* tInnermost = nullptr;

}  // namespace

ArchiveHold::~ArchiveHold() {
  if (listed_) tInnermost = outer_;
  lock_.reset();  // released last: the new archive is in place by now
}

int ArchiveHold::Take(platform::System& system, const std::string& path) {
  identity_ = system.FileIdentityOf(path);
  for (const ArchiveHold* held = tInnermost; held != nullptr; held = held->outer_) {
    if (held->identity_.SameFileAs(identity_)) return E_EWRITE;
  }
  platform::UpdateLock::Outcome outcome = platform::UpdateLock::Outcome::kUnavailable;
  lock_ = system.LockForUpdate(path, kUpdateWaitMilliseconds, &outcome);
  return Finish(system, path, outcome, false);
}

// Re-entry shows only once held (what is held is the lock's to say): the
// lock a call of this thread holds is met again at once on Windows, and on
// POSIX after the wait.
int ArchiveHold::TakeName(platform::System& system, const std::string& path) {
  platform::UpdateLock::Outcome outcome = platform::UpdateLock::Outcome::kUnavailable;
  lock_ = system.LockNameForCreation(path, kUpdateWaitMilliseconds, &outcome);
  return Finish(system, path, outcome, true);
}

int ArchiveHold::Finish(platform::System& system, const std::string& path, platform::UpdateLock::Outcome outcome,
                        bool name) {
  if (outcome == platform::UpdateLock::Outcome::kBusy) return E_EWRITE;
  // Read after the lock is held, as the previous holder left the file.
  identity_ = lock_->held() ? lock_->identity() : (name ? platform::FileIdentity{} : system.FileIdentityOf(path));
  for (const ArchiveHold* held = tInnermost; held != nullptr; held = held->outer_) {
    if (held->identity_.SameFileAs(identity_)) {
      lock_.reset();
      return E_EWRITE;
    }
  }
  outer_ = tInnermost;
  tInnermost = this;
  listed_ = true;
  return E_SUCCESS;
}

bool ArchiveHold::Unchanged(platform::System& system, const std::string& path) const {
  return identity_.exists() && system.FileIdentityOf(path) == identity_;
}

}  // namespace tvx::host
