#include "packU/archive_entry.h"

#include "packU/format.h"
#include "packU/little_endian.h"

namespace tvx {

uint32_t ArchiveEntry::RecordSize() const {
  return kRecordFixedSize + static_cast<uint32_t>(name.size() & kMaxNameLength);
}

void AppendRecord(const ArchiveEntry& entry, std::string& out) {
  const uint16_t length = static_cast<uint16_t>(entry.name.size() & kMaxNameLength);
  AppendLe16(out, length);
  out.append(entry.name, 0, length);
  AppendLe32(out, static_cast<uint32_t>(entry.time));
  AppendLe32(out, static_cast<uint32_t>(entry.unpackedSize));
  AppendLe32(out, static_cast<uint32_t>(entry.packedSize));
  AppendLe32(out, static_cast<uint32_t>(entry.dataOffset));
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
