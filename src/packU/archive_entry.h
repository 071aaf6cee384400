// One directory record of an archive.
#ifndef TOLVEX_PACKU_ARCHIVE_ENTRY_H
#define TOLVEX_PACKU_ARCHIVE_ENTRY_H

#include <cstdint>
#include <string>

namespace tvx {

struct ArchiveEntry {
  std::string name;          // '/' as separator, trailing '/' for a directory
  int32_t time = 0;          // wall-clock seconds since 1970
  int32_t unpackedSize = 0;  // content length; only a value above 0 has content
  int32_t packedSize = 0;    // bytes in the data area
  int32_t dataOffset = 0;    // from the start of the data area

  // A non-empty name whose last character is '/'.
  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
  bool HasContent() const { return unpackedSize > 0; }
  // Deflated when the packed bytes are fewer than the content; stored otherwise.
  bool IsDeflated() const { return packedSize < unpackedSize; }
  // The record's size on disk.
  uint32_t RecordSize() const;
};

// Appends the record's bytes to out: the low 16 bits of the name's length,
// exactly that many name bytes, then the four numbers.
void AppendRecord(const ArchiveEntry& entry, std::string& out);
// The same record, but with its data placed at dataOffset and packedSize
// long, written at out, which has room for RecordSize() bytes; returns the
// end of what was written. A kept entry's record is written so, without a
// copy of the entry.
char* PutRecord(const ArchiveEntry& entry, int32_t packedSize, int32_t dataOffset, char* out);

// Parses one record at data[pos..size). On success fills entry, advances pos
// and returns true; false (entry and pos unspecified) when the record runs past
// the end.
bool ParseRecord(const uint8_t* data, size_t size, size_t& pos, ArchiveEntry& entry);

}  // namespace tvx

#endif
