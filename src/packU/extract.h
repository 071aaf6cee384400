// What can be done with one entry of an open archive: extract it, verify it,
// or pass over it.
#ifndef TOLVEX_PACKU_EXTRACT_H
#define TOLVEX_PACKU_EXTRACT_H

#include <string>
#include <unordered_set>
#include <vector>

#include "packU/archive.h"
#include "packU/status.h"
#include "packU/work_progress.h"

namespace tvx {

// What the extractions from one archive remember between entries; the caller
// keeps it for as long as it extracts (the host's handle does).
struct ExtractionMemory {
  // Folders extracted with their entry times. Writing into a folder changes
  // its time, so RestoreFolderTimes sets it once more for each of these when
  // the caller is done.
  struct Folder {
    std::string path;
    int32_t time = 0;
  };
  std::vector<Folder> folders;
  // Folders below an extraction's destination already found to be folders,
  // not links: each is looked at once, not once per entry.
  std::unordered_set<std::string> verifiedFolders;
  // The destination folder last asked whether its path holds no link, and the
  // answer. Where it holds none, new files are made refusing any link on
  // their path: a folder found real earlier and swapped for a link since is
  // not written through.
  std::string destination;
  bool destinationLinkFree = false;
};

// Extracts entry to target (a complete path). A directory entry creates that
// one folder (an existing folder is fine). A file entry for a new name is
// created there, and removed again unless all unpackedSize bytes arrived
// intact; when the name exists, the entry is written to a temporary name
// beside it and renamed onto it only when complete. So a damaged entry or a
// failed write never leaves a damaged file under the target's name (only a
// killed process can, and only for a new name), and an existing target
// survives a failed extraction.
// An existing file's permission bits (Windows: hidden, system and archive
// attributes) carry over to its replacement. The file, or the folder, gets the
// entry's time (a failure there fails nothing); a folder is also remembered in
// memory (when given; else only for this call) for RestoreFolderTimes.
//
// destFolderLength is the length of the leading part of target that the
// caller named as the destination folder; when it is above 0 no component of
// target after it, the last one included, may be a symbolic link, so nothing
// is ever written outside that folder through a link found there.
//
// kCreateFailed: the target (or its temporary) cannot be created, or a link
// lies in its way; kWriteFailed: a write was short or failed; kBadData: the
// entry's sizes read negative (nothing is written then), a deflated entry does
// not inflate to exactly unpackedSize bytes with a good checksum, or a stored
// entry's bytes run past the end of the archive; kReadFailed: reading the
// archive failed (a disk error, not damage); kNoMemory: zlib cannot start.
//
// progress, when given, is told of the entry: a file's content in pieces as
// they are written (about every MiB), any other entry once before anything
// is done; the pieces add up to unpackedSize (0 when it reads negative), also
// when the extraction fails. When it answers stop: kCancelled, and nothing of
// the entry stays (the file or its temporary removed, an existing target as
// it was).
Status ExtractEntry(Archive& archive, const ArchiveEntry& entry, const std::string& target,
                    size_t destFolderLength = 0, WorkProgress* progress = nullptr,
                    ExtractionMemory* memory = nullptr);

// Sets the time of every folder in memory again, deepest first, now that
// their contents are written, and forgets them; failures are ignored.
void RestoreFolderTimes(platform::System& system, ExtractionMemory& memory);

// Reads the entry as extraction would and discards the bytes: kOk, kBadData
// (also for sizes that read negative), kReadFailed or kNoMemory. Nothing is written anywhere.
// progress as for ExtractEntry; kCancelled when it says stop.
Status TestEntry(Archive& archive, const ArchiveEntry& entry, WorkProgress* progress = nullptr);

// Passes over the entry: nothing is read, checked or moved.
void SkipEntry(Archive& archive, const ArchiveEntry& entry);

}  // namespace tvx

#endif
