// Drives this machine does not have, for the pack and delete drivers: Windows
// paths (D:\data\backup.arc), removable drives, full disks. Folders that
// really exist can be "mounted" as drives, so that renames and copies happen
// for real (in the wrapped system) while the fake decides which drive each
// folder is on.
#ifndef TOLVEX_TESTS_TOLVEXU_FAKE_DRIVES_H
#define TOLVEX_TESTS_TOLVEXU_FAKE_DRIVES_H

#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx::test {

class FakeDrives : public SystemWrapper {
 public:
  static constexpr int64_t kPlenty = int64_t{1} << 40;

  explicit FakeDrives(platform::System& target = platform::OsSystem()) : SystemWrapper(target) {}

  // Every path that begins with folder lies on drive letter.
  void Mount(const std::string& folder, char letter) { mounts_.emplace_back(folder, Lower(letter)); }

  std::string tempDirectory = "C:\\Temp\\";
  std::map<char, int64_t> freeBytes;  // by lower-case letter; missing: plenty
  std::set<char> removable;           // lower-case letters
  std::set<std::string> takenNames;   // besides what exists on disk
  bool realFiles = false;             // make real temporary files; ask the disk about names
  bool failTempFiles = false;

  std::vector<std::string> tempFilesMade;

  std::string TempDirectory() override { return tempDirectory; }

  platform::PathResult CreateTempFile(const std::string& directory, const std::string& prefix) override {
    if (failTempFiles) return platform::PathResult{"", platform::IoError{platform::IoErrorKind::kAccess, 0}};
    platform::PathResult made{directory + prefix.substr(0, 3) + std::to_string(tempFilesMade.size() + 1) + ".tmp", {}};
    if (realFiles) made = target().CreateTempFile(directory, prefix);
    if (!made.failed()) tempFilesMade.push_back(made.path);
    return made;
  }

  std::string DriveRoot(const std::string& path) override {
    const char letter = DriveOf(path);
    return letter == '\0' ? ""
                          : std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) + ":\\";
  }

  int64_t VolumeFreeBytes(const std::string& root) override {
    if (root.empty()) return 0;
    const auto it = freeBytes.find(Lower(root[0]));
    return it == freeBytes.end() ? kPlenty : it->second;
  }

  bool IsRemovableDrive(const std::string& root) override {
    return !root.empty() && removable.count(Lower(root[0])) != 0;
  }

  bool SameDrive(const std::string& a, const std::string& b) override {
    const char da = DriveOf(a);
    return da != '\0' && da == DriveOf(b);
  }

  // A new file on a fake drive takes its name and is written to a real
  // scratch file instead.
  std::unique_ptr<platform::SystemFile> OpenFile(const std::string& path, platform::File::Mode mode,
                                                 platform::File::Facts* facts, platform::IoError* error) override {
    if (realFiles || (mode != platform::File::Mode::kCreateNew && mode != platform::File::Mode::kCreatePrivate)) return target().OpenFile(path, mode, facts, error);
    if (FileExists(path)) return nullptr;
    takenNames.insert(path);
    namesClaimed.push_back(path);
    return target().OpenFile(scratch_.File(std::to_string(namesClaimed.size())), mode, facts, error);
  }
  std::vector<std::string> namesClaimed;

  // A taken name counts as a file; otherwise the disk is asked only with
  // realFiles (the fake's Windows paths exist nowhere anyway).
  bool FileExists(const std::string& path) override {
    return takenNames.count(path) != 0 || (realFiles && target().FileExists(path));
  }
  bool DirectoryExists(const std::string& path) override { return realFiles && target().DirectoryExists(path); }

 private:
  static char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

  // The mounted folder's letter, else the path's first character as a drive.
  char DriveOf(const std::string& path) const {
    size_t best = 0;
    char letter = '\0';
    for (const auto& mount : mounts_) {
      if (path.compare(0, mount.first.size(), mount.first) == 0 && mount.first.size() > best) {
        best = mount.first.size();
        letter = mount.second;
      }
    }
    if (letter == '\0' && path.size() >= 2 && path[1] == ':') letter = Lower(path[0]);
    return letter;
  }

  std::vector<std::pair<std::string, char>> mounts_;
  TempDir scratch_;
};

}  // namespace tvx::test

#endif
