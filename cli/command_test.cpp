#include <cstdio>

#include "archive_reader.h"
#include "commands.h"
#include "console.h"
#include "interrupt_cleanup.h"
#include "listing_format.h"
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

  // A compressed entry is checked by its zlib stream's checksum; a stored
  // entry carries none, so only its size can be checked.
  InterruptCleanup cleanup;
  int tested = 0;
  int stored = 0;
  std::vector<std::string> damaged;
  const bool walked = ProcessEveryEntry(
      module, archive, NativeDialect(), total, ProgressWanted(options) && !options.json,
      [&](OpenedArchive& opened, const ArchiveEntry& entry) {
        const int result = opened.ProcessFile(PK_TEST, std::string());
        if (result == E_EABORTED && InterruptCleanup::Signal() != 0) return;
        ++tested;
        if (result != 0) {
          damaged.push_back(entry.name);
          ReportError(DescribeResult(result, entry.name));
        } else if (IsStoredEntry(entry)) {
          ++stored;
        }
      });
  if (!walked) return kExitUnusable;
  if (InterruptCleanup::Signal() != 0) return InterruptExitStatus(kExitSomeFailed);
  if (options.json) {
    std::string out = "{\"tested\": " + std::to_string(tested) + ", \"damaged\": " + std::to_string(damaged.size()) +
                      ", \"stored_size_checked\": " + std::to_string(stored) + ", \"damaged_entries\": [";
    for (size_t i = 0; i < damaged.size(); ++i)
      out += (i ? ", " : "") + std::string("{\"name\": ") + JsonString(damaged[i]) + ", \"name_hex\": \"" +
             HexBytes(damaged[i]) + "\"}";
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else if (!options.quiet) {
    std::string summary = CountOf(tested, "entry", "entries") + " tested, ";
    summary += damaged.empty() ? "all OK" : std::to_string(damaged.size()) + " damaged";
    if (stored > 0)
      summary += "; " + CountOf(stored, "stored entry has", "stored entries have") +
                 " no checksum: " + (stored == 1 ? "its" : "their") + " size was checked";
    std::printf("%s\n", summary.c_str());
  }
  return damaged.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace tvx::cli
