// This machine's System: every member passes the question on to the function
// of the same name that posix.cpp or win32.cpp implements.
#include "platform/platform.h"

namespace tvx::platform {
namespace {

// Remembers why the last call failed, asking the system right after it. A
// read that falls short without a system error met the end of the file.
class OsFile : public SystemFile {
 public:
  explicit OsFile(File file) : file_(std::move(file)) {}
  IoError LastError() const override { return lastError_; }

  uint32_t Read(void* buffer, uint32_t count) override {
    Start();
    const uint32_t got = file_.Read(buffer, count);
    if (got < count) Failed(IoErrorKind::kEnd);
    return got;
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    Start();
    const uint32_t written = file_.Write(buffer, count);
    if (written < count) Failed(IoErrorKind::kDiskFull);
    return written;
  }
  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    Start();
    const uint32_t moved = file_.Seek(offset, origin);
    if (moved == kAllBits) Failed(IoErrorKind::kIo);
    return moved;
  }
  uint32_t Size() override { return file_.Size(); }
  bool SetEndHere() override {
    Start();
    return Checked(file_.SetEndHere(), IoErrorKind::kIo);
  }
  bool Flush() override {
    Start();
    return Checked(file_.Flush(), IoErrorKind::kIo);
  }

 private:
  // Each call answers for itself: an old failure is forgotten.
  void Start() {
    lastError_ = IoError();
    ClearSystemError();
  }
  // withoutCode: the kind when the system set no error code.
  void Failed(IoErrorKind withoutCode) {
    lastError_ = LastSystemError();
    if (!lastError_.failed()) lastError_.kind = withoutCode;
  }
  bool Checked(bool ok, IoErrorKind withoutCode) {
    if (!ok) Failed(withoutCode);
    return ok;
  }

  File file_;
  IoError lastError_;
};

class OsLock : public SystemLock {
 public:
  explicit OsLock(UpdateLock lock) : lock_(std::move(lock)) {}
  bool held() const override { return lock_.held(); }
  FileIdentity identity() const override { return lock_.identity(); }

 private:
  UpdateLock lock_;
};

class Os : public System {
 public:
  std::unique_ptr<SystemFile> OpenFile(const std::string& path, File::Mode mode, File::Facts* facts,
                                       IoError* error) override {
    ClearSystemError();
    File file = File::Open(path, mode, facts);
    if (!file.IsOpen()) {
      if (error != nullptr) {
        *error = LastSystemError();
        if (!error->failed()) error->kind = IoErrorKind::kIo;  // refused without a code: a folder, say
      }
      return nullptr;
    }
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
  PathFacts FactsOfPath(const std::string& path) override { return platform::FactsOfPath(path); }
  int64_t FileWallClockTime(const std::string& path) override { return platform::FileWallClockTime(path); }
  int64_t ModifiedWallClockTime(const std::string& path) override { return platform::ModifiedWallClockTime(path); }
  int64_t CurrentWallClockTime() override { return platform::CurrentWallClockTime(); }

  std::string TempDirectory() override { return platform::TempDirectory(); }
  PathResult CreateTempFile(const std::string& directory, const std::string& prefix) override {
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
  bool MoveToFreeName(const std::string& from, const std::string& to) override {
    return platform::MoveToFreeName(from, to);
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

  FileIdentity FileIdentityOf(const std::string& path) override { return platform::FileIdentityOf(path); }
  std::unique_ptr<SystemLock> LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                            UpdateLock::Outcome* outcome) override {
    return std::make_unique<OsLock>(UpdateLock::Acquire(path, waitMilliseconds, outcome));
  }
  std::unique_ptr<SystemLock> LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                  UpdateLock::Outcome* outcome) override {
    return std::make_unique<OsLock>(UpdateLock::AcquireName(path, waitMilliseconds, outcome));
  }
  bool SyncFolderOf(const std::string& path) override { return platform::SyncFolderOf(path); }
};

}  // namespace

PathFacts System::FactsOfPath(const std::string& path) {
  PathFacts facts;
  if (DirectoryExists(path)) {
    facts.kind = PathFacts::Kind::kFolder;
  } else if (RegularFileExists(path)) {
    facts.kind = PathFacts::Kind::kRegularFile;
    facts.size = FileSize64(path);
  } else if (FileExists(path)) {
    facts.kind = PathFacts::Kind::kOther;
  }
  return facts;
}

System& OsSystem() {
  static Os os;
  return os;
}

}  // namespace tvx::platform
