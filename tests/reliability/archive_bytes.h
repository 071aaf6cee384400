// Archives as bytes: writing ones the module would never write (hostile
// names, records pointing anywhere) and finding where each field of a real
// one lies, so that damage can be aimed at a known field.
#ifndef TOLVEX_TESTS_RELIABILITY_ARCHIVE_BYTES_H
#define TOLVEX_TESTS_RELIABILITY_ARCHIVE_BYTES_H

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::test::reliability {

constexpr size_t kHeaderBytes = 14;
constexpr size_t kRecordNumbersBytes = 16;

inline void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline uint32_t GetLe(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return value;
}

// One record as it will be written; offset < 0 places the data right after
// the previous entry's.
struct RawEntry {
  std::string name;
  std::string data;           // packed bytes
  int32_t unpackedSize = -1;  // -1: data.size() (stored)
  int32_t time = 1600000000;
  int32_t offset = -1;
};

inline RawEntry Deflated(const std::string& name, const std::string& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  packed.resize(size);
  RawEntry entry;
  entry.name = name;
  entry.data = packed;
  entry.unpackedSize = static_cast<int32_t>(content.size());
  return entry;
}

inline RawEntry Stored(const std::string& name, const std::string& content) {
  RawEntry entry;
  entry.name = name;
  entry.data = content;
  return entry;
}

inline std::string ArchiveHeader(int32_t count) {
  std::string out = "TOLVEX";
  PutLe(out, 100, 4);
  PutLe(out, static_cast<uint32_t>(count), 4);
  return out;
}

inline std::string WriteArchive(const std::vector<RawEntry>& entries) {
  std::string out = ArchiveHeader(static_cast<int32_t>(entries.size()));
  std::string data;
  for (const RawEntry& e : entries) {
    PutLe(out, static_cast<uint32_t>(e.name.size()), 2);
    out += e.name;
    PutLe(out, static_cast<uint32_t>(e.time), 4);
    PutLe(out, static_cast<uint32_t>(e.unpackedSize < 0 ? static_cast<int32_t>(e.data.size()) : e.unpackedSize), 4);
    PutLe(out, static_cast<uint32_t>(e.data.size()), 4);
    PutLe(out, static_cast<uint32_t>(e.offset < 0 ? static_cast<int32_t>(data.size()) : e.offset), 4);
    if (e.offset < 0) data += e.data;
  }
  return out + data;
}

// Where one record's pieces lie in the file (absolute byte positions).
struct RecordLayout {
  std::string name;
  size_t lengthAt = 0;  // the uint16 name length
  size_t nameAt = 0;
  size_t timeAt = 0;
  size_t unpackedAt = 0;
  size_t packedAt = 0;
  size_t offsetAt = 0;
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

// The layout of a well-formed archive (as the module writes them).
inline ArchiveLayout ParseLayout(const std::string& bytes) {
  ArchiveLayout layout;
  if (bytes.size() < kHeaderBytes || bytes.compare(0, 6, "TOLVEX") != 0) return layout;
  const auto count = static_cast<int32_t>(GetLe(bytes, 10, 4));
  size_t pos = kHeaderBytes;
  for (int32_t i = 0; i < count; ++i) {
    if (pos + 2 > bytes.size()) return layout;
    RecordLayout r;
    r.lengthAt = pos;
    const uint32_t length = GetLe(bytes, pos, 2);
    r.nameAt = pos + 2;
    if (r.nameAt + length + kRecordNumbersBytes > bytes.size()) return layout;
    r.name = bytes.substr(r.nameAt, length);
    r.timeAt = r.nameAt + length;
    r.unpackedAt = r.timeAt + 4;
    r.packedAt = r.timeAt + 8;
    r.offsetAt = r.timeAt + 12;
    r.unpackedSize = static_cast<int32_t>(GetLe(bytes, r.unpackedAt, 4));
    r.packedSize = static_cast<int32_t>(GetLe(bytes, r.packedAt, 4));
    pos = r.timeAt + kRecordNumbersBytes;
    layout.records.push_back(r);
  }
  layout.dataStart = pos;
  for (RecordLayout& r : layout.records) {
    const size_t offset = GetLe(bytes, r.offsetAt, 4);
    r.dataBegin = layout.dataStart + offset;
    r.dataEnd = r.dataBegin + static_cast<uint32_t>(r.packedSize);
  }
  layout.ok = true;
  return layout;
}

}  // namespace tvx::test::reliability

#endif
