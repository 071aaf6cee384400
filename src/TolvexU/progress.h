// The host's progress callback, one for the whole module.
#ifndef TOLVEX_TOLVEXU_PROGRESS_H
#define TOLVEX_TOLVEXU_PROGRESS_H

#include <cstdint>

#include "iwcxhead/wcxhead.h"
#include "packU/archive_entry.h"
#include "packU/work_progress.h"

namespace tvx::host {

// Replaced by every SetProcessDataProc; null means no reports.
void SetProgressCallback(tProcessDataProc callback);

// The archive code's reports passed to the callback as it is at each report.
// An entry's bytes go as counts under the entry's reported name. The copy of
// kept entries goes as the host's negative percentages: of the current item
// (-1..-100) while packing, where the host's total counts the files added,
// and of the whole operation (-1000..-1100) while deleting, which is nothing
// but that copy. The callback answering 0 (the user's Cancel) stops the work;
// without a callback nothing is reported and nothing stops.
class HostProgress : public WorkProgress {
 public:
  enum class KeptCopy { kCurrentItem, kWholeOperation };
  explicit HostProgress(KeptCopy keptCopy = KeptCopy::kCurrentItem) : keptCopy_(keptCopy) {}

  bool EntryBytesDone(const ArchiveEntry& entry, uint32_t bytes) override;
  bool KeptCopied(const ArchiveEntry& entry, int percent) override;

 private:
  KeptCopy keptCopy_;
};

}  // namespace tvx::host

#endif
