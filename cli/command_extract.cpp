#include <cstdio>
#include <filesystem>
#include <unordered_set>

#include "archive_reader.h"
#include "commands.h"
#include "console.h"
#include "entry_selection.h"
#include "interrupt_cleanup.h"
#include "path_guard.h"
#include "progress.h"
#include "result_text.h"

namespace tvx::cli {

namespace fs = std::filesystem;

namespace {

// Reports a failed ProcessFile with the path it concerns.
void ReportExtractFailure(int code, const ArchiveEntry& entry, const std::string& target) {
  if (code == E_BAD_DATA || code == E_NO_MEMORY)
    ReportError(DescribeResult(code, entry.name));
  else
    ReportError(DescribeResult(code, target));
}

// Makes the folder base/relative and those on its way. Where base's path has
// no link, each is made relative to its parent opened refusing links, so that
// a folder swapped for a link meanwhile gets nothing made through it.
bool MakeFolders(const std::string& base, const std::string& relative, bool linkFree) {
  if (linkFree) return os::MakeFoldersLinkFree(base, relative);
  std::error_code ec;
  const fs::path path(TargetPath(base, relative));
  fs::create_directories(path, ec);
  return !ec && fs::is_directory(path, ec);
}

// Makes ready the place for a file entry. False, after saying why, when the
// entry must be skipped.
// parent_ready: its folder was made and checked for an entry before.
// absent: set when nothing has the target's name.
bool PrepareFileTarget(const std::string& base, const std::string& relative, bool linkFree, bool overwrite,
                       bool parentReady, bool& absent) {
  std::error_code ec;
  const fs::path path(TargetPath(base, relative));
  const size_t slash = relative.rfind('/');
  if (!parentReady && !MakeFolders(base, slash == std::string::npos ? std::string() : relative.substr(0, slash),
                                   linkFree)) {
    ReportError(DescribeResult(E_ECREATE, path.parent_path().string()));
    return false;
  }
  const fs::file_status status = fs::symlink_status(path, ec);
  absent = !fs::exists(status);
  if (absent) return true;
  if (fs::is_directory(status)) {
    ReportError("cannot create " + path.string() + " (a folder of that name exists)");
    return false;
  }
  if (!overwrite) {
    ReportError("exists, not replaced (use --overwrite): " + path.string());
    return false;
  }
  // A link is replaced, never written through: it could lead out of the folder.
  if (fs::is_symlink(status) && !fs::remove(path, ec)) {
    ReportError(DescribeResult(E_ECREATE, path.string()));
    return false;
  }
  return true;
}

bool PrepareFolderTarget(const std::string& base, const std::string& relative, bool linkFree) {
  if (!MakeFolders(base, relative, linkFree)) {
    ReportError(DescribeResult(E_ECREATE, TargetPath(base, relative)));
    return false;
  }
  return true;
}

}  // namespace

int RunExtract(const Options& options, const PluginModule& module) {
  const HostDialect& dialect = NativeDialect();
  const std::string& archive = options.operands[0];
  const std::vector<std::string> names(options.operands.begin() + 1, options.operands.end());

  std::vector<ArchiveEntry> listed;
  if (!ReadListingOrReport(module, archive, listed)) return kExitUnusable;
  const EntrySelection selection(dialect, names, listed);
  // A name that could mean either of two entries extracts neither.
  for (const std::string& text : selection.Ambiguous()) ReportError(text);
  if (!selection.Ambiguous().empty()) return kExitSomeFailed;
  int failed = 0;
  for (const std::string& name : selection.Unmatched()) {
    ReportError("not in the archive: " + name);
    ++failed;
  }
  int64_t total = 0;
  for (const ArchiveEntry& e : listed)
    if (selection.Chooses(e.key)) total += e.size;

  std::error_code ec;
  const std::string dir = options.directory.empty() ? "." : options.directory;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) {
    ReportError(DescribeResult(E_ECREATE, dir));
    return kExitUnusable;
  }
  const std::string base = fs::absolute(dir, ec).lexically_normal().string();

  InterruptCleanup cleanup;
  const bool linkFree = os::ResolvesWithoutLinks(base);
  int extracted = 0;
  // Folders below base made or found real (no link) for an earlier entry.
  std::unordered_set<std::string> verified;
  const bool walked = ProcessEveryEntry(
      module, archive, dialect, total, ProgressWanted(options),
      [&](OpenedArchive& opened, const ArchiveEntry& entry) {
        if (!selection.Chooses(entry.key)) {
          opened.ProcessFile(PK_SKIP, std::string());
          return;
        }
        const GuardedName guarded = GuardEntryName(dialect, entry.reported);
        bool ready = guarded.ok;
        std::string target;
        bool absent = false;
        if (!guarded.ok) {
          ReportError("unsafe name (" + guarded.reason + "), not extracted: " + entry.name);
        } else if (const std::string link = LinkOnTheWay(base, guarded.relative, entry.directory, verified);
                   !link.empty()) {
          ReportError("not extracted, " + link + " is a symbolic link that may lead outside " + dir + ": " +
                      entry.name);
          ready = false;
        } else {
          target = TargetPath(base, guarded.relative);
          const size_t slash = guarded.relative.rfind('/');
          const bool parentReady = slash != std::string::npos && verified.count(guarded.relative.substr(0, slash)) != 0;
          ready = entry.directory ? PrepareFolderTarget(base, guarded.relative, linkFree)
                                  : PrepareFileTarget(base, guarded.relative, linkFree, options.overwrite,
                                                      parentReady, absent);
          if (ready) NoteVerifiedFolders(guarded.relative, entry.directory, verified);
        }
        if (!ready) {
          ++failed;
          opened.ProcessFile(PK_SKIP, std::string());
          return;
        }
        // DestPath is the destination folder (with its separator), DestName
        // the name below it: the module then refuses links met below it too.
        const std::string destName = NativeRelative(guarded.relative);
        const std::string destPath = target.substr(0, target.size() - destName.size());
        if (!entry.directory) cleanup.WatchExtractionTo(target, absent, linkFree);
        const int result = opened.ProcessFile(PK_EXTRACT, destPath, destName);
        cleanup.ExtractionDone();
        if (result == E_EABORTED && InterruptCleanup::Signal() != 0) return;
        if (result != 0) {
          ++failed;
          ReportExtractFailure(result, entry, target);
        } else {
          ++extracted;
        }
      });
  if (!walked) return kExitUnusable;
  if (InterruptCleanup::Signal() != 0) return InterruptExitStatus(kExitSomeFailed);
  if (!options.quiet) {
    const std::string count = CountOf(extracted, "entry", "entries");
    if (failed)
      std::printf("%s extracted, %d failed\n", count.c_str(), failed);
    else
      std::printf("%s extracted\n", count.c_str());
  }
  return failed ? kExitSomeFailed : kExitOk;
}

}  // namespace tvx::cli
