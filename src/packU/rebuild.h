// Writing a complete new archive: the only writer of the format. An archive is
// never changed in place; every change writes a new file with this.
#ifndef TOLVEX_PACKU_REBUILD_H
#define TOLVEX_PACKU_REBUILD_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "packU/archive.h"
#include "packU/status.h"
#include "packU/work_progress.h"
#include "platform/platform.h"

namespace tvx {

// A file or folder to add.
struct NewItem {
  std::string entryName;   // the final entry name; a trailing '/' makes a folder entry
  std::string sourcePath;  // where it lies on disk
  int64_t size = -1;       // the file's size when the caller has asked already, else -1
};

struct RebuildPlan {
  // The archive whose entries are kept, or null for a new archive. It must be
  // valid and not damaged, and stay open for the whole rebuild; it is not changed.
  Archive* oldArchive = nullptr;
  // Added after the kept entries, in this order. An old entry with the same
  // name is dropped, so packing a file again replaces it.
  std::vector<NewItem> additions;
  // Old entries with exactly these names are dropped.
  std::vector<std::string> removeNames;
  // Folder names ending in '/': the folder's own entry and every entry below
  // it are dropped.
  std::vector<std::string> removeFolders;
  // When set, receives one stamp per addition: its file as it was read (size
  // -1 for a folder or a file that was not read). A mover deletes only files
  // that still match.
  std::vector<platform::FileStamp>* sourceStamps = nullptr;
  // Old entries dropped by their place in the old directory, whatever their
  // names: empty, or one flag per old entry.
  std::vector<bool> dropOld;
  // When set, told of the work as it goes: each new entry's bytes in pieces
  // as they are read (a folder or an empty file once with 0), and the share
  // of the kept entries' bytes copied. When it answers stop, the rebuild
  // ends with kCancelled.
  WorkProgress* progress = nullptr;
};

// Called once per new entry, after its bytes are written.
using NewEntryWritten = std::function<void(const ArchiveEntry&)>;

// Writes the archive to newPath (created, or emptied when it exists) through
// system: the kept
// entries first, their packed bytes copied unchanged, then one entry per
// addition, each deflated at zlib level 9 straight into the output and kept
// when strictly shorter than the file, else stored. A file's unpackedSize is
// the number of bytes actually read when it was stored. Memory stays bounded
// whatever the sizes.
//
// On kOk newPath holds a complete archive. On anything else it holds an
// incomplete file that the caller deletes; the old archive is untouched.
// kTooLarge is decided before the output is opened when a file to add has 2 GiB
// or more; an archive that would reach 2 GiB is found while writing.
// kCreateFailed: the output cannot be created. kWriteFailed: a write, seek or
// truncation of the output failed. kReadFailed: a file to add exists but cannot
// be opened, or yields fewer bytes than its size. kBadArchive: a kept entry's
// bytes lie beyond the old archive's end. kNoMemory: zlib cannot start.
// kCancelled: plan.progress asked to stop.
Status RebuildArchive(platform::System& system, const std::string& newPath, const RebuildPlan& plan, const NewEntryWritten& onNewEntry);

}  // namespace tvx

#endif
