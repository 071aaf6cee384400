#include <cstdio>

#include "archive_reader.h"
#include "commands.h"
#include "listing_format.h"
#include "result_text.h"

namespace tvx::cli {

int RunList(const Options& options, const PluginModule& module) {
  std::vector<ArchiveEntry> entries;
  if (!ReadListingOrReport(module, options.operands[0], entries)) return kExitUnusable;
  const std::string text = options.json ? FormatListingJson(NativeDialect(), entries)
                                        : FormatListingTable(NativeDialect(), entries);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

}  // namespace tvx::cli
