#include "help_text.h"

namespace tvx::cli {

namespace {

constexpr const char* kOverview =
    "Usage: tolvex COMMAND ARCHIVE [ARGS...] [OPTIONS]\n"
    "\n"
    "Works with Tolvex archives (.tvx) through the Tolvex packer module.\n"
    "\n"
    "Commands (and their short forms):\n"
    "  list, l ARCHIVE [--json]               show the entries\n"
    "  test, t ARCHIVE [--json]               verify every entry\n"
    "  extract, x ARCHIVE [-C DIR] [NAME...]  unpack entries (all by default)\n"
    "  add, a ARCHIVE PATH...                 pack files and folders\n"
    "  delete, d ARCHIVE NAME...              remove entries or folders\n"
    "  help [COMMAND]                         show help\n"
    "\n"
    "Options for every command:\n"
    "  -q, --quiet        no progress bar and no summary\n"
    "  --plugin PATH      use this packer module instead of the one beside tolvex\n"
    "  -h, --help         show help (tolvex COMMAND --help for one command)\n"
    "  -V, --version      show the version\n"
    "\n"
    "Exit status: 0 success, 1 some entries failed, 2 bad usage or unusable archive.\n";

constexpr const char* kList =
    "Usage: tolvex list ARCHIVE [--json]   (short: tolvex l)\n"
    "\n"
    "Shows each entry's size, packed size, ratio (packed size as a share of\n"
    "the size), local date and time, and name, followed by a total line.\n"
    "Control characters in names are shown escaped (\\x1b); extract and\n"
    "delete take a name in that form as well as it is.\n"
    "\n"
    "  --json   one JSON object for scripts: {\"entries\": [{\"name\", \"size\",\n"
    "           \"packed\", \"time\" (local, ISO 8601), \"dir\", \"stored\",\n"
    "           \"name_hex\"}...], \"totals\": {...}}. \"name_hex\" holds the name's\n"
    "           exact bytes; \"stored\" marks files kept uncompressed, which\n"
    "           carry no checksum.\n";

constexpr const char* kTest =
    "Usage: tolvex test ARCHIVE [--json]   (short: tolvex t)\n"
    "\n"
    "Unpacks every entry in memory and checks it. Names each damaged entry;\n"
    "the exit status is 1 when any entry fails. Compressed entries are checked\n"
    "against their checksum; stored entries carry none, so only their size is\n"
    "checked, and the summary says how many there were.\n"
    "\n"
    "  --json   {\"tested\", \"damaged\", \"stored_size_checked\",\n"
    "           \"damaged_entries\": [{\"name\", \"name_hex\"}...]}\n";

constexpr const char* kExtract =
    "Usage: tolvex extract ARCHIVE [-C DIR] [--overwrite] [NAME|FOLDER...]\n"
    "       (short: tolvex x)\n"
    "\n"
    "Unpacks the named entries (all when none are named) below DIR, the\n"
    "current folder by default. A FOLDER selects everything under it.\n"
    "Files and folders get the dates stored in the archive. Names that\n"
    "would land outside DIR, also through a symbolic link below DIR, are\n"
    "refused. The format stores no permission bits: every file comes back\n"
    "with the permissions the umask gives a new file (an executable is no\n"
    "longer executable, a private file may become readable by others).\n"
    "On Windows names are found without regard to case, but a name spelled\n"
    "as the archive has it always means that entry; one that fits several\n"
    "entries differing only in case is refused.\n"
    "\n"
    "  -C, --directory DIR   unpack below DIR (created when missing)\n"
    "  -o, --overwrite       replace existing files (default: keep them and\n"
    "                        count the entry as failed)\n";

constexpr const char* kAdd =
    "Usage: tolvex add ARCHIVE PATH... [--move] [--into FOLDER]   (short: tolvex a)\n"
    "\n"
    "Packs files and folders (folders with everything below them), creating\n"
    "the archive when it is missing. Each PATH's last part becomes the top of\n"
    "its entries (docs/a.txt for PATH some/where/docs); PATHs may come from\n"
    "several folders, but two that give the same name are refused, and so\n"
    "is a file where the archive has a folder of that name, or the reverse.\n"
    "What cannot be read (unreadable files, broken links, devices) is named,\n"
    "left out, and makes the exit status 1. Files of 2 GiB or more, and names\n"
    "longer than the file manager's 259 characters, do not fit.\n"
    "\n"
    "  -m, --move       delete the sources after they were packed; a file that\n"
    "                   changed meanwhile or cannot be deleted is kept, named,\n"
    "                   and makes the exit status 1\n"
    "  --into FOLDER    put the entries into FOLDER inside the archive\n";

constexpr const char* kDelete =
    "Usage: tolvex delete ARCHIVE NAME|FOLDER...   (short: tolvex d)\n"
    "\n"
    "Removes entries, named as `tolvex list` shows them. A folder is removed\n"
    "with everything under it. On Windows another case stands in for a name\n"
    "only where it fits one entry; a name that fits several entries differing\n"
    "only in case is refused and nothing is removed.\n";

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
