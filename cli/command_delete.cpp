#include <cstdio>

#include "archive_reader.h"
#include "commands.h"
#include "console.h"
#include "delete_list.h"
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
  for (const std::string& name : plan.unmatched) ReportError("not in the archive: " + name);
  if (plan.count == 0) return kExitSomeFailed;

  std::string packed_file = archive;
  std::string delete_list = plan.list;
  module.set_process_data_proc(kNoArchiveHandle, ProgressCallback);
  ProgressBegin(0, false);
  const int rc = module.delete_files(packed_file.data(), delete_list.data());
  ProgressEnd();
  if (rc != 0) {
    // An update that waited its time for another one, or found the archive
    // rewritten meanwhile, answers as a failed write does.
    ReportError(rc == E_EWRITE ? "write failed: " + archive +
                                     " (the archive may be being changed by another program, or the disk is full)"
                               : DescribeResult(rc, archive));
    return ExitStatusForArchiveCall(rc);
  }
  if (!options.quiet)
    std::printf("%s deleted from %s\n", CountOf(plan.count, "item", "items").c_str(), archive.c_str());
  return plan.unmatched.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace tvx::cli
