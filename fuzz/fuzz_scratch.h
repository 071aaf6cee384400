// Scratch space and checks shared by the fuzz harnesses. Harnesses may call
// the operating system directly; the code under test may not.
#ifndef TOLVEX_FUZZ_FUZZ_SCRATCH_H
#define TOLVEX_FUZZ_FUZZ_SCRATCH_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace tvx::fuzz {

// Stops the run with a message libFuzzer shows next to the crash input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "FUZZ INVARIANT BROKEN: %s %s\n", what, detail.c_str());
  std::abort();
}

inline void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// Removes its folder when the process ends normally (a crash keeps it, with
// the files the failing input left).
struct OwnedFolder {
  std::string path;
  ~OwnedFolder() { RemoveTree(path); }
};

// A folder of this process's own, made once, on tmpfs when there is one
// (every input writes files; memory is much faster than the disk).
inline const std::string& ScratchRoot() {
  static const OwnedFolder root{[] {
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) {
      const char* tmp = std::getenv("TMPDIR");
      base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    }
    std::string pattern = base + "/tolvex-fuzz-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) Fail("cannot make a scratch folder under", base);
    return pattern;
  }()};
  return root.path;
}

inline bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

inline std::string ReadBytes(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, got);
  std::fclose(f);
  return out;
}

inline void MakeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

// Names directly inside folder.
inline std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(it->path().filename().string());
  }
  return names;
}

}  // namespace tvx::fuzz

#endif
