// Reads an archive's entries through the module, in the host's calling order:
// OpenArchive, then ReadHeader and one ProcessFile per entry, then CloseArchive.
#ifndef TOLVEX_CLI_ARCHIVE_READER_H
#define TOLVEX_CLI_ARCHIVE_READER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host_dialect.h"
#include "plugin_module.h"

namespace tvx::cli {

// One entry as the module reported it.
struct ArchiveEntry {
  std::string reported;  // FileName exactly as reported
  std::string name;      // for people: no leading separator
  std::string key;       // CanonicalKey of the name
  int64_t size = 0;
  int64_t packed = 0;
  int fileTime = 0;
  bool directory = false;
};

ArchiveEntry EntryFromHeader(const HostDialect& d, const tHeaderData& header);

// An archive opened through the module; closed by the destructor.
class OpenedArchive {
 public:
  OpenedArchive(const PluginModule& module, const std::string& path, int openMode);
  ~OpenedArchive();
  OpenedArchive(const OpenedArchive&) = delete;
  OpenedArchive& operator=(const OpenedArchive&) = delete;

  bool IsOpen() const { return handle_ != nullptr; }
  // OpenResult of a failed open.
  int OpenResult() const { return openResult_; }
  HANDLE_WCX Handle() const { return handle_; }
  // ReadHeader into a zeroed record: 0, E_END_ARCHIVE or a failure code.
  int ReadHeader(tHeaderData& header);
  // ProcessFile with DestPath NULL and DestName the full target (may be empty).
  int ProcessFile(int operation, const std::string& target);
  // ProcessFile with DestPath folder (ending in a separator) and DestName the
  // name below it: the module then refuses links met below the folder.
  int ProcessFile(int operation, const std::string& folder, const std::string& name);

 private:
  const PluginModule& module_;
  std::string path_;  // kept alive: the module may hold on to ArcName
  HANDLE_WCX handle_ = nullptr;
  int openResult_ = 0;
};

// Opens the archive for extraction and calls onEntry for every entry in order;
// onEntry calls ProcessFile once. Progress over total bytes is shown when
// wanted. A signal (InterruptCleanup) ends the walk after the entry it stopped. False, after saying why, when the archive cannot be opened or its
// directory breaks off.
bool ProcessEveryEntry(const PluginModule& module, const std::string& archive, const HostDialect& dialect,
                       int64_t total, bool showProgress,
                       const std::function<void(OpenedArchive&, const ArchiveEntry&)>& onEntry);

struct ListingResult {
  int code = 0;  // 0, or the code that stopped the listing (open or read failure)
  std::vector<ArchiveEntry> entries;
};

// Lists every entry (OpenMode PK_OM_LIST, PK_SKIP for each).
ListingResult ReadListing(const PluginModule& module, const std::string& archive);

// Checks the archive file exists and lists it. On failure prints why and
// returns false; the caller exits with kExitUnusable.
bool ReadListingOrReport(const PluginModule& module, const std::string& archive,
                         std::vector<ArchiveEntry>& entries);

}  // namespace tvx::cli

#endif
