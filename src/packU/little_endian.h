// Little-endian integers in byte buffers, independent of the host's byte order.
#ifndef TOLVEX_PACKU_LITTLE_ENDIAN_H
#define TOLVEX_PACKU_LITTLE_ENDIAN_H

#include <cstdint>
#include <string>

namespace tvx {

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Written at out; each returns the end of what it wrote.
inline char* PutLe16(char* out, uint16_t v) {
  out[0] = static_cast<char>(v & 0xFF);
  out[1] = static_cast<char>(v >> 8);
  return out + 2;
}

inline char* PutLe32(char* out, uint32_t v) {
  out[0] = static_cast<char>(v & 0xFF);
  out[1] = static_cast<char>((v >> 8) & 0xFF);
  out[2] = static_cast<char>((v >> 16) & 0xFF);
  out[3] = static_cast<char>(v >> 24);
  return out + 4;
}

// One append per value: a directory of many entries is built of these.
inline void AppendLe16(std::string& out, uint16_t v) {
  const char bytes[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  out.append(bytes, 2);
}

inline void AppendLe32(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                         static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
  out.append(bytes, 4);
}

}  // namespace tvx

#endif
