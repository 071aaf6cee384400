// The folders and files under a root, and the plain file I/O the limit is
// made of. Names are relative to the root, '/'-separated, in sorted walk
// order (a folder before what it holds).
#ifndef TOLVEX_BENCH_FILE_TREE_H
#define TOLVEX_BENCH_FILE_TREE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvx::bench {

struct TreeItem {
  std::string relative;
  bool folder = false;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since 1970, set again on extraction
};

struct Tree {
  std::vector<TreeItem> items;
  uint64_t fileCount = 0;
  uint64_t folderCount = 0;
  uint64_t totalBytes = 0;
};

// Regular files and folders only; links and the rest are left out.
Tree ListTree(const std::string& root);

// The host's AddList: each name NUL-terminated, folders with a trailing '/',
// closed by one more NUL.
std::string AddListOf(const Tree& tree);

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data);
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);
bool MakeFolders(const std::string& path);
bool RemoveTree(const std::string& path);
uint64_t FileSizeOf(const std::string& path);
// Exactly size bytes from or to an open descriptor; false on an error or an
// early end.
bool ReadInto(int fd, uint8_t* data, size_t size);
bool WriteFrom(int fd, const uint8_t* data, size_t size);
// Plain copy through one buffer, as a user's copy of the file would cost.
bool CopyFile(const std::string& from, const std::string& to);

}  // namespace tvx::bench

#endif
