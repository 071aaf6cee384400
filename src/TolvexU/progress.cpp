#include "TolvexU/progress.h"

#include <atomic>
#include <string>

#include "TolvexU/host_dialect.h"

namespace tvx::host {
namespace {

// Set and read from whichever threads the host calls in on.
std::atomic<tProcessDataProc> processDataProc{nullptr};

// The callback's answer; true (go on) when there is none.
bool Report(const ArchiveEntry& entry, int size) {
  const tProcessDataProc callback = processDataProc.load();
  if (callback == nullptr) return true;
  std::string name = ReportedName(entry);
  return callback(&name[0], size) != 0;
}

}  // namespace

void SetProgressCallback(tProcessDataProc callback) { processDataProc = callback; }

bool HostProgress::EntryBytesDone(const ArchiveEntry& entry, uint32_t bytes) {
  return Report(entry, static_cast<int>(bytes));
}

bool HostProgress::KeptCopied(const ArchiveEntry& entry, int percent) {
  if (keptCopy_ == KeptCopy::kBesideAdditions) return Report(entry, 0);
  // -0 would read as a count of 0 bytes.
  return Report(entry, -(percent > 0 ? percent : 1)) && Report(entry, -(1000 + percent));
}

}  // namespace tvx::host
