#include "help_text.h"

namespace tvx::cli {

namespace {

constexpr const char* kOverview =
    "Usage: tolvex COMMAND ARCHIVE [ARGS...] [OPTIONS]\n"
    "\n"
    "Works with Tolvex archives (.tvx) through the Tolvex packer module.\n"
    "\n"
    "Commands:\n"
    "  list ARCHIVE [--json]               show the entries\n"
    "  test ARCHIVE                        verify every entry\n"
    "  extract ARCHIVE [-C DIR] [NAME...]  unpack entries (all by default)\n"
    "  add ARCHIVE PATH...                 pack files and folders\n"
    "  delete ARCHIVE NAME...              remove entries or folders\n"
    "  help [COMMAND]                      show help\n"
    "\n"
    "Options for every command:\n"
    "  -q, --quiet        no progress bar and no summary\n"
    "  --plugin PATH      use this packer module instead of the one beside tolvex\n"
    "  -h, --help         show help (tolvex COMMAND --help for one command)\n"
    "  -V, --version      show the version\n"
    "\n"
    "Exit status: 0 success, 1 some entries failed, 2 bad usage or unusable archive.\n";

constexpr const char* kList =
    "Usage: tolvex list ARCHIVE [--json]\n"
    "\n"
    "Shows each entry's size, packed size, ratio (packed size as a share of\n"
    "the size), local date and time, and name, followed by a total line.\n"
    "\n"
    "  --json   one JSON object for scripts: {\"entries\": [{\"name\", \"size\",\n"
    "           \"packed\", \"time\" (local, ISO 8601), \"dir\"}...], \"totals\": {...}}\n";

constexpr const char* kTest =
    "Usage: tolvex test ARCHIVE\n"
    "\n"
    "Unpacks every entry in memory and checks it. Names each damaged entry;\n"
    "the exit status is 1 when any entry fails.\n";

constexpr const char* kExtract =
    "Usage: tolvex extract ARCHIVE [-C DIR] [--overwrite] [NAME|FOLDER...]\n"
    "\n"
    "Unpacks the named entries (all when none are named) below DIR, the\n"
    "current folder by default. A FOLDER selects everything under it.\n"
    "Names that would land outside DIR are refused.\n"
    "\n"
    "  -C, --directory DIR   unpack below DIR (created when missing)\n"
    "  -o, --overwrite       replace existing files (default: keep them and\n"
    "                        count the entry as failed)\n";

constexpr const char* kAdd =
    "Usage: tolvex add ARCHIVE PATH... [--move] [--into FOLDER]\n"
    "\n"
    "Packs files and folders (folders with everything below them), creating\n"
    "the archive when it is missing. Names are kept relative to the folder\n"
    "that holds the PATHs; all PATHs must lie in the same folder. Files of\n"
    "2 GiB or more do not fit the format.\n"
    "\n"
    "  -m, --move       delete the sources after they were packed\n"
    "  --into FOLDER    put the entries into FOLDER inside the archive\n";

constexpr const char* kDelete =
    "Usage: tolvex delete ARCHIVE NAME|FOLDER...\n"
    "\n"
    "Removes entries, named as `tolvex list` shows them. A folder is removed\n"
    "with everything under it.\n";

}  // namespace

std::string HelpText(const std::string& topic) {
  if (topic.empty() || topic == "help") return kOverview;
  if (topic == "list" || topic == "l") return kList;
  if (topic == "test" || topic == "t") return kTest;
  if (topic == "extract" || topic == "x") return kExtract;
  if (topic == "add" || topic == "a") return kAdd;
  if (topic == "delete" || topic == "d") return kDelete;
  return std::string();
}

}  // namespace tvx::cli
