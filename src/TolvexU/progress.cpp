#include "TolvexU/progress.h"

#include <atomic>
#include <string>

#include "TolvexU/host_dialect.h"

namespace tvx::host {
namespace {

// Set and read from whichever threads the host calls in on.
std::atomic<tProcessDataProc> processDataProc{nullptr};

}  // namespace

void SetProgressCallback(tProcessDataProc callback) { processDataProc = callback; }

void ReportProgress(const ArchiveEntry& entry) {
  const tProcessDataProc callback = processDataProc.load();
  if (callback == nullptr) return;
  std::string name = ReportedName(entry);
  callback(&name[0], entry.unpackedSize);
}

}  // namespace tvx::host
