// The host's result code for each outcome of the archive code.
#ifndef TOLVEX_TOLVEXU_RESULT_CODES_H
#define TOLVEX_TOLVEXU_RESULT_CODES_H

#include "packU/archive.h"
#include "packU/status.h"

namespace tvx::host {

// kOk 0, kCreateFailed E_ECREATE, kWriteFailed E_EWRITE, kReadFailed E_EREAD,
// kBadData E_BAD_DATA, kBadArchive E_BAD_ARCHIVE, kNoMemory E_NO_MEMORY,
// kTooLarge E_NOT_SUPPORTED (the format's 2 GiB limit), kCancelled E_EABORTED.
int ToHostCode(Status status);

// Opening an archive: kOk 0, kNotThisFormat E_UNKNOWN_FORMAT, kDamaged
// E_BAD_ARCHIVE, kReadFailed E_EREAD.
int ToHostCode(Archive::OpenResult result);

}  // namespace tvx::host

#endif
