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
  out = PutLe16(out, length);
  std::memcpy(out, entry.name.data(), length);
  out += length;
  out = PutLe32(out, static_cast<uint32_t>(entry.time));
  out = PutLe32(out, static_cast<uint32_t>(entry.unpackedSize));
  out = PutLe32(out, static_cast<uint32_t>(packedSize));
  return PutLe32(out, static_cast<uint32_t>(dataOffset));
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
  // Appended to an emptied name: cheaper than assigning over it, and most
  // names are parsed into fresh entries.
  entry.name.clear();
  entry.name.append(reinterpret_cast<const char*>(data + pos), length);
  pos += length;
  entry.time = static_cast<int32_t>(ReadLe32(data + pos));
  entry.unpackedSize = static_cast<int32_t>(ReadLe32(data + pos + 4));
  entry.packedSize = static_cast<int32_t>(ReadLe32(data + pos + 8));
  entry.dataOffset = static_cast<int32_t>(ReadLe32(data + pos + 12));
  pos += 16;
  return true;
}

}  // namespace tvx
