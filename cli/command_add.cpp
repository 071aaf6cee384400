#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "console.h"
#include "progress.h"
#include "result_text.h"
#include "source_walk.h"

namespace tvx::cli {

namespace {

// The handle argument of SetProcessDataProc while packing: no archive is open.
HANDLE_WCX const kNoArchiveHandle = reinterpret_cast<HANDLE_WCX>(static_cast<intptr_t>(-1));

std::string PackFailureText(int code, const std::string& archive) {
  // The module does not say which side failed to read.
  if (code == E_EREAD) return "cannot read a file to add or the archive: " + archive;
  return DescribeResult(code, archive);
}

}  // namespace

int RunAdd(const Options& options, const PluginModule& module) {
  const HostDialect& dialect = NativeDialect();
  std::error_code ec;
  const std::string archive = std::filesystem::absolute(options.operands[0], ec).string();
  const std::vector<std::string> paths(options.operands.begin() + 1, options.operands.end());

  std::string sub_path;
  if (!options.into.empty()) {
    std::string error;
    sub_path = SubPathFromInto(dialect, options.into, error);
    if (!error.empty()) {
      ReportError(error);
      return kExitUnusable;
    }
  }
  if (std::filesystem::is_directory(archive, ec)) {
    ReportError("a folder, not an archive: " + options.operands[0]);
    return kExitUnusable;
  }

  SourceSet sources = CollectSources(dialect, paths, archive);
  for (const std::string& note : sources.notes) ReportError(note);
  if (!sources.error.empty()) {
    ReportError(sources.error);
    return kExitUnusable;
  }
  if (!sources.too_large.empty()) {
    for (const std::string& path : sources.too_large) ReportError("file too large for the format: " + path);
    return kExitUnusable;
  }

  std::string add_list = BuildAddList(dialect, sources.items);
  std::string packed_file = archive;
  std::string src_path = sources.root;
  const int flags = PK_PACK_SAVE_PATHS | (options.move ? PK_PACK_MOVE_FILES : 0);

  module.set_process_data_proc(kNoArchiveHandle, ProgressCallback);
  ProgressBegin(TotalSize(sources.items), ProgressWanted(options));
  const int rc = module.pack_files(packed_file.data(), sub_path.empty() ? nullptr : sub_path.data(),
                                   src_path.data(), add_list.data(), flags);
  ProgressEnd();
  if (rc != 0) {
    ReportError(PackFailureText(rc, options.operands[0]));
    return ExitStatusForArchiveCall(rc);
  }
  // The module deletes moved files; the folders they leave are ours to remove.
  if (options.move) RemoveEmptiedFolders(sources.items);
  if (!options.quiet) {
    const std::string count = CountOf(static_cast<long long>(sources.items.size()), "entry", "entries");
    std::printf("%s added to %s\n", count.c_str(), options.operands[0].c_str());
  }
  return kExitOk;
}

}  // namespace tvx::cli
