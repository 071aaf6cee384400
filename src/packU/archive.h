// An open archive: its file, held for reading for the object's whole life, and
// its directory, read completely when the archive is opened.
#ifndef TOLVEX_PACKU_ARCHIVE_H
#define TOLVEX_PACKU_ARCHIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "packU/archive_entry.h"
#include "streams/file_stream.h"
#include "streams/read_ahead_stream.h"
#include "streams/slice_stream.h"

namespace tvx {

class Archive {
 public:
  // How opening went; anything but kOk leaves the archive without entries.
  enum class OpenResult {
    kOk,
    kNotThisFormat,  // missing, not openable, foreign, or shorter than the magic
    kDamaged,        // the magic, but a directory that ends early or claims more records than fit
    kReadFailed,     // reading failed where the file has bytes (a bad sector, a dropped share)
  };

  // Always returns an archive; the caller looks at result(). The archive
  // keeps system: what is done with its entries (extraction) goes through it.
  static std::unique_ptr<Archive> NewArchive(platform::System& system, const std::string& fileName);

  OpenResult result() const { return result_; }
  // The file begins with the magic: it is of this format.
  bool valid() const { return valid_; }
  // Of this format, but the directory is unusable (damaged, or not read
  // whole); only ever report and free such an archive.
  bool damaged() const { return valid_ && result_ != OpenResult::kOk; }
  bool readFailed() const { return result_ == OpenResult::kReadFailed; }
  // The header's version field; 0xFFFF when the magic did not match.
  uint32_t version() const { return version_; }
  // File offset of the data area.
  uint32_t dataStart() const { return dataStart_; }
  uint32_t fileSize() const { return fileSize_; }
  const std::string& fileName() const { return fileName_; }
  platform::System& system() const { return *system_; }

  // The directory as read; the archive's entries never change.
  const std::vector<ArchiveEntry>& entries() const { return entries_; }
  // The entry at index, or null outside 0..count-1.
  const ArchiveEntry* EntryAt(int32_t index) const;

  // The file offset of the entry's bytes (dataStart + dataOffset in 32 bits).
  uint32_t EntryDataPosition(const ArchiveEntry& entry) const;
  // True when all packedSize bytes of the entry lie inside the file.
  bool EntryDataPresent(const ArchiveEntry& entry) const;
  // The entry's packed bytes as a stream over the archive file (not held in
  // memory). Reads end at the file's end when the entry reaches beyond it.
  SliceStream EntryData(const ArchiveEntry& entry);

  // True when entries' packed bytes overlap; each entry but one of every
  // overlapping group shares them (SharesData; the one whose record fits the
  // layout best, else the first, keeps them). A writer of the format puts every entry's
  // bytes after the previous one's: records that share bytes are damage, or
  // a decompression bomb (many records inflating one stream). Folders and
  // entries without content read nothing and share with none.
  bool HasSharedData() const { return sharedData_; }
  // True for an entry of entries() whose bytes another one keeps (and for
  // any entry not in that list while some entry shares).
  bool SharesData(const ArchiveEntry& entry) const;

  // The archive file, read through a window that serves neighbouring small
  // entries from memory.
  ByteStream& stream() { return *reader_; }

 private:
  explicit Archive(platform::System& system) : system_(&system) {}
  OpenResult ReadHeaderAndDirectory();
  OpenResult ReadDirectory(int32_t entryCount);
  void MarkSharedData();
  // A read that stopped short: damage when the file simply ended there.
  static OpenResult ShortRead(const platform::IoError& error);

  platform::System* system_;
  std::unique_ptr<FileStream> stream_;
  std::unique_ptr<ReadAheadStream> reader_;  // over stream_
  std::string fileName_;
  uint32_t version_ = 0;
  bool valid_ = false;
  OpenResult result_ = OpenResult::kNotThisFormat;
  uint32_t dataStart_ = 0;
  uint32_t fileSize_ = 0;
  std::vector<ArchiveEntry> entries_;
  bool sharedData_ = false;
  // Each entry's data begin at or after the end of the previous one's.
  bool dataAscends_ = true;
  // One per entry once any shares data, else empty: kept apart from the
  // entries, which are many and are best small.
  std::vector<bool> sharesData_;
};

}  // namespace tvx

#endif
