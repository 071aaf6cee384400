#include "generate.h"

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "file_tree.h"

namespace tvx::bench {
namespace {

constexpr size_t kTextPool = 8u << 20;

// xorshift64*: fast, and the same sequence everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  uint64_t Below(uint64_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string TextPool(const std::string& root) {
  std::string pool;
  const Tree tree = ListTree(root);
  std::vector<uint8_t> data;
  for (const TreeItem& item : tree.items) {
    if (item.folder || !ReadWholeFile(root + "/" + item.relative, data)) continue;
    pool.append(data.begin(), data.end());
    if (pool.size() >= kTextPool) break;
  }
  if (pool.size() > kTextPool) pool.resize(kTextPool);
  return pool;
}

void AppendRandomBytes(Random& random, std::string& out, size_t n) {
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t r = random.Next();
    for (size_t b = 0; b < 8 && i + b < n; ++b) out += static_cast<char>(r >> (8 * b));
  }
}

void AppendRecords(Random& random, std::string& out, size_t n) {
  const size_t end = out.size() + n;
  char line[64];
  while (out.size() < end) {
    const int len = std::snprintf(line, sizeof line, "%08llx,%llu,%llu\n",
                                  static_cast<unsigned long long>(random.Below(1ull << 32)),
                                  static_cast<unsigned long long>(random.Below(100000)),
                                  static_cast<unsigned long long>(random.Below(1000)));
    out.append(line, static_cast<size_t>(len));
  }
}

}  // namespace

bool GenerateSmallTree(const std::string& root, int folders, int filesPerFolder, int fileSize) {
  Random random(42);
  std::string content;
  char line[64];
  for (int d = 0; d < folders; ++d) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "/d%03d", d);
    const std::string dir = root + folder;
    if (!MakeFolders(dir)) return false;
    for (int f = 0; f < filesPerFolder; ++f) {
      content.clear();
      while (content.size() < static_cast<size_t>(fileSize)) {
        const int len = std::snprintf(line, sizeof line, "item %d.%d value %llu\n", d, f,
                                      static_cast<unsigned long long>(random.Below(1000000)));
        content.append(line, static_cast<size_t>(len));
      }
      content.resize(static_cast<size_t>(fileSize));
      char name[32];
      std::snprintf(name, sizeof name, "/f%04d.txt", f);
      if (!WriteWholeFile(dir + name, reinterpret_cast<const uint8_t*>(content.data()), content.size())) {
        return false;
      }
    }
  }
  return true;
}

bool GenerateMixedFile(const std::string& path, uint64_t size, const std::string& textRoot) {
  const std::string pool = TextPool(textRoot);
  if (pool.size() < (1u << 20)) {
    std::fprintf(stderr, "gen-big: too little text under %s\n", textRoot.c_str());
    return false;
  }
  FilePtr out(std::fopen(path.c_str(), "wb"));
  if (!out) return false;
  Random random(2024);
  uLong crc = crc32(0, nullptr, 0);
  uint64_t written = 0;
  std::string block;
  while (written < size) {
    block.clear();
    const uint64_t kind = random.Below(100);
    if (kind < 70) {  // text: 1..32 KiB from anywhere in the pool
      const size_t n = 1024 + random.Below(31 * 1024);
      const size_t at = random.Below(pool.size() - n);
      block.assign(pool, at, n);
    } else if (kind < 85) {  // noise: 256 B..8 KiB
      AppendRandomBytes(random, block, 256 + random.Below(8 * 1024 - 256));
    } else {  // records: up to 4 KiB
      AppendRecords(random, block, 256 + random.Below(4 * 1024 - 256));
    }
    if (block.size() > size - written) block.resize(static_cast<size_t>(size - written));
    if (std::fwrite(block.data(), 1, block.size(), out.get()) != block.size()) return false;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
    written += block.size();
  }
  std::fprintf(stderr, "gen-big: %llu bytes, crc32 %08lx, text pool %zu bytes\n",
               static_cast<unsigned long long>(written), crc, pool.size());
  return std::fclose(out.release()) == 0;
}

}  // namespace tvx::bench
