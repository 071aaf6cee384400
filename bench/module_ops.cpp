#include "module_ops.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "file_tree.h"
#include "stopwatch.h"

namespace tvx::bench {
namespace {

long progressCalls = 0;

// A host's progress callback: counts and never cancels.
int WCX_API Progress(char*, int) {
  ++progressCalls;
  return 1;
}

std::vector<char> Writable(const std::string& s) { return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1); }

bool IsFolderEntry(const tHeaderData& header) {
  const size_t n = std::strlen(header.FileName);
  return (n > 0 && header.FileName[n - 1] == '/') || (header.FileAttr & 0040000) == 0040000;
}

std::string WithoutTrailingSlash(std::string name) {
  while (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

// An open archive, closed on every way out.
class OpenHandle {
 public:
  OpenHandle(cli::PluginModule& module, const std::string& archive, int mode) : module_(module) {
    name_ = Writable(archive);
    tOpenArchiveData data{};
    data.ArcName = name_.data();
    data.OpenMode = mode;
    handle_ = module_.open_archive(&data);
    if (handle_ != nullptr) module_.set_process_data_proc(handle_, Progress);
  }
  ~OpenHandle() {
    if (handle_ != nullptr) module_.close_archive(handle_);
  }
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;
  HANDLE_WCX get() const { return handle_; }

 private:
  cli::PluginModule& module_;
  std::vector<char> name_;
  HANDLE_WCX handle_ = nullptr;
};

// Calls act(header) for every entry; act returns the ProcessFile result.
template <typename Act>
bool ForEachEntry(cli::PluginModule& module, const std::string& archive, int mode, long& entries, Act act) {
  OpenHandle open(module, archive, mode);
  if (open.get() == nullptr) return false;
  tHeaderData header;
  for (;;) {
    std::memset(&header, 0, sizeof header);
    const int read = module.read_header(open.get(), &header);
    if (read == E_END_ARCHIVE) return true;
    if (read != 0) return false;
    ++entries;
    if (act(open.get(), header) != 0) return false;
  }
}

Timed Finish(const Stopwatch& watch, bool ok, long entries) { return Timed{ok, watch.Wall(), watch.Cpu(), entries}; }

Timed PackInto(cli::PluginModule& module, const std::string& root, const std::string& archive) {
  const Tree tree = ListTree(root);
  std::string list = AddListOf(tree);
  std::vector<char> packed = Writable(archive);
  std::vector<char> source = Writable(root + "/");
  char subPath[] = "";
  module.set_process_data_proc(reinterpret_cast<HANDLE_WCX>(-1), Progress);
  Stopwatch watch;
  const int result = module.pack_files(packed.data(), subPath, source.data(), &list[0], PK_PACK_SAVE_PATHS);
  if (result != E_SUCCESS) std::fprintf(stderr, "PackFiles: %d\n", result);
  return Finish(watch, result == E_SUCCESS, static_cast<long>(tree.items.size()));
}

}  // namespace

Timed PackTree(cli::PluginModule& module, const std::string& root, const std::string& archive) {
  std::remove(archive.c_str());
  return PackInto(module, root, archive);
}

Timed AddTree(cli::PluginModule& module, const std::string& root, const std::string& archive) {
  return PackInto(module, root, archive);
}

Timed ListArchive(cli::PluginModule& module, const std::string& archive) {
  long entries = 0;
  Stopwatch watch;
  const bool ok = ForEachEntry(module, archive, PK_OM_LIST, entries, [&](HANDLE_WCX h, tHeaderData&) -> int {
    return module.process_file(h, PK_SKIP, nullptr, nullptr);
  });
  return Finish(watch, ok, entries);
}

Timed TestArchive(cli::PluginModule& module, const std::string& archive) {
  long entries = 0;
  Stopwatch watch;
  const bool ok = ForEachEntry(module, archive, PK_OM_EXTRACT, entries, [&](HANDLE_WCX h, tHeaderData&) -> int {
    return module.process_file(h, PK_TEST, nullptr, nullptr);
  });
  return Finish(watch, ok, entries);
}

// The folders a host has made during one extraction: each is made once, with
// no system call to ask whether it exists.
class FolderMaker {
 public:
  bool Make(const std::string& folder) {
    if (made_.count(folder) != 0) return true;
    // Parents come first in a listing; a folder without one gets all of them.
    if (mkdir(folder.c_str(), 0755) != 0 && !MakeFolders(folder)) return false;
    made_.insert(folder);
    return true;
  }

 private:
  std::unordered_set<std::string> made_;
};

Timed ExtractArchive(cli::PluginModule& module, const std::string& archive, const std::string& dest) {
  RemoveTree(dest);
  long entries = 0;
  FolderMaker folders;
  Stopwatch watch;
  bool ok = folders.Make(dest);
  ok = ok && ForEachEntry(module, archive, PK_OM_EXTRACT, entries, [&](HANDLE_WCX h, tHeaderData& header) -> int {
    const std::string name = header.FileName;
    if (IsFolderEntry(header)) {
      if (!folders.Make(dest + "/" + WithoutTrailingSlash(name))) return E_ECREATE;
      return module.process_file(h, PK_SKIP, nullptr, nullptr);
    }
    // The host makes the file's folder when the listing did not bring it.
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos && !folders.Make(dest + "/" + name.substr(0, slash))) return E_ECREATE;
    std::vector<char> target = Writable(dest + "/" + name);
    return module.process_file(h, PK_EXTRACT, nullptr, target.data());
  });
  return Finish(watch, ok, entries);
}

Timed DeleteEntries(cli::PluginModule& module, const std::string& archive, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    list += name;
    list += '\0';
  }
  list += '\0';
  std::vector<char> packed = Writable(archive);
  module.set_process_data_proc(reinterpret_cast<HANDLE_WCX>(-1), Progress);
  Stopwatch watch;
  const int result = module.delete_files(packed.data(), &list[0]);
  if (result != E_SUCCESS) std::fprintf(stderr, "DeleteFiles: %d\n", result);
  return Finish(watch, result == E_SUCCESS, static_cast<long>(names.size()));
}

std::vector<std::string> FileEntryNames(cli::PluginModule& module, const std::string& archive) {
  std::vector<std::string> names;
  long entries = 0;
  ForEachEntry(module, archive, PK_OM_LIST, entries, [&](HANDLE_WCX h, tHeaderData& header) -> int {
    if (!IsFolderEntry(header)) names.push_back(header.FileName);
    return module.process_file(h, PK_SKIP, nullptr, nullptr);
  });
  return names;
}

}  // namespace tvx::bench
