#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_update.h"
#include "TolvexU/host_dialect.h"
#include "TolvexU/name_list.h"
#include "TolvexU/shown_name_match.h"
#include "commonsU/path_text.h"
#include "iwcxhead/wcxhead.h"
#include "packU/format.h"
#include "platform/platform.h"

namespace tvx::host {
namespace {

bool EndsInSeparator(const std::string& s) { return !s.empty() && IsListSeparator(s.back()); }

// SubPath as hosts pass it ("docs", "docs\sub") or with its separator ("x\"):
// joined with exactly one separator.
std::string JoinSubPath(const std::string& subPath, const std::string& item) {
  if (subPath.empty() || EndsInSeparator(subPath)) return subPath + item;
  return subPath + kSeparator + item;
}

std::string WithoutLeadingSlashes(std::string name) {
  name.erase(0, name.find_first_not_of('/'));
  return name;
}

bool IsNameSeparator(char c) { return c == '/' || platform::IsPathSeparator(c); }

struct PackItem {
  NewItem item;
  bool folder = false;
};

// The new entries, in list order. Without saved paths a folder item adds
// nothing: its name part would be empty.
std::vector<PackItem> PackItems(const PackRequest& request) {
  std::vector<PackItem> items;
  const bool savePaths = (request.flags & PK_PACK_SAVE_PATHS) != 0;
  for (const std::string& name : ParseNameList(request.addList)) {
    PackItem item;
    item.folder = EndsInSeparator(name);
    item.item.sourcePath = request.srcPath + name;
    const std::string joined = ListItemToEntryName(JoinSubPath(request.subPath, name));
    if (savePaths) {
      item.item.entryName = WithoutLeadingSlashes(joined);
    } else {
      if (item.folder) continue;
      item.item.entryName = FileNamePart(joined, IsNameSeparator);
    }
    if (item.item.entryName.empty()) continue;
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

int PackFilesWith(DriveQueries& drives, const PackRequest& request) {
  const std::vector<PackItem> items = PackItems(request);
  RebuildPlan plan;
  uint64_t needed = 0;
  for (const PackItem& item : items) {
    // A name the host could not be shown whole could not be told from its
    // neighbours, nor extracted, deleted or replaced under its own name.
    if (!NameFitsHost(item.item.entryName)) return E_NOT_SUPPORTED;
    plan.additions.push_back(item.item);
    if (item.folder) continue;
    const int64_t size = platform::FileSize64(item.item.sourcePath);
    if (size > static_cast<int64_t>(kMaxArchiveSize)) return E_NOT_SUPPORTED;
    if (size > 0) needed += static_cast<uint64_t>(size);
    plan.additions.back().size = size;
  }

  std::unique_ptr<Archive> old;
  if (platform::FileExists(request.packedFile)) {
    const int opened = OpenExistingArchive(request.packedFile, old);
    if (opened != E_SUCCESS) return opened;
    plan.oldArchive = old.get();
    // An old entry shown under a new entry's name is replaced by it as well.
    std::vector<std::string> newNames;
    for (const NewItem& addition : plan.additions) newNames.push_back(addition.entryName);
    plan.dropOld = EntriesNamedAsShown(*old, newNames, {});
  }
  const int result = WriteAndReplace(drives, request.packedFile, std::move(old), plan, needed);
  if (result != E_SUCCESS) return result;

  if ((request.flags & PK_PACK_MOVE_FILES) != 0) {
    for (const PackItem& item : items) {
      // A folder stays (the host removes emptied folders itself), and so does
      // the archive should it have been among the files.
      if (item.folder || item.item.sourcePath == request.packedFile) continue;
      platform::RemoveFile(item.item.sourcePath);
    }
  }
  return E_SUCCESS;
}

}  // namespace tvx::host
