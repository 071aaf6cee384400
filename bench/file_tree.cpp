#include "file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace tvx::bench {
namespace {

constexpr size_t kCopyBuffer = 1u << 20;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void Walk(const std::string& root, const std::string& prefix, Tree& tree) {
  for (const std::string& name : SortedNames(prefix.empty() ? root : root + "/" + prefix)) {
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    struct stat st {};
    if (lstat((root + "/" + relative).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      tree.items.push_back(TreeItem{relative, true, 0});
      ++tree.folderCount;
      Walk(root, relative, tree);
    } else if (S_ISREG(st.st_mode)) {
      const auto size = static_cast<uint64_t>(st.st_size);
      tree.items.push_back(TreeItem{relative, false, size, static_cast<int64_t>(st.st_mtime)});
      ++tree.fileCount;
      tree.totalBytes += size;
    }
  }
}

}  // namespace

Tree ListTree(const std::string& root) {
  Tree tree;
  Walk(root, "", tree);
  return tree;
}

std::string AddListOf(const Tree& tree) {
  std::string list;
  for (const TreeItem& item : tree.items) {
    list += item.relative;
    if (item.folder) list += '/';
    list += '\0';
  }
  list += '\0';
  return list;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return false;
  data.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t got = read(fd.get(), data.data() + done, data.size() - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  return fd.ok() && WriteFrom(fd.get(), data, size);
}

bool MakeFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return !ec;
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return !ec;
}

uint64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
  Fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!in.ok() || !out.ok()) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyBuffer]);
  for (;;) {
    const ssize_t got = read(in.get(), buffer.get(), kCopyBuffer);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteFrom(out.get(), buffer.get(), static_cast<size_t>(got))) return false;
  }
}

bool ReadInto(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteFrom(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace tvx::bench
