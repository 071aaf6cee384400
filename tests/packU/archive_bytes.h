// Helpers for the archive core's tests: archives written byte by byte (so the
// reader is checked against bytes laid down independently of the writer), hex
// notation for expected bytes, zlib streams made straight with zlib, and a
// guard that always switches fault injection off again.
#ifndef TOLVEX_TESTS_PACKU_ARCHIVE_BYTES_H
#define TOLVEX_TESTS_PACKU_ARCHIVE_BYTES_H

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tvx::test {

// "54 4F 4C" -> the three bytes; spaces are ignored.
inline std::string FromHex(const std::string& text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  int high = -1;
  for (char c : text) {
    const int d = digit(c);
    if (d < 0) continue;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
  return out;
}

inline void PutLe16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void PutLe32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

inline uint32_t GetLe32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

inline std::string HeaderBytes(uint32_t entryCount, uint32_t version = 100) {
  std::string out = "TOLVEX";
  PutLe32(out, version);
  PutLe32(out, entryCount);
  return out;
}

struct RawRecord {
  std::string name;
  int32_t time = 0;
  int32_t unpackedSize = 0;
  int32_t packedSize = 0;
  int32_t dataOffset = 0;
};

inline std::string RecordBytes(const RawRecord& r) {
  std::string out;
  PutLe16(out, static_cast<uint32_t>(r.name.size()));
  out += r.name;
  PutLe32(out, static_cast<uint32_t>(r.time));
  PutLe32(out, static_cast<uint32_t>(r.unpackedSize));
  PutLe32(out, static_cast<uint32_t>(r.packedSize));
  PutLe32(out, static_cast<uint32_t>(r.dataOffset));
  return out;
}

// An entry to lay out canonically: data back to back in directory order.
struct CraftEntry {
  std::string name;
  std::string packed;        // the bytes in the data area
  int32_t unpackedSize = -1; // exactly -1: packed.size() (a stored entry)
  int32_t time = 1118836800;
};

inline std::string CraftArchive(const std::vector<CraftEntry>& entries, uint32_t version = 100) {
  std::string out = HeaderBytes(static_cast<uint32_t>(entries.size()), version);
  std::string data;
  for (const CraftEntry& e : entries) {
    RawRecord r;
    r.name = e.name;
    r.time = e.time;
    r.unpackedSize = e.unpackedSize == -1 ? static_cast<int32_t>(e.packed.size()) : e.unpackedSize;
    r.packedSize = static_cast<int32_t>(e.packed.size());
    r.dataOffset = static_cast<int32_t>(data.size());
    out += RecordBytes(r);
    data += e.packed;
  }
  return out + data;
}

// One zlib stream of the bytes, compressed by zlib itself at level 9.
inline std::string ZlibCompress(const std::string& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                static_cast<uLong>(bytes.size()), 9) != Z_OK) {
    return std::string();
  }
  out.resize(size);
  return out;
}

// Bytes without repetition that deflate cannot shrink; the same for a seed.
inline std::string NoiseBytes(size_t n, uint32_t seed = 2463534242u) {
  std::string out(n, '\0');
  uint32_t x = seed ? seed : 1;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

// Text that compresses well but not trivially.
inline std::string TextLikeBytes(size_t n) {
  static const char kWords[] = "entry record folder stream level window packed stored ";
  std::string out(n, '\0');
  uint32_t x = 7;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = (x >> 28) == 0 ? static_cast<char>('0' + (x >> 16) % 10) : kWords[i % (sizeof kWords - 1)];
  }
  return out;
}

}  // namespace tvx::test

#endif
