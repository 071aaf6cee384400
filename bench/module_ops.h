// The module's operations as a file manager calls them, each timed around the
// export calls alone (the lists they need are built before the clock starts).
#ifndef TOLVEX_BENCH_MODULE_OPS_H
#define TOLVEX_BENCH_MODULE_OPS_H

#include <string>
#include <vector>

#include "plugin_module.h"

namespace tvx::bench {

struct Timed {
  bool ok = false;
  double wall = 0;
  double cpu = 0;
  long entries = 0;  // entries seen (list, test, extract) or named (delete)
};

// A new archive of everything under root, names relative to root, paths saved.
Timed PackTree(cli::PluginModule& module, const std::string& root, const std::string& archive);
// Adds everything under root to an existing archive, at its top level.
Timed AddTree(cli::PluginModule& module, const std::string& root, const std::string& archive);
// OpenArchive, ReadHeader + PK_SKIP for every entry, CloseArchive.
Timed ListArchive(cli::PluginModule& module, const std::string& archive);
// PK_TEST on every entry.
Timed TestArchive(cli::PluginModule& module, const std::string& archive);
// PK_EXTRACT on every file into dest, creating folders first as a host does.
Timed ExtractArchive(cli::PluginModule& module, const std::string& archive, const std::string& dest);
// DeleteFiles with the given entry names.
Timed DeleteEntries(cli::PluginModule& module, const std::string& archive, const std::vector<std::string>& names);

// Untimed: the names of the file entries (not folders), in archive order.
std::vector<std::string> FileEntryNames(cli::PluginModule& module, const std::string& archive);

}  // namespace tvx::bench

#endif
