// Writes Tolvex archives byte by byte, for names and contents the module
// would never produce itself (climbing names, broken data).
#ifndef TOLVEX_TESTS_CLI_ARCHIVE_CRAFT_H
#define TOLVEX_TESTS_CLI_ARCHIVE_CRAFT_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::test {

struct CraftedEntry {
  std::string name;  // '/' separators, a trailing '/' for a folder
  std::string data;  // bytes as stored
  int32_t unpacked_size = -1;  // -1: data.size() (stored); smaller data means deflated
  int32_t time = 1600000000;
};

inline void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Header, one record per entry, then the data area.
inline std::string CraftArchive(const std::vector<CraftedEntry>& entries) {
  std::string out = "TOLVEX";
  PutLe(out, 100, 4);
  PutLe(out, static_cast<uint32_t>(entries.size()), 4);
  uint32_t offset = 0;
  for (const CraftedEntry& e : entries) {
    PutLe(out, static_cast<uint32_t>(e.name.size()), 2);
    out += e.name;
    PutLe(out, static_cast<uint32_t>(e.time), 4);
    const int32_t unpacked = e.unpacked_size < 0 ? static_cast<int32_t>(e.data.size()) : e.unpacked_size;
    PutLe(out, static_cast<uint32_t>(unpacked), 4);
    PutLe(out, static_cast<uint32_t>(e.data.size()), 4);
    PutLe(out, offset, 4);
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const CraftedEntry& e : entries) out += e.data;
  return out;
}

}  // namespace tvx::test

#endif
