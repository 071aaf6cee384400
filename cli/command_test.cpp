#include <cstdio>

#include "archive_reader.h"
#include "commands.h"
#include "console.h"
#include "progress.h"
#include "result_text.h"

namespace tvx::cli {

bool ProgressWanted(const Options& options) { return !options.quiet && StderrIsTerminal(); }

int RunTest(const Options& options, const PluginModule& module) {
  const std::string& archive = options.operands[0];
  std::vector<ArchiveEntry> listed;
  if (!ReadListingOrReport(module, archive, listed)) return kExitUnusable;
  int64_t total = 0;
  for (const ArchiveEntry& e : listed) total += e.size;

  OpenedArchive opened(module, archive, PK_OM_EXTRACT);
  if (!opened.IsOpen()) {
    ReportError(DescribeResult(opened.OpenResult(), archive));
    return kExitUnusable;
  }
  module.set_process_data_proc(opened.Handle(), ProgressCallback);
  ProgressBegin(total, ProgressWanted(options));
  int tested = 0;
  int damaged = 0;
  for (;;) {
    tHeaderData header;
    const int rc = opened.ReadHeader(header);
    if (rc == E_END_ARCHIVE) break;
    if (rc != 0) {
      ProgressEnd();
      ReportError(DescribeResult(E_BAD_ARCHIVE, archive));
      return kExitUnusable;
    }
    const ArchiveEntry entry = EntryFromHeader(NativeDialect(), header);
    const int result = opened.ProcessFile(PK_TEST, std::string());
    ++tested;
    if (result != 0) {
      ++damaged;
      ReportError(DescribeResult(result, entry.name));
    }
  }
  ProgressEnd();
  if (!options.quiet) {
    const std::string count = CountOf(tested, "entry", "entries");
    if (damaged == 0)
      std::printf("%s tested, all OK\n", count.c_str());
    else
      std::printf("%s tested, %d damaged\n", count.c_str(), damaged);
  }
  return damaged ? kExitSomeFailed : kExitOk;
}

}  // namespace tvx::cli
