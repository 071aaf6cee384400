// This machine's System: every member passes the question on to the function
// of the same name that posix.cpp or win32.cpp implements.
#include "platform/platform.h"

namespace tvx::platform {
namespace {

class OsFile : public SystemFile {
 public:
  explicit OsFile(File file) : file_(std::move(file)) {}
  uint32_t Read(void* buffer, uint32_t count) override { return file_.Read(buffer, count); }
  uint32_t Write(const void* buffer, uint32_t count) override { return file_.Write(buffer, count); }
  uint32_t Seek(int32_t offset, SeekOrigin origin) override { return file_.Seek(offset, origin); }
  uint32_t Size() override { return file_.Size(); }
  bool SetEndHere() override { return file_.SetEndHere(); }
  bool Flush() override { return file_.Flush(); }

 private:
  File file_;
};

class Os : public System {
 public:
  std::unique_ptr<SystemFile> OpenFile(const std::string& path, File::Mode mode, File::Facts* facts) override {
    File file = File::Open(path, mode, facts);
    if (!file.IsOpen()) return nullptr;
    return std::make_unique<OsFile>(std::move(file));
  }

  bool FileExists(const std::string& path) override { return platform::FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return platform::DirectoryExists(path); }
  bool RegularFileExists(const std::string& path) override { return platform::RegularFileExists(path); }
  bool IsReadOnlyFile(const std::string& path) override { return platform::IsReadOnlyFile(path); }
  bool IsSymbolicLink(const std::string& path) override { return platform::IsSymbolicLink(path); }
  bool SameFile(const std::string& a, const std::string& b) override { return platform::SameFile(a, b); }
  std::string ResolveLink(const std::string& path) override { return platform::ResolveLink(path); }
  bool PathFits(const std::string& path) override { return platform::PathFits(path); }
  size_t MaxPathLength() override { return platform::MaxPathLength(); }
  uint32_t FileSizeByName(const std::string& path) override { return platform::FileSizeByName(path); }
  int64_t FileSize64(const std::string& path) override { return platform::FileSize64(path); }
  FileStamp FileStampOf(const std::string& path) override { return platform::FileStampOf(path); }
  uint32_t FileDosDateTime(const std::string& path) override { return platform::FileDosDateTime(path); }
  uint32_t ModifiedDosDateTime(const std::string& path) override { return platform::ModifiedDosDateTime(path); }
  uint32_t CurrentDosDateTime() override { return platform::CurrentDosDateTime(); }

  std::string TempDirectory() override { return platform::TempDirectory(); }
  std::string CreateTempFile(const std::string& directory, const std::string& prefix) override {
    return platform::CreateTempFile(directory, prefix);
  }
  std::string DriveRoot(const std::string& path) override { return platform::DriveRoot(path); }
  int64_t VolumeFreeBytes(const std::string& path) override { return platform::VolumeFreeBytes(path); }
  bool IsRemovableDrive(const std::string& root) override { return platform::IsRemovableDrive(root); }
  bool SameDrive(const std::string& a, const std::string& b) override { return platform::SameDrive(a, b); }

  bool RemoveFile(const std::string& path) override { return platform::RemoveFile(path); }
  bool MakeDirectory(const std::string& path) override { return platform::MakeDirectory(path); }
  bool MoveReplacing(const std::string& from, const std::string& to) override {
    return platform::MoveReplacing(from, to);
  }
  MoveOutcome MoveReplacingOnVolume(const std::string& from, const std::string& to) override {
    return platform::MoveReplacingOnVolume(from, to);
  }
  uint32_t FileAccessMode(const std::string& path) override { return platform::FileAccessMode(path); }
  bool SetFileAccessMode(const std::string& path, uint32_t mode) override {
    return platform::SetFileAccessMode(path, mode);
  }
  bool CarryFileAccess(const std::string& from, const std::string& to) override {
    return platform::CarryFileAccess(from, to);
  }
  bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) override {
    return platform::SetModifiedWallClockTime(path, wallClockSeconds);
  }
};

}  // namespace

System& OsSystem() {
  static Os os;
  return os;
}

}  // namespace tvx::platform
