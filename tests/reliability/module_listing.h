// Reading a whole archive through the module as a host would: open, every
// header, a test of every entry. And the rule a reported name must obey.
#ifndef TOLVEX_TESTS_RELIABILITY_MODULE_LISTING_H
#define TOLVEX_TESTS_RELIABILITY_MODULE_LISTING_H

#include <cstring>
#include <string>
#include <vector>

#include "reliability/module_api.h"

namespace tvx::test::reliability {

// A name the host may join to its destination folder. The Windows host is
// given "\docs\a.txt", the Linux host "docs/a.txt". Either way: NUL-terminated
// inside FileName[260], no "." or ".." component, no empty component but a
// folder's trailing one, and on Windows no drive or stream colon.
inline bool ReportedNameIsSafe(const char (&fileName)[260]) {
  if (std::memchr(fileName, '\0', sizeof fileName) == nullptr) return false;
  std::string name(fileName);
#ifdef _WIN32
  if (name.size() < 2 || name[0] != '\\') return false;
  name.erase(0, 1);
  if (name.find(':') != std::string::npos) return false;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
#endif
  if (name.empty() || name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "." || component == "..") return false;
    if (component.empty() && end != name.size()) return false;
    start = end + 1;
  }
  return true;
}

struct ListedEntry {
  std::string name;
  bool nameSafe = false;
  int unpackedSize = 0;
  int packedSize = 0;
  int testResult = -1;
};

struct Listing {
  int openResult = 0;  // OpenResult when the archive did not open, else 0
  int endResult = 0;  // what the last ReadHeader answered
  std::vector<ListedEntry> entries;
  bool opened() const { return openResult == 0; }
};

// Opens the archive, reads every header and tests every entry. Stops after
// maxEntries headers so that a broken directory cannot loop for ever.
inline Listing ListAndTest(const ModuleApi& module, const std::string& path, size_t maxEntries = 100000) {
  Listing listing;
  std::string name = path;
  tOpenArchiveData open{};
  open.ArcName = &name[0];
  open.OpenMode = PK_OM_EXTRACT;
  HANDLE_WCX handle = module.OpenArchive(&open);
  if (handle == nullptr) {
    listing.openResult = open.OpenResult != 0 ? open.OpenResult : -1;
    return listing;
  }
  while (listing.entries.size() < maxEntries) {
    tHeaderData header{};
    const int read = module.ReadHeader(handle, &header);
    if (read != 0) {
      listing.endResult = read;
      break;
    }
    ListedEntry entry;
    entry.nameSafe = ReportedNameIsSafe(header.FileName);
    entry.name.assign(header.FileName, strnlen(header.FileName, sizeof header.FileName));
    entry.unpackedSize = header.UnpSize;
    entry.packedSize = header.PackSize;
    entry.testResult = module.ProcessFile(handle, PK_TEST, nullptr, nullptr);
    listing.entries.push_back(entry);
  }
  module.CloseArchive(handle);
  return listing;
}

// Extracts every entry of the archive as folder/e0, folder/e1... (flat names:
// the folder layout is the host's business). The results in entry order;
// empty when the archive does not open.
inline std::vector<int> ExtractEach(const ModuleApi& module, const std::string& path, const std::string& folder) {
  std::vector<int> results;
  std::string name = path;
  tOpenArchiveData open{};
  open.ArcName = &name[0];
  open.OpenMode = PK_OM_EXTRACT;
  HANDLE_WCX handle = module.OpenArchive(&open);
  if (handle == nullptr) return results;
  std::string destPath = folder + NativeSeparator();
  for (;;) {
    tHeaderData header{};
    if (module.ReadHeader(handle, &header) != 0) break;
    std::string destName = "e" + std::to_string(results.size());
    results.push_back(module.ProcessFile(handle, PK_EXTRACT, &destPath[0], &destName[0]));
  }
  module.CloseArchive(handle);
  return results;
}

}  // namespace tvx::test::reliability

#endif
