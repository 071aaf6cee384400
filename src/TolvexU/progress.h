// The host's progress callback, one for the whole module.
#ifndef TOLVEX_TOLVEXU_PROGRESS_H
#define TOLVEX_TOLVEXU_PROGRESS_H

#include <cstdint>

#include "iwcxhead/wcxhead.h"
#include "packU/archive_entry.h"
#include "packU/work_progress.h"

namespace tvx::host {

// The callback is the interface's own, not an archive's: SetProcessDataProc
// names no archive handle (it ignores the one it is given), so one callback
// serves every handle and every PackFiles/DeleteFiles of the module. It is
// replaced by every SetProcessDataProc, from any thread and at any time (an
// atomic; work under way reports to the new one from its next report on);
// null means no reports. The callback itself is called on the thread that
// does the work (ProcessFile, PackFiles, DeleteFiles), never on another; an
// update it starts of the archive that thread is updating already is refused
// (ArchiveHold, E_EWRITE).
void SetProgressCallback(tProcessDataProc callback);

// The archive code's reports passed to the callback as it is at each report.
// An entry's bytes go as counts under the entry's reported name. The copy of
// kept entries is no part of the host's byte total, and the hosts read the
// negative percentages the other way round (Double Commander takes -1..-100
// for the whole and -1000..-1100 for the current item). While packing, where
// the total counts the files added, the copy goes as reports of 0 bytes: the
// bar stays, Cancel still lands. While deleting, which is nothing but that
// copy, it goes in both forms at once, so each host sees its bars at the same
// share. The callback answering 0 (the user's Cancel) stops the work; without
// a callback nothing is reported and nothing stops.
class HostProgress : public WorkProgress {
 public:
  enum class KeptCopy { kBesideAdditions, kWholeOperation };
  explicit HostProgress(KeptCopy keptCopy = KeptCopy::kBesideAdditions) : keptCopy_(keptCopy) {}

  bool EntryBytesDone(const ArchiveEntry& entry, uint32_t bytes) override;
  bool KeptCopied(const ArchiveEntry& entry, int percent) override;

 private:
  KeptCopy keptCopy_;
};

}  // namespace tvx::host

#endif
