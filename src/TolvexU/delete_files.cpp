#include <string>

#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_update.h"
#include "TolvexU/host_dialect.h"
#include "TolvexU/name_list.h"
#include "TolvexU/shown_name_match.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"

namespace tvx::host {
namespace {

// Hosts name a folder to delete as "folder<sep>*.*".
bool IsFolderItem(const std::string& item) {
  return item.size() >= 4 && item.compare(item.size() - 3, 3, "*.*") == 0 && IsListSeparator(item[item.size() - 4]);
}

}  // namespace

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
  for (const std::string& item : ParseNameList(deleteList)) {
    if (IsFolderItem(item)) {
      plan.removeFolders.push_back(ListItemToEntryName(item.substr(0, item.size() - 3)));
    } else {
      plan.removeNames.push_back(ListItemToEntryName(item));
    }
  }
  // The host names entries as ReadHeader showed them: those shown under
  // another name than stored go too.
  plan.dropOld = EntriesNamedAsShown(*old, plan.removeNames, plan.removeFolders);
  const int64_t size = system.FileSize64(packedFile);
  return WriteAndReplace(system, packedFile, std::move(old), plan, size > 0 ? static_cast<uint64_t>(size) : 0);
}

}  // namespace tvx::host
