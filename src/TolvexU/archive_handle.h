// What the host holds between OpenArchive and CloseArchive (its HANDLE_WCX),
// and what an update keeps of the archive it reads: the open archive and the
// host's state about it. The archive itself holds only the archive.
#ifndef TOLVEX_TOLVEXU_ARCHIVE_HANDLE_H
#define TOLVEX_TOLVEXU_ARCHIVE_HANDLE_H

#include <cstdint>
#include <memory>
#include <utility>

#include "packU/archive.h"
#include "packU/extract.h"

namespace tvx::host {

// The names of the entries whose host form fits unshortened (host_dialect.cpp).
struct ShownNameIndex;

struct ArchiveHandle {
  explicit ArchiveHandle(std::unique_ptr<Archive> opened) : archive(std::move(opened)) {}

  std::unique_ptr<Archive> archive;  // never null

  // Index of the entry the host read last; -1 before the first.
  int32_t current = -1;
  // Set by the ReadHeader that makes an entry current, cleared by the one
  // ProcessFile for it: after that, and after the last entry, there is no
  // current entry to process.
  bool currentPending = false;

  // The extractions' folders, dated again at CloseArchive.
  ExtractionMemory extraction;

  // The index of the names shown to the host, made when first needed
  // (host_dialect.h).
  std::shared_ptr<const ShownNameIndex> shownNames;

  // The last wall-clock hour and the local time it names (host_dialect.h):
  // kept per handle, so handles used on other threads at the same time never
  // share it.
  struct LocalHour {
    int64_t wallClock = INT64_MIN;
    int64_t local = 0;
  };
  LocalHour localHour;
};

}  // namespace tvx::host

#endif
