// Archives as bytes, laid down independently of the module's writer: ones the
// module would never write (hostile names, records pointing anywhere, broken
// streams), the layout of a real one so damage can be aimed at a known field,
// and the zlib streams and sample bytes the entries hold.
#ifndef TOLVEX_TESTS_SUPPORT_ARCHIVE_BYTES_H
#define TOLVEX_TESTS_SUPPORT_ARCHIVE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvx::test {

constexpr size_t kHeaderBytes = 14;         // "TOLVEX", version, entry count
constexpr size_t kRecordNumbersBytes = 16;  // time, unpacked, packed, offset

// value as `bytes` little-endian bytes.
void PutLe(std::string& out, uint32_t value, int bytes);

// "54 4F 4C" -> the three bytes; anything but hex digits is ignored.
std::string FromHex(const std::string& text);

// One entry as it will be written. offset < 0 places the data right after the
// previous entry's; otherwise the record points there and no data is added.
struct RawEntry {
  std::string name;           // '/' separators, a trailing '/' for a folder
  std::string data;           // bytes as stored in the data area
  int32_t unpackedSize = -1;  // -1: data.size(), i.e. stored
  int32_t time = 1600000000;
  int32_t offset = -1;
};

// One record's fields exactly as given, for records no entry list produces.
struct RawRecord {
  std::string name;
  int32_t time = 0;
  int32_t unpackedSize = 0;
  int32_t packedSize = 0;
  int32_t dataOffset = 0;
};

// A record's fields on one line (the reader's entries and RawRecord alike),
// "name time unpacked/packed@offset", so that a failure shows all of them.
template <typename Record>
std::string RecordText(const Record& r) {
  return r.name + " " + std::to_string(r.time) + " " + std::to_string(r.unpackedSize) + "/" +
         std::to_string(r.packedSize) + "@" + std::to_string(r.dataOffset);
}

std::string HeaderBytes(uint32_t entryCount, uint32_t version = 100);
std::string RecordBytes(const RawRecord& record);
// Header, records, data area: the format exactly as the module writes it.
std::string ArchiveBytes(const std::vector<RawEntry>& entries, uint32_t version = 100);
// The archive with no entries: header only.
inline std::string EmptyArchiveBytes() { return ArchiveBytes({}); }

// One zlib stream of the bytes, made by zlib itself at level 9; empty on failure.
std::string ZlibCompress(const std::string& bytes);
RawEntry Stored(const std::string& name, const std::string& content);
// A deflated entry: one zlib stream of content.
RawEntry Deflated(const std::string& name, const std::string& content);
// Inflates to the right bytes, but its checksum (the stream's last byte) is wrong.
RawEntry DamagedDeflated(const std::string& name, const std::string& content);

// Bytes without repetition that deflate cannot shrink; the same for a seed.
std::string NoiseBytes(size_t count, uint32_t seed = 2463534242u);
// `lines` numbered lines of text that deflates well.
std::string TextBytes(size_t lines);
// Such text, exactly count bytes (a line is longer than 30).
inline std::string TextLikeBytes(size_t count) { return TextBytes(count / 30 + 1).substr(0, count); }
// Compresses well, so that packed and unpacked sizes differ.
inline std::string Compressible(size_t size, char fill = 'x') { return std::string(size, fill); }

// Where one record's pieces lie in the file (absolute byte positions).
struct RecordLayout {
  std::string name;
  size_t lengthAt = 0;  // the uint16 name length
  size_t nameAt = 0;
  size_t timeAt = 0;
  size_t unpackedAt = 0;
  size_t packedAt = 0;
  size_t offsetAt = 0;
  int32_t time = 0;
  int32_t unpackedSize = 0;
  int32_t packedSize = 0;
  size_t dataBegin = 0;  // the entry's packed bytes: [dataBegin, dataEnd)
  size_t dataEnd = 0;
  bool deflated() const { return packedSize < unpackedSize; }
};

struct ArchiveLayout {
  bool ok = false;
  size_t dataStart = 0;
  std::vector<RecordLayout> records;
};

// The layout of a well-formed archive (as the module writes them); ok is false
// when the directory does not fit in the bytes.
ArchiveLayout ParseLayout(const std::string& bytes);

}  // namespace tvx::test

#endif
