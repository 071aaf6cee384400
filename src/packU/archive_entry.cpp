#include "packU/archive_entry.h"

#include <cstring>

#include "packU/format.h"
#include "packU/little_endian.h"

namespace tvx {

uint32_t ArchiveEntry::RecordSize() const {
  return kRecordFixedSize + static_cast<uint32_t>(name.size() & kMaxNameLength);
}

char* PutRecord(const ArchiveEntry& entry, int32_t packedSize, int32_t dataOffset, char* out) {
  const uint16_t length = static_cast<uint16_t>(entry.name.size() & kMaxNameLength);
  const uint32_t numbers[4] = {static_cast<uint32_t>(entry.time), static_cast<uint32_t>(entry.unpackedSize),
                               static_cast<uint32_t>(packedSize), static_cast<uint32_t>(dataOffset)};
  *out++ = static_cast<char>(length & 0xFF);
  *out++ = static_cast<char>(length >> 8);
  std::memcpy(out, entry.name.data(), length);
  out += length;
  for (uint32_t number : numbers) {
    for (int shift = 0; shift < 32; shift += 8) *out++ = static_cast<char>((number >> shift) & 0xFF);
  }
  return out;
}

void AppendRecord(const ArchiveEntry& entry, std::string& out) {
  const size_t at = out.size();
  out.resize(at + entry.RecordSize());
  PutRecord(entry, entry.packedSize, entry.dataOffset, &out[at]);
}

bool ParseRecord(const uint8_t* data, size_t size, size_t& pos, ArchiveEntry& entry) {
  if (size - pos < 2) return false;
  const uint16_t length = ReadLe16(data + pos);
  if (size - pos < kRecordFixedSize + length) return false;
  pos += 2;
  entry.name.assign(reinterpret_cast<const char*>(data + pos), length);
  pos += length;
  entry.time = static_cast<int32_t>(ReadLe32(data + pos));
  entry.unpackedSize = static_cast<int32_t>(ReadLe32(data + pos + 4));
  entry.packedSize = static_cast<int32_t>(ReadLe32(data + pos + 8));
  entry.dataOffset = static_cast<int32_t>(ReadLe32(data + pos + 12));
  pos += 16;
  return true;
}

}  // namespace tvx
