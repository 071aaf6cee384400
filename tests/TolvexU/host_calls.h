// Drives the built module the way the file manager does: loaded at run time,
// reached only through its nine exports, called in the host's order. Also
// writes archives byte by byte for contents the module never produces itself.
// Header-only: the test program is built from *_test.cpp files alone.
#ifndef TOLVEX_TESTS_TOLVEXU_HOST_CALLS_H
#define TOLVEX_TESTS_TOLVEXU_HOST_CALLS_H

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "plugin_module.h"
#include "support/test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace tvx::test {

// --- names in the host's dialect ------------------------------------------------

// An entry name ("docs/a.txt") as ReadHeader reports it.
inline std::string ReportedForm(const std::string& entryName) {
#ifdef _WIN32
  std::string out = "\\";
  for (char c : entryName) out += c == '/' ? '\\' : c;
  return out;
#else
  return entryName;
#endif
}

// An entry name as the host writes it in AddList and DeleteList.
inline std::string ListForm(const std::string& entryName) {
  std::string out = entryName;
#ifdef _WIN32
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
#endif
  return out;
}

// The host's list: every name NUL-terminated, then one more NUL.
inline std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  list += '\0';
  return list;
}

// --- archives written byte by byte -------------------------------------------------

struct RawEntry {
  std::string name;            // '/' separators, a trailing '/' for a folder
  std::string data;            // bytes as stored
  int32_t unpackedSize = -1;   // -1: data.size(), i.e. stored
  int32_t time = 1600000000;
};

inline void AppendLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Header, records, data area: the format exactly as the module writes it.
inline std::string ArchiveBytes(const std::vector<RawEntry>& entries) {
  std::string out = "TOLVEX";
  AppendLe(out, 100, 4);
  AppendLe(out, static_cast<uint32_t>(entries.size()), 4);
  uint32_t offset = 0;
  for (const RawEntry& e : entries) {
    AppendLe(out, static_cast<uint32_t>(e.name.size()), 2);
    out += e.name;
    AppendLe(out, static_cast<uint32_t>(e.time), 4);
    const int32_t unpacked = e.unpackedSize < 0 ? static_cast<int32_t>(e.data.size()) : e.unpackedSize;
    AppendLe(out, static_cast<uint32_t>(unpacked), 4);
    AppendLe(out, static_cast<uint32_t>(e.data.size()), 4);
    AppendLe(out, offset, 4);
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const RawEntry& e : entries) out += e.data;
  return out;
}

// The archive with no entries: header only.
inline std::string EmptyArchiveBytes() { return ArchiveBytes({}); }

// A deflated entry: one zlib stream of content.
inline RawEntry DeflatedEntry(const std::string& name, const std::string& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  packed.resize(size);
  return RawEntry{name, packed, static_cast<int32_t>(content.size())};
}

// Inflates to the right bytes, but its checksum (the stream's last byte) is wrong.
inline RawEntry DamagedDeflatedEntry(const std::string& name, const std::string& content) {
  RawEntry entry = DeflatedEntry(name, content);
  entry.data.back() = static_cast<char>(entry.data.back() ^ 0x5A);
  return entry;
}

// Compresses well, so that packed and unpacked sizes differ.
inline std::string Compressible(size_t size, char fill = 'x') { return std::string(size, fill); }

// --- the module ---------------------------------------------------------------------

// Loaded once per test program, as the host keeps it loaded.
inline cli::PluginModule* LoadedModule(std::string* error = nullptr) {
  static cli::PluginModule::LoadResult loaded = cli::PluginModule::Load(ModulePath());
  if (error != nullptr) *error = loaded.error;
  return loaded.module.get();
}

// An archive opened with OpenArchive, closed with CloseArchive.
class HostArchive {
 public:
  HostArchive(cli::PluginModule& module, const std::string& path, int mode = PK_OM_EXTRACT)
      : module_(module), path_(path) {
    data_.ArcName = &path_[0];
    data_.OpenMode = mode;
    data_.OpenResult = -1;
    handle_ = module_.open_archive(&data_);
  }
  ~HostArchive() {
    if (handle_ != nullptr) module_.close_archive(handle_);
  }
  HostArchive(const HostArchive&) = delete;
  HostArchive& operator=(const HostArchive&) = delete;

  HANDLE_WCX handle() const { return handle_; }
  int openResult() const { return data_.OpenResult; }

  int ReadHeader(tHeaderData& header) { return module_.read_header(handle_, &header); }
  int ReadHeader() {
    tHeaderData header{};
    return ReadHeader(header);
  }
  int Process(int operation, const std::string* destPath, const std::string& destName) {
    std::string path = destPath != nullptr ? *destPath : std::string();
    std::string name = destName;
    return module_.process_file(handle_, operation, destPath != nullptr ? &path[0] : nullptr,
                                destName.empty() ? nullptr : &name[0]);
  }
  int Skip() { return Process(PK_SKIP, nullptr, ""); }
  int Test() { return Process(PK_TEST, nullptr, ""); }
  int ExtractTo(const std::string& target) { return Process(PK_EXTRACT, nullptr, target); }

 private:
  cli::PluginModule& module_;
  std::string path_;
  tOpenArchiveData data_{};
  HANDLE_WCX handle_ = nullptr;
};

struct ListedEntry {
  std::string name;  // FileName as reported
  int attr = 0;
  int unpSize = 0;
  int packSize = 0;
  int time = 0;
};

// The whole listing, one ReadHeader and one PK_SKIP per entry. opened is false
// (and openResult set) when OpenArchive refused.
struct Listing {
  bool opened = false;
  int openResult = 0;
  std::vector<ListedEntry> entries;
};

inline Listing ListArchive(cli::PluginModule& module, const std::string& path) {
  Listing listing;
  HostArchive archive(module, path, PK_OM_LIST);
  listing.opened = archive.handle() != nullptr;
  listing.openResult = archive.openResult();
  if (!listing.opened) return listing;
  for (;;) {
    tHeaderData header{};
    if (archive.ReadHeader(header) != 0) break;
    listing.entries.push_back(
        ListedEntry{header.FileName, header.FileAttr, header.UnpSize, header.PackSize, header.FileTime});
    if (archive.Skip() != 0) break;
  }
  return listing;
}

// The reported names in archive order; one "<not opened: N>" item when
// OpenArchive refused.
inline std::vector<std::string> ListedNames(cli::PluginModule& module, const std::string& path) {
  const Listing listing = ListArchive(module, path);
  if (!listing.opened) return {"<not opened: " + std::to_string(listing.openResult) + ">"};
  std::vector<std::string> names;
  for (const ListedEntry& entry : listing.entries) names.push_back(entry.name);
  return names;
}

inline std::vector<std::string> ReportedForms(const std::vector<std::string>& entryNames) {
  std::vector<std::string> names;
  for (const std::string& name : entryNames) names.push_back(ReportedForm(name));
  return names;
}

// PackFiles with the host's argument forms; subPath null for the archive's root.
inline int PackWith(cli::PluginModule& module, const std::string& archive, const char* subPath,
                    const std::string& srcPath, const std::vector<std::string>& names, int flags) {
  std::string packed = archive;
  std::string sub = subPath != nullptr ? subPath : "";
  std::string src = srcPath;
  std::string list = NameList(names);
  return module.pack_files(&packed[0], subPath != nullptr ? &sub[0] : nullptr, &src[0], &list[0], flags);
}

inline int DeleteWith(cli::PluginModule& module, const std::string& archive, const std::vector<std::string>& names) {
  std::string packed = archive;
  std::string list = NameList(names);
  return module.delete_files(&packed[0], &list[0]);
}

inline int CanHandle(cli::PluginModule& module, const std::string& path) {
  std::string name = path;
  return module.can_you_handle_this_file(&name[0]);
}

// --- the temporary folder -----------------------------------------------------------

// Points the temporary folder of this process (and so of the module loaded
// into it) at another folder for the object's life.
class TempFolderRedirect {
 public:
  explicit TempFolderRedirect(const std::string& folder) {
#ifdef _WIN32
    for (const char* name : kNames) {
      char buffer[32768];
      const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
      saved_.push_back(length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string());
      had_.push_back(length > 0 && length < sizeof buffer);
      SetEnvironmentVariableA(name, folder.c_str());
    }
#else
    const char* old = std::getenv("TMPDIR");
    had_.push_back(old != nullptr);
    saved_.push_back(old != nullptr ? old : "");
    setenv("TMPDIR", folder.c_str(), 1);
#endif
  }
  ~TempFolderRedirect() {
    for (size_t i = 0; i < had_.size(); ++i) {
#ifdef _WIN32
      SetEnvironmentVariableA(kNames[i], had_[i] ? saved_[i].c_str() : nullptr);
#else
      if (had_[i]) {
        setenv("TMPDIR", saved_[i].c_str(), 1);
      } else {
        unsetenv("TMPDIR");
      }
#endif
    }
  }
  TempFolderRedirect(const TempFolderRedirect&) = delete;
  TempFolderRedirect& operator=(const TempFolderRedirect&) = delete;

 private:
#ifdef _WIN32
  static constexpr const char* kNames[] = {"TMP", "TEMP"};
#endif
  std::vector<std::string> saved_;
  std::vector<bool> had_;
};

// The names of the files in folder (not recursive), sorted.
inline std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Files whose name starts with the module's temporary-file prefix ("tvx",
// in any case: Windows names them TVX1234.tmp or tvx1234.tmp).
inline std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : FolderListing(folder)) {
    if (name.size() >= 3 && (name[0] | 0x20) == 't' && (name[1] | 0x20) == 'v' && (name[2] | 0x20) == 'x') {
      found.push_back(name);
    }
  }
  return found;
}

// --- the fixture of every test that goes through the module ----------------------------

// Loads the module, gives each test its own scratch folder and temporary
// folder, clears the progress callback, and after each test insists that no
// temporary file of the module was left behind.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module_ = LoadedModule(&error);
    ASSERT_NE(module_, nullptr) << error;
    ASSERT_FALSE(work_.path().empty());
    ASSERT_FALSE(temp_.path().empty());
    redirect_ = std::make_unique<TempFolderRedirect>(temp_.path());
    module_->set_process_data_proc(nullptr, nullptr);
  }

  void TearDown() override {
    if (module_ != nullptr) module_->set_process_data_proc(nullptr, nullptr);
    redirect_.reset();
    EXPECT_EQ(TemporaryFilesIn(temp_.path()), std::vector<std::string>())
        << "the module left a temporary file behind";
  }

  cli::PluginModule& module() { return *module_; }
  std::string Path(const std::string& name) const { return work_.File(name); }
  // The folder as the host passes SrcPath: with its trailing separator.
  std::string SrcPath() const { return work_.path() + NativeSeparator(); }
  const std::string& WorkFolder() const { return work_.path(); }

  // Writes an archive of these entries and returns its path.
  std::string WriteArchive(const std::string& name, const std::vector<RawEntry>& entries) {
    const std::string path = Path(name);
    EXPECT_TRUE(WriteFileBytes(path, ArchiveBytes(entries)));
    return path;
  }

  std::vector<std::string> Names(const std::string& archive) { return ListedNames(*module_, archive); }

 private:
  cli::PluginModule* module_ = nullptr;
  TempDir work_;
  TempDir temp_;
  std::unique_ptr<TempFolderRedirect> redirect_;
};

}  // namespace tvx::test

#endif
