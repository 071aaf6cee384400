// The file-system answers on which the choice of a new archive's location
// depends. The drivers ask them through this interface so that tests can
// stand in for drives that this machine does not have.
#ifndef TOLVEX_TOLVEXU_DRIVE_QUERIES_H
#define TOLVEX_TOLVEXU_DRIVE_QUERIES_H

#include <cstdint>
#include <string>

namespace tvx::host {

class DriveQueries {
 public:
  virtual ~DriveQueries() = default;
  virtual std::string TempDirectory() = 0;
  // A new empty file in directory; "" when none could be made.
  virtual std::string CreateTempFile(const std::string& directory, const std::string& prefix) = 0;
  virtual std::string DriveRoot(const std::string& path) = 0;
  virtual int64_t VolumeFreeBytes(const std::string& root) = 0;
  virtual bool IsRemovableDrive(const std::string& root) = 0;
  virtual bool SameDrive(const std::string& a, const std::string& b) = 0;
  // Whether anything (file or folder) has this name.
  virtual bool NameTaken(const std::string& path) = 0;
};

// The real answers, from the platform layer.
DriveQueries& SystemDriveQueries();

// Strictly more free bytes than count on the volume of root; equal is not enough.
bool HasFreeSpace(DriveQueries& drives, const std::string& root, uint64_t count);

}  // namespace tvx::host

#endif
