#include "TolvexU/drive_queries.h"

#include "platform/platform.h"

namespace tvx::host {
namespace {

class SystemDrives : public DriveQueries {
 public:
  std::string TempDirectory() override { return platform::TempDirectory(); }
  std::string CreateTempFile(const std::string& directory, const std::string& prefix) override {
    return platform::CreateTempFile(directory, prefix);
  }
  std::string DriveRoot(const std::string& path) override { return platform::DriveRoot(path); }
  int64_t VolumeFreeBytes(const std::string& root) override { return platform::VolumeFreeBytes(root); }
  bool IsRemovableDrive(const std::string& root) override { return platform::IsRemovableDrive(root); }
  bool SameDrive(const std::string& a, const std::string& b) override { return platform::SameDrive(a, b); }
  bool NameTaken(const std::string& path) override {
    return platform::FileExists(path) || platform::DirectoryExists(path);
  }
};

}  // namespace

DriveQueries& SystemDriveQueries() {
  static SystemDrives drives;
  return drives;
}

bool HasFreeSpace(DriveQueries& drives, const std::string& root, uint64_t count) {
  const int64_t free = drives.VolumeFreeBytes(root);
  return free > 0 && static_cast<uint64_t>(free) > count;
}

}  // namespace tvx::host
