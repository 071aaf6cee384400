#include <cstdio>
#include <filesystem>

#include "archive_reader.h"
#include "commands.h"
#include "console.h"
#include "delete_list.h"
#include "file_checks.h"
#include "interrupt_cleanup.h"
#include "progress.h"
#include "result_text.h"

namespace tvx::cli {

namespace {

HANDLE_WCX const kNoArchiveHandle = reinterpret_cast<HANDLE_WCX>(static_cast<intptr_t>(-1));

}  // namespace

int RunDelete(const Options& options, const PluginModule& module) {
  const HostDialect& dialect = NativeDialect();
  const std::string& archive = options.operands[0];
  const std::vector<std::string> names(options.operands.begin() + 1, options.operands.end());

  std::vector<ArchiveEntry> entries;
  if (!ReadListingOrReport(module, archive, entries)) return kExitUnusable;
  const DeletePlan plan = PlanDelete(dialect, entries, names);
  // A name that could mean either of two entries deletes neither.
  for (const std::string& text : plan.ambiguous) ReportError(text);
  if (!plan.ambiguous.empty()) return kExitSomeFailed;
  for (const std::string& name : plan.unmatched) ReportError("not in the archive: " + name);
  if (plan.count == 0) return kExitSomeFailed;

  std::string packedFile = archive;
  std::string deleteList = plan.list;
  InterruptCleanup cleanup;
  module.set_process_data_proc(kNoArchiveHandle, ProgressCallback);
  // The module reports a delete as shares of the whole: the archive's size
  // stands for it.
  std::error_code ec;
  const auto size = std::filesystem::file_size(archive, ec);
  ProgressBegin(ec ? 0 : static_cast<int64_t>(size), ProgressWanted(options));
  cleanup.WatchSideFilesOf(archive);
  const int rc = module.delete_files(packedFile.data(), deleteList.data());
  ProgressEnd();
  if (InterruptCleanup::StoppedTheCall(rc)) return InterruptExitStatus(kExitSomeFailed);
  if (rc != 0) {
    ReportError(ArchiveFailureText(rc, archive));
    for (const std::string& kept : cleanup.KeptFiles()) ReportError("the new archive is kept as " + kept);
    return ExitStatusForArchiveCall(rc);
  }
  if (!options.quiet)
    std::printf("%s deleted from %s\n", CountOf(plan.count, "item", "items").c_str(), archive.c_str());
  return plan.unmatched.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace tvx::cli
