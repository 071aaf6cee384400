// Outcome of an archive operation. The plug-in layer maps each to the host's
// result code; the archive code itself knows nothing of the host. A Status is
// always looked at: dropping one is a compile-time warning.
#ifndef TOLVEX_PACKU_STATUS_H
#define TOLVEX_PACKU_STATUS_H

#include "platform/platform.h"

namespace tvx {

enum class [[nodiscard]] Status {
  kOk,
  kCreateFailed,  // a file or folder could not be created
  kWriteFailed,   // a write, seek or truncation failed or was short (full disk)
  kReadFailed,    // a file could not be opened or read: a file to pack, or the archive itself (a disk error)
  kBadData,       // an entry's bytes are damaged or missing
  kBadArchive,    // the archive's directory or data area is damaged
  kNoMemory,      // zlib could not start or a buffer could not be allocated
  kTooLarge,      // beyond the format's range: entries and archives stay below 2 GiB
  kCancelled,     // the progress report's answer asked to stop
};

// How a read that had to be complete failed, for data of an archive: an early
// end (or bytes that make no sense) is damage, anything else a disk error.
inline Status ArchiveReadStatus(const platform::IoError& error) {
  if (!error.failed()) return Status::kOk;
  const bool damage = error.kind == platform::IoErrorKind::kEnd || error.kind == platform::IoErrorKind::kCorrupt;
  return damage ? Status::kBadArchive : Status::kReadFailed;
}

}  // namespace tvx

#endif
