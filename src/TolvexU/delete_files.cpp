#include <string>
#include <utility>

#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_update.h"
#include "TolvexU/shown_name_match.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"

namespace tvx::host {

int DeleteFilesWith(platform::System& system, const std::string& linkOrArchive, const char* deleteList) {
  // An archive reached through a link is rebuilt where it lies; the link stays.
  const std::string packedFile = system.ResolveLink(linkOrArchive);
  if (!system.FileExists(packedFile)) return E_EOPEN;
  OldArchive old;
  const int opened = OpenExistingArchive(system, packedFile, old);
  if (opened != E_SUCCESS) return opened;
  if (system.IsReadOnlyFile(packedFile)) return E_EWRITE;

  RebuildPlan plan;
  plan.oldArchive = old.get();
  plan.dropOld = EntriesNamedInList(*old, deleteList);
  const int64_t size = system.FileSize64(packedFile);
  // Copying what stays is all the work there is: its share is the whole's.
  return WriteAndReplace(system, packedFile, std::move(old), std::move(plan), size > 0 ? static_cast<uint64_t>(size) : 0,
                         HostProgress::KeptCopy::kWholeOperation);
}

}  // namespace tvx::host
