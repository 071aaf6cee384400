// The host's progress callback, one for the whole module.
#ifndef TOLVEX_TOLVEXU_PROGRESS_H
#define TOLVEX_TOLVEXU_PROGRESS_H

#include "iwcxhead/wcxhead.h"
#include "packU/archive_entry.h"

namespace tvx::host {

// Replaced by every SetProcessDataProc; null means no reports.
void SetProgressCallback(tProcessDataProc callback);

// One report for an entry whose work is done: its reported name and its whole
// unpacked size. The callback's answer is not looked at: the host cannot
// cancel an operation half-way.
void ReportProgress(const ArchiveEntry& entry);

}  // namespace tvx::host

#endif
