#include "TolvexU/progress.h"

#include <string>

#include "TolvexU/host_dialect.h"

namespace tvx::host {
namespace {

tProcessDataProc processDataProc = nullptr;

}  // namespace

void SetProgressCallback(tProcessDataProc callback) { processDataProc = callback; }

void ReportProgress(const ArchiveEntry& entry) {
  tProcessDataProc callback = processDataProc;
  if (callback == nullptr) return;
  std::string name = ReportedName(entry);
  callback(&name[0], entry.unpackedSize);
}

}  // namespace tvx::host
