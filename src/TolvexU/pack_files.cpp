#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_update.h"
#include "TolvexU/host_dialect.h"
#include "TolvexU/name_list.h"
#include "TolvexU/shown_name_match.h"
#include "commonsU/path_text.h"
#include "iwcxhead/wcxhead.h"
#include "packU/entry_name.h"
#include "packU/format.h"
#include "packU/pack_file.h"
#include "platform/platform.h"

namespace tvx::host {
namespace {

bool EndsInSeparator(const std::string& s) { return !s.empty() && IsListSeparator(s.back()); }

// The entry name of an AddList item: below SubPath (as hosts pass it, "docs",
// "docs\sub", or with its separator, "x\"), the item with its path or only
// its file name part, in normal form. False for a ".." component.
bool EntryNameOf(const PackRequest& request, const std::string& item, std::string& entryName) {
  const bool savePaths = (request.flags & PK_PACK_SAVE_PATHS) != 0;
  std::string listed;
  listed.reserve(request.subPath.size() + 1 + item.size());
  listed += request.subPath;
  listed += kSeparator;
  listed += savePaths ? item : FileNamePart(item, IsListSeparator);
  return NormalEntryName(ListItemToEntryName(listed), entryName);
}

// The names the old archive's entries are extracted under.
std::vector<std::string> ExtractedNames(ArchiveHandle* old) {
  std::vector<std::string> names;
  if (old == nullptr) return names;
  for (size_t i = 0; i < old->archive->entries().size(); ++i) names.push_back(ShownEntryForm(*old, i));
  return names;
}

struct PackItem {
  NewItem item;
  bool folder = false;
  platform::ReadAhead readAhead;  // its bytes when they were read as it was looked at
};

// Small files are read whole when they are looked at, so that each is opened
// once; the rest of a large selection is looked at by name alone, so memory
// stays bounded.
constexpr uint32_t kReadAheadFile = 64 * 1024;
constexpr uint64_t kReadAheadTotal = 16 * 1024 * 1024;

// The archive itself, named among the files to pack (directly or through
// another name for it), is left out: it cannot hold itself. Only a file of
// the archive's size can be it, so the others need no further look.
bool IsTheArchive(platform::System& system, const std::string& sourcePath, int64_t sourceSize, const PackRequest& request,
                  const std::string& archivePath, const platform::PathFacts& archive) {
  if (sourcePath == request.packedFile || sourcePath == archivePath) return true;
  return archive.kind == platform::PathFacts::Kind::kRegularFile && archive.size == sourceSize &&
         system.SameFile(sourcePath, archivePath);
}

// The new entries, in list order, into items; E_EOPEN when a source is
// missing (a dangling link too) or is neither a regular file nor a folder (a
// FIFO would block the reader). A folder named without its trailing separator
// is packed as a folder. Without saved paths a folder item adds nothing: its
// name part would be empty. E_NOT_SUPPORTED for a name with a ".." component.
// Each source is looked at once; its size goes on to the free-space sum.
int PackItems(platform::System& system, const PackRequest& request, const std::string& archivePath, std::vector<PackItem>& items) {
  using Kind = platform::PathFacts::Kind;
  const bool savePaths = (request.flags & PK_PACK_SAVE_PATHS) != 0;
  const platform::PathFacts archive = system.FactsOfPath(archivePath);
  uint64_t readAheadLeft = kReadAheadTotal;
  platform::SourceFolder folder;
  std::vector<std::string> names = ParseNameList(request.addList);
  // Sized once: moving 100,000 items as the vector grows costs more than looking at them.
  items.reserve(names.size());
  for (std::string& name : names) {
    PackItem item;
    item.item.sourcePath = JoinPath(request.srcPath, name, platform::kPathSeparator, platform::IsPathSeparator);
    item.folder = EndsInSeparator(name);
    const platform::PathFacts source =
        item.folder || readAheadLeft < kReadAheadFile
            ? system.FactsOfPath(item.item.sourcePath)
            : system.LookAtSource(item.item.sourcePath, kReadAheadFile, &item.readAhead, folder);
    readAheadLeft -= item.readAhead.bytes.size();
    if (item.folder) {
      if (source.kind != Kind::kFolder) return E_EOPEN;
    } else if (source.kind == Kind::kFolder) {
      item.folder = true;
      name += kSeparator;
    } else if (source.kind != Kind::kRegularFile) {
      return E_EOPEN;
    } else if (IsTheArchive(system, item.item.sourcePath, source.size, request, archivePath, archive)) {
      continue;
    }
    if (!item.folder) item.item.size = source.size;
    if (item.folder && !savePaths) continue;
    if (!EntryNameOf(request, name, item.item.entryName)) return E_NOT_SUPPORTED;
    if (item.item.entryName.empty()) continue;
    items.push_back(std::move(item));
  }
  return E_SUCCESS;
}

// Deletes the packed files that are still as they were read; one changed
// since (edited while the pack ran) holds newer work and stays.
// All are looked at before any goes: deleting one of two hard links to a
// file changes the other's status-change time.
void RemoveMovedFiles(platform::System& system, const std::vector<PackItem>& items, const std::vector<platform::FileStamp>& stamps) {
  std::vector<size_t> unchanged;
  for (size_t i = 0; i < items.size() && i < stamps.size(); ++i) {
    // A folder stays (the host removes emptied folders itself).
    if (items[i].folder || stamps[i].size < 0) continue;
    if (system.FileStampOf(items[i].item.sourcePath) == stamps[i]) unchanged.push_back(i);
  }
  for (size_t i : unchanged) system.RemoveFile(items[i].item.sourcePath);
}

}  // namespace

int PackFilesWith(platform::System& system, const PackRequest& request) {
  // An archive reached through a link is rebuilt where it lies; the link stays.
  const std::string archivePath = system.ResolveLink(request.packedFile);
  std::vector<PackItem> items;
  const int listed = PackItems(system, request, archivePath, items);
  if (listed != E_SUCCESS) return listed;
  RebuildPlan plan;
  plan.additions.reserve(items.size());
  uint64_t needed = 0;
  for (const PackItem& item : items) {
    // A name the host could not be shown whole could not be told from its
    // neighbours, nor extracted, deleted or replaced under its own name.
    if (!NameFitsHost(item.item.entryName)) return E_NOT_SUPPORTED;
    plan.additions.push_back(item.item);
    if (item.folder) continue;
    const int64_t size = item.item.size;
    if (size > static_cast<int64_t>(kMaxArchiveSize)) return E_NOT_SUPPORTED;
    if (size > 0) needed += static_cast<uint64_t>(size);
  }
  std::vector<platform::FileStamp> stamps;
  plan.sourceStamps = &stamps;
  ReadAheadSources readAhead;
  for (PackItem& item : items) {
    if (item.readAhead.read) readAhead.Add(item.item.sourcePath, item.readAhead);
  }

  std::vector<std::string> newNames;
  newNames.reserve(plan.additions.size());
  for (const NewItem& addition : plan.additions) newNames.push_back(addition.entryName);

  OldArchive old;
  const int opened = HoldForPacking(system, archivePath, old);
  if (opened != E_SUCCESS) return opened;
  if (old.get() != nullptr) {
    if (system.IsReadOnlyFile(archivePath)) return E_EWRITE;
    plan.oldArchive = old.get();
    SpellFoldersAsShown(*old, plan.additions);
    // An old entry shown under a new entry's name is replaced by it as well.
    plan.dropOld = EntriesNamedAsShown(*old, newNames, {});
    DropEntriesNamedInAnotherCase(*old, plan.additions, plan.dropOld);
  }
  // Entries that could not all be extracted are never written.
  if (NamesClash(newNames, ExtractedNames(old.handle.get()), kCaseBlindNames)) return E_NOT_SUPPORTED;
  const int result = WriteAndReplace(system, archivePath, std::move(old), std::move(plan), needed);
  if (result != E_SUCCESS) return result;

  if ((request.flags & PK_PACK_MOVE_FILES) != 0) RemoveMovedFiles(system, items, stamps);
  return E_SUCCESS;
}

}  // namespace tvx::host
