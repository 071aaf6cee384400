#include "packU/archive_entry.h"

#include "packU/format.h"
#include "packU/little_endian.h"

namespace tvx {

uint32_t ArchiveEntry::RecordSize() const {
  return kRecordFixedSize + static_cast<uint32_t>(name.size() & kMaxNameLength);
}

void AppendRecord(const ArchiveEntry& entry, std::string& out) {
  const uint16_t length = static_cast<uint16_t>(entry.name.size() & kMaxNameLength);
  // Three appends per record, not one per field: a directory of many entries
  // is built of these.
  const char head[2] = {static_cast<char>(length & 0xFF), static_cast<char>(length >> 8)};
  const uint32_t numbers[4] = {static_cast<uint32_t>(entry.time), static_cast<uint32_t>(entry.unpackedSize),
                               static_cast<uint32_t>(entry.packedSize), static_cast<uint32_t>(entry.dataOffset)};
  char tail[16];
  for (size_t i = 0; i < 16; ++i) tail[i] = static_cast<char>((numbers[i / 4] >> (8 * (i % 4))) & 0xFF);
  out.append(head, 2);
  out.append(entry.name.data(), length);
  out.append(tail, sizeof tail);
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
