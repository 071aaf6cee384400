// What an archive operation tells about its advance, and how it learns that it
// is to stop. The archive code reports; the plug-in layer passes each report
// to the host, whose answer may ask to stop.
#ifndef TOLVEX_PACKU_WORK_PROGRESS_H
#define TOLVEX_PACKU_WORK_PROGRESS_H

#include <cstdint>

#include "packU/archive_entry.h"

namespace tvx {

class WorkProgress {
 public:
  virtual ~WorkProgress() = default;
  // `bytes` more of the entry's unpacked content are done since its last
  // report (0 once for an entry without content). False: stop now.
  virtual bool EntryBytesDone(const ArchiveEntry& entry, uint32_t bytes) = 0;
  // Copying the kept entries of a rebuild: `percent` (0..100) of all their
  // bytes are copied, the last of them belonging to entry. False: stop now.
  virtual bool KeptCopied(const ArchiveEntry& entry, int percent) = 0;
};

// One entry's reports, so that its pieces add up to its whole size. Without a
// WorkProgress it reports nothing and never stops.
class EntryMeter {
 public:
  EntryMeter(WorkProgress* progress, const ArchiveEntry& entry) : progress_(progress), entry_(entry) {}

  // The content is done up to position: reports what is new. False: stop.
  bool ReachedTo(uint32_t position) {
    if (progress_ == nullptr || position <= reported_) return true;
    const uint32_t piece = position - reported_;
    reported_ = position;
    reportedAny_ = true;
    return progress_->EntryBytesDone(entry_, piece);
  }

  // The entry is over at size: reports what was never reported, and for an
  // entry without any report a report of its size (0 for no content).
  bool Finish(uint32_t size) {
    if (progress_ == nullptr || (reportedAny_ && size <= reported_)) return true;
    const uint32_t piece = size > reported_ ? size - reported_ : 0;
    reported_ = size;
    reportedAny_ = true;
    return progress_->EntryBytesDone(entry_, piece);
  }

 private:
  WorkProgress* progress_;
  const ArchiveEntry& entry_;
  uint32_t reported_ = 0;
  bool reportedAny_ = false;
};

}  // namespace tvx

#endif
