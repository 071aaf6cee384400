// New entries that cannot join an archive's: its entries must extract side by
// side, and a file cannot stand where a folder of the same name does.
#ifndef TOLVEX_CLI_NAME_CLASH_H
#define TOLVEX_CLI_NAME_CLASH_H

#include <string>
#include <vector>

#include "archive_reader.h"
#include "host_dialect.h"
#include "source_walk.h"

namespace tvx::cli {

// Why the first of items, packed below subPath, cannot join the existing
// entries: a file where the archive has a folder of that name (or entries in
// one), or a name below one the archive holds as a file. Empty when none.
std::string NameClashWithArchive(const HostDialect& d, const std::vector<ArchiveEntry>& existing,
                                 const std::string& subPath, const std::vector<SourceItem>& items);

}  // namespace tvx::cli

#endif
