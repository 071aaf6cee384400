// Drives the built module the way the file manager does: loaded at run time,
// reached only through its nine exports, called in the host's order.
#ifndef TOLVEX_TESTS_SUPPORT_MODULE_DRIVER_H
#define TOLVEX_TESTS_SUPPORT_MODULE_DRIVER_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "archive_reader.h"
#include "plugin_module.h"
#include "support/test_support.h"

namespace tvx::test {

// --- names in the host's dialect ------------------------------------------------

// An entry name ("docs/a.txt") as ReadHeader reports it.
std::string ReportedForm(const std::string& entryName);
std::vector<std::string> ReportedForms(const std::vector<std::string>& entryNames);
// An entry name as the host writes it in AddList and DeleteList.
inline std::string ListForm(const std::string& entryName) { return NativePath(entryName); }
// The host's list: every name NUL-terminated, then one more NUL.
std::string NameList(const std::vector<std::string>& names);

// --- the module ---------------------------------------------------------------------

// Loaded once per test program, as the host keeps it loaded; null (and error
// set) when it cannot be loaded.
cli::PluginModule* LoadedModule(std::string* error = nullptr);

// The tool's own OpenedArchive, with the short calls the tests make.
class HostArchive : public cli::OpenedArchive {
 public:
  HostArchive(cli::PluginModule& module, const std::string& path, int mode = PK_OM_EXTRACT)
      : OpenedArchive(module, path, mode), module_(module) {}

  HANDLE_WCX handle() const { return Handle(); }
  int openResult() const { return OpenResult(); }

  // Unlike the tool's, leaves the record as the caller filled it: tests look
  // at what the module writes and what it leaves alone.
  int ReadHeader(tHeaderData& header) { return module_.read_header(Handle(), &header); }
  int ReadHeader() {
    tHeaderData header;
    return ReadHeader(header);
  }
  // destPath null: destName is the whole target.
  int Process(int operation, const std::string* destPath, const std::string& destName) {
    return destPath != nullptr ? ProcessFile(operation, *destPath, destName) : ProcessFile(operation, destName);
  }
  int Skip() { return ProcessFile(PK_SKIP, ""); }
  int Test() { return ProcessFile(PK_TEST, ""); }
  int ExtractTo(const std::string& target) { return ProcessFile(PK_EXTRACT, target); }

 private:
  cli::PluginModule& module_;
};

struct ListedEntry {
  std::string name;  // FileName as reported
  int attr = 0;
  int unpSize = 0;
  int packSize = 0;
  int time = 0;
  bool nameSafe = false;  // HostNameIsSafe(FileName)
  int testResult = -1;    // PK_TEST's answer, when the listing tested
};

// A whole archive as the host read it. openResult is 0 when it opened, else
// OpenResult (E_EOPEN when the module refused without saying why).
struct Listing {
  bool opened = false;
  int openResult = 0;
  int endResult = 0;  // what the last ReadHeader answered
  std::vector<ListedEntry> entries;
};

// One ReadHeader and one PK_SKIP per entry (PK_TEST with test set). Stops
// after maxEntries headers so that a broken directory cannot loop for ever.
Listing ListArchive(cli::PluginModule& module, const std::string& path, bool test = false,
                    size_t maxEntries = 100000);
// Every header read and every entry tested.
inline Listing ListAndTest(cli::PluginModule& module, const std::string& path) {
  return ListArchive(module, path, true);
}
// The reported names in archive order; one "<not opened: N>" item when
// OpenArchive refused.
std::vector<std::string> ListedNames(cli::PluginModule& module, const std::string& path);

// (reported name, unpacked size) of every entry, in archive order.
using NamesAndSizes = std::vector<std::pair<std::string, int>>;
NamesAndSizes ListedNamesAndSizes(cli::PluginModule& module, const std::string& path);

// Extracts every entry as folder/e0, folder/e1... (flat names: the folder
// layout is the host's business). The results in entry order; empty when the
// archive does not open.
std::vector<int> ExtractEach(cli::PluginModule& module, const std::string& path, const std::string& folder);

// PackFiles with the host's argument forms; subPath null for the archive's root.
int PackWith(cli::PluginModule& module, const std::string& archive, const char* subPath,
             const std::string& srcPath, const std::vector<std::string>& names, int flags);
int DeleteWith(cli::PluginModule& module, const std::string& archive, const std::vector<std::string>& names);
int CanHandle(cli::PluginModule& module, const std::string& path);

}  // namespace tvx::test

#endif
