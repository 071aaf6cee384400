#include "support/archive_bytes.h"

#include <zlib.h>

#include <cctype>

namespace tvx::test {

void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// `count` little-endian bytes at `at` (the caller keeps them inside bytes).
static uint32_t GetLe(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)])) << (8 * i);
  }
  return value;
}

std::string FromHex(const std::string& text) {
  std::string digits, out;
  for (char c : text) if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string HeaderBytes(uint32_t entryCount, uint32_t version) {
  std::string out = "TOLVEX";
  PutLe(out, version, 4);
  PutLe(out, entryCount, 4);
  return out;
}

std::string RecordBytes(const RawRecord& r) {
  std::string out;
  PutLe(out, static_cast<uint32_t>(r.name.size()), 2);
  out += r.name;
  PutLe(out, static_cast<uint32_t>(r.time), 4);
  PutLe(out, static_cast<uint32_t>(r.unpackedSize), 4);
  PutLe(out, static_cast<uint32_t>(r.packedSize), 4);
  PutLe(out, static_cast<uint32_t>(r.dataOffset), 4);
  return out;
}

std::string ArchiveBytes(const std::vector<RawEntry>& entries, uint32_t version) {
  std::string out = HeaderBytes(static_cast<uint32_t>(entries.size()), version);
  std::string data;
  for (const RawEntry& e : entries) {
    RawRecord r;
    r.name = e.name;
    r.time = e.time;
    r.unpackedSize = e.unpackedSize < 0 ? static_cast<int32_t>(e.data.size()) : e.unpackedSize;
    r.packedSize = static_cast<int32_t>(e.data.size());
    r.dataOffset = e.offset < 0 ? static_cast<int32_t>(data.size()) : e.offset;
    out += RecordBytes(r);
    if (e.offset < 0) data += e.data;
  }
  return out + data;
}

std::string ZlibCompress(const std::string& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                static_cast<uLong>(bytes.size()), 9) != Z_OK) {
    return std::string();
  }
  out.resize(size);
  return out;
}

RawEntry Stored(const std::string& name, const std::string& content) {
  RawEntry entry;
  entry.name = name;
  entry.data = content;
  return entry;
}

RawEntry Deflated(const std::string& name, const std::string& content) {
  RawEntry entry;
  entry.name = name;
  entry.data = ZlibCompress(content);
  entry.unpackedSize = static_cast<int32_t>(content.size());
  return entry;
}

RawEntry DamagedDeflated(const std::string& name, const std::string& content) {
  RawEntry entry = Deflated(name, content);
  entry.data.back() = static_cast<char>(entry.data.back() ^ 0x5A);
  return entry;
}

std::string NoiseBytes(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  uint32_t x = seed ? seed : 1;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::string TextBytes(size_t lines) {
  std::string out;
  for (size_t i = 0; i < lines; ++i) out += "line " + std::to_string(i) + " of a text that deflates well\n";
  return out;
}

ArchiveLayout ParseLayout(const std::string& bytes) {
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
    r.time = static_cast<int32_t>(GetLe(bytes, r.timeAt, 4));
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

}  // namespace tvx::test
