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

  int tested = 0;
  int damaged = 0;
  const bool walked = ProcessEveryEntry(
      module, archive, NativeDialect(), total, ProgressWanted(options),
      [&](OpenedArchive& opened, const ArchiveEntry& entry) {
        const int result = opened.ProcessFile(PK_TEST, std::string());
        ++tested;
        if (result != 0) {
          ++damaged;
          ReportError(DescribeResult(result, entry.name));
        }
      });
  if (!walked) return kExitUnusable;
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
