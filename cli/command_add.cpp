#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "console.h"
#include "file_checks.h"
#include "interrupt_cleanup.h"
#include "name_clash.h"
#include "progress.h"
#include "result_text.h"
#include "source_walk.h"

namespace tvx::cli {

namespace fs = std::filesystem;

namespace {

// The handle argument of SetProcessDataProc while packing: no archive is open.
HANDLE_WCX const kNoArchiveHandle = reinterpret_cast<HANDLE_WCX>(static_cast<intptr_t>(-1));

std::string ShortOfSpace(const std::string& shown, const char* where) {
  return "cannot write " + shown + ": not enough free space " + where;
}

// What the module's failure most likely means, judged by what tolvex can
// see afterwards; the module's codes do not say which file or why.
std::string PackFailureText(int code, const std::string& shown, const std::string& archive, int64_t bytes,
                            const std::string& tempFolder) {
  const std::string folder = FolderOf(archive);
  const int64_t freeHere = FreeBytes(folder);
  const int64_t freeTemp = tempFolder.empty() ? -1 : FreeBytes(tempFolder);
  const bool shortHere = freeHere >= 0 && freeHere <= bytes;
  const bool shortTemp = freeTemp >= 0 && freeTemp <= bytes;
  if (InUseByAnotherProgram(archive)) return ArchiveFailureText(code, archive, shown);
  if (code == E_ECREATE || code == E_EWRITE) {
    if (const std::string why = TempFolderProblem(); !why.empty()) return "cannot write " + shown + ": " + why;
    if (const std::string why = WriteRefusal(archive, shown); !why.empty()) return why;
    if (shortHere) return ShortOfSpace(shown, "on its drive");
    if (shortTemp) return ShortOfSpace(shown, "in the temporary folder");
    if (code == E_EWRITE) return ArchiveFailureText(code, archive, shown);
    return "cannot create " + shown;
  }
  // The module does not say which side failed to read.
  if (code == E_EREAD) return "cannot read a file to add or the archive: " + shown;
  return DescribeResult(code, shown);
}

// Refusals tolvex can name before the module is asked; empty when none.
std::string CheckBeforePacking(const std::string& archive, const std::string& shown, int64_t bytes) {
  std::error_code ec;
  const std::string folder = FolderOf(archive);
  if (!fs::is_directory(folder, ec)) return "cannot create " + shown + ": no such folder " + folder;
  if (const std::string why = WriteRefusal(archive, shown); !why.empty()) return why;
  if (InUseByAnotherProgram(archive)) return ArchiveFailureText(E_EOPEN, archive, shown);
  const int64_t freeBytes = FreeBytes(folder);
  if (freeBytes >= 0 && bytes > 0 && freeBytes <= bytes)
    return ShortOfSpace(shown, "on its drive") + " (" + std::to_string(freeBytes) + " bytes free, " +
           std::to_string(bytes) + " to add)";
  return std::string();
}

// After a move: the files still there, each with the reason it was kept.
int ReportKeptSources(const std::vector<SourceItem>& items) {
  int kept = 0;
  for (const SourceItem& item : items) {
    if (item.directory) continue;
    const PathLook link = LookAt(item.full, false);
    if (link.error != 0) continue;
    ++kept;
    const PathLook now = link.link ? LookAt(item.full, true) : link;
    if (now.error != 0 || now.size != item.size || now.modified != item.modified) {
      ReportError("kept " + item.full + ": it changed after it was read, the archive has the older content");
    } else if (const std::string why = FolderWriteProblem(fs::path(item.full).parent_path().string());
               !why.empty()) {
      ReportError("kept " + item.full + ": could not be deleted, its folder is not writable (" + why + ")");
    } else {
      ReportError("kept " + item.full + ": could not be deleted");
    }
  }
  return kept;
}

}  // namespace

int RunAdd(const Options& options, const PluginModule& module) {
  const HostDialect& dialect = NativeDialect();
  std::error_code ec;
  const std::string archive = fs::absolute(options.operands[0], ec).string();
  const std::string& shown = options.operands[0];
  const std::vector<std::string> paths(options.operands.begin() + 1, options.operands.end());

  std::string subPath;
  if (!options.into.empty()) {
    std::string error;
    subPath = SubPathFromInto(dialect, options.into, error);
    if (!error.empty()) {
      ReportError(error);
      return kExitUnusable;
    }
  }
  if (fs::is_directory(archive, ec)) {
    ReportError("a folder, not an archive: " + shown);
    return kExitUnusable;
  }

  SourceSet sources = CollectSources(dialect, paths, archive);
  for (const std::string& note : sources.notes) ReportError(note);
  for (const std::string& leftOut : sources.leftOut) ReportError(leftOut);
  if (!sources.error.empty()) {
    ReportError(sources.error);
    return kExitUnusable;
  }
  if (!sources.tooLarge.empty()) {
    for (const std::string& path : sources.tooLarge) ReportError("file too large for the format: " + path);
    return kExitUnusable;
  }
  bool tooLong = false;
  for (const SourceItem& item : sources.items) {
    const size_t length = HostNameLength(dialect, subPath, item);
    if (length > kHostNameLimit) {
      ReportError("name too long for the file manager (" + std::to_string(length) + " characters, at most " +
                  std::to_string(kHostNameLimit) + "): " + item.full);
      tooLong = true;
    }
  }
  if (tooLong) return kExitUnusable;
  const int64_t total = TotalSize(sources.items);
  std::string refusal = CheckBeforePacking(archive, shown, total);
  if (refusal.empty() && fs::exists(archive, ec)) {
    // An archive the module cannot list is the module's to refuse, in its words.
    const ListingResult listing = ReadListing(module, archive);
    if (listing.code == 0) refusal = NameClashWithArchive(dialect, listing.entries, subPath, sources.items);
  }
  if (!refusal.empty()) {
    ReportError(refusal);
    return kExitUnusable;
  }

  InterruptCleanup cleanup;
  const int flags = PK_PACK_SAVE_PATHS | (options.move ? PK_PACK_MOVE_FILES : 0);
  module.set_process_data_proc(kNoArchiveHandle, ProgressCallback);
  ProgressBegin(total, ProgressWanted(options));
  // One call per source folder, in the order the folders were given.
  for (size_t group = 0; group < sources.roots.size(); ++group) {
    const SourceRange items = GroupItems(sources, group);
    if (items.empty()) continue;
    std::string addList = BuildAddList(dialect, items);
    std::string packedFile = archive;
    std::string srcPath = sources.roots[group];
    cleanup.WatchSideFilesOf(archive);
    const int rc = module.pack_files(packedFile.data(), subPath.empty() ? nullptr : subPath.data(), srcPath.data(),
                                     addList.data(), flags);
    // Stopped as by Cancel: this call changed nothing, earlier ones stay. A
    // signal after the call's last report stops only the calls still to come.
    const bool more = group + 1 < sources.roots.size();
    if ((more && InterruptCleanup::Signal() != 0) || InterruptCleanup::StoppedTheCall(rc)) {
      ProgressEnd();
      return InterruptExitStatus(kExitSomeFailed);
    }
    if (rc != 0) {
      ProgressEnd();
      ReportError(PackFailureText(rc, shown, archive, TotalSize(items), cleanup.Folder()));
      for (const std::string& kept : cleanup.KeptFiles()) ReportError("the new archive is kept as " + kept);
      if (group > 0) ReportError("the paths from " + std::to_string(group) + " earlier folder(s) were added");
      return ExitStatusForArchiveCall(rc);
    }
  }
  ProgressEnd();

  int kept = 0;
  if (options.move) {
    kept = ReportKeptSources(sources.items);
    // The module deletes moved files; the folders they leave are ours to remove.
    RemoveEmptiedFolders(sources.items);
  }
  if (!options.quiet) {
    std::string summary = CountOf(static_cast<long long>(sources.items.size()), "entry", "entries") +
                          " added to " + shown;
    if (!sources.leftOut.empty())
      summary += ", " + CountOf(static_cast<long long>(sources.leftOut.size()), "path", "paths") + " left out";
    if (kept > 0) summary += ", " + CountOf(kept, "source", "sources") + " kept";
    std::printf("%s\n", summary.c_str());
  }
  return sources.leftOut.empty() && kept == 0 ? kExitOk : kExitSomeFailed;
}

}  // namespace tvx::cli
