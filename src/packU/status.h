// Outcome of an archive operation. The plug-in layer maps each to the host's
// result code; the archive code itself knows nothing of the host.
#ifndef TOLVEX_PACKU_STATUS_H
#define TOLVEX_PACKU_STATUS_H

namespace tvx {

enum class Status {
  kOk,
  kCreateFailed,  // a file or folder could not be created
  kWriteFailed,   // a write, seek or truncation failed or was short (full disk)
  kReadFailed,    // a file to pack could not be opened or read completely
  kBadData,       // an entry's bytes are damaged or missing
  kBadArchive,    // the archive's directory or data area is damaged
  kNoMemory,      // zlib could not start or a buffer could not be allocated
  kTooLarge,      // beyond the format's range: entries and archives stay below 2 GiB
};

}  // namespace tvx

#endif
