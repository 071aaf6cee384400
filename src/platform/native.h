// This machine's System, shared by posix.cpp and win32.cpp (each defines the
// members for its system) and file_portable.cpp (what both do alike). Only
// those three include it.
#ifndef TOLVEX_PLATFORM_NATIVE_H
#define TOLVEX_PLATFORM_NATIVE_H

#include "platform/platform.h"

namespace tvx::platform {

// Forgets the system's last error code (errno, SetLastError(0)), so that a
// later LastSystemError tells whether the calls in between failed.
void ClearSystemError();
// The system's last error code, classified; kNone when it is 0.
IoError LastSystemError();

// The sole owner of one handle; the destructor closes it. It checks a seek's
// target before it moves, repeats a read or write until it is whole, and
// remembers why the last call failed, asking the system right after it.
class NativeFile final : public SystemFile {
 public:
  using Mode = File::Mode;
  using Facts = File::Facts;
  NativeFile() = default;
  static NativeFile Open(const std::string& path, File::Mode mode, File::Facts* facts);
  ~NativeFile() override;
  NativeFile(NativeFile&& other) noexcept;
  NativeFile& operator=(NativeFile&& other) = delete;
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;

  // False after a failed open (the INVALID_HANDLE_VALUE case).
  bool IsOpen() const;

  IoError LastError() const override { return lastError_; }
  uint32_t Read(void* buffer, uint32_t count) override;
  uint32_t Write(const void* buffer, uint32_t count) override;
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override;
  bool SetEndHere() override;
  bool Flush() override;
  bool SetModifiedWallClockTime(int64_t wallClockSeconds) override;
  bool TakeAccessOf(const std::string& path) override;

 private:
  explicit NativeFile(intptr_t handle) : handle_(handle) {}
  void Close();
  // Per system: the position and the full size now (false when the system
  // cannot tell), and the move to a position below 4 GiB.
  bool PositionNow(int64_t* position) const;
  bool SizeNow(int64_t* size) const;
  bool MoveTo(uint32_t target);
  // Per system: one call of the system, which may move fewer bytes than
  // asked; 0 at the end of the file or on failure.
  uint32_t ReadOnce(unsigned char* bytes, uint32_t count);
  uint32_t WriteOnce(const unsigned char* bytes, uint32_t count);
  bool EndHere();
  bool Sync();
  uint32_t SeekTo(int32_t offset, SeekOrigin origin);
  // Each call answers for itself: an old failure is forgotten.
  void Start();
  // withoutCode: the kind when the system set no error code.
  void Failed(IoErrorKind withoutCode);
  intptr_t handle_ = -1;
  IoError lastError_;
#ifdef _WIN32
  std::string path_;  // the name it was opened by, for its attributes
#endif
};

#ifdef _WIN32
// What MoveReplacing does where the system has no working MoveFileExA
// (Windows 95, 98, ME): the old file is renamed aside, the new one takes its
// name, and the old one is deleted; should the second step fail, the old file
// returns. Not atomic, but `to` is unchanged on failure.
bool MoveReplacingWithoutMoveFileEx(const std::string& from, const std::string& to);
#endif

class NativeLock final : public SystemLock {
 public:
  NativeLock() = default;
  NativeLock(intptr_t handle, const FileIdentity& identity) : handle_(handle), identity_(identity) {}
  ~NativeLock() override;
  NativeLock(const NativeLock&) = delete;
  NativeLock& operator=(const NativeLock&) = delete;

  bool held() const override { return handle_ != -1; }
  FileIdentity identity() const override { return identity_; }

 private:
  intptr_t handle_ = -1;  // the locked fd, or the owned mutex
  FileIdentity identity_;
};

class NativeSystem final : public System {
 public:
  std::unique_ptr<SystemFile> OpenFile(const std::string& path, File::Mode mode, File::Facts* facts,
                                       IoError* error) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool RegularFileExists(const std::string& path) override;
  bool IsReadOnlyFile(const std::string& path) override;
  bool IsSymbolicLink(const std::string& path) override;
  bool ResolvesWithoutLinks(const std::string& folder) override;
  bool SameFile(const std::string& a, const std::string& b) override;
  std::string ResolveLink(const std::string& path) override;
  bool PathFits(const std::string& path) override;
  size_t MaxPathLength() override;
  uint32_t FileSizeByName(const std::string& path) override;
  int64_t FileSize64(const std::string& path) override;
  FileStamp FileStampOf(const std::string& path) override;
  PathFacts FactsOfPath(const std::string& path) override;
#ifndef _WIN32
  PathFacts LookAtSource(const std::string& path, uint32_t maxBytes, ReadAhead* readAhead,
                         SourceFolder& folder) override;
#endif
  int64_t FileWallClockTime(const std::string& path) override;
  int64_t ModifiedWallClockTime(const std::string& path) override;
  int64_t CurrentWallClockTime() override;
  std::string TempDirectory() override;
  PathResult CreateTempFile(const std::string& directory, const std::string& prefix) override;
  std::string DriveRoot(const std::string& path) override;
  int64_t VolumeFreeBytes(const std::string& path) override;
  bool IsRemovableDrive(const std::string& root) override;
  bool SameDrive(const std::string& a, const std::string& b) override;
  bool RemoveFile(const std::string& path) override;
  bool RemoveFileLinkFree(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  bool MakeDirectoryLinkFree(const std::string& path) override;
  MoveOutcome MoveReplacing(const std::string& from, const std::string& to) override;
  MoveOutcome MoveReplacingLinkFree(const std::string& from, const std::string& to) override;
  bool MoveToFreeName(const std::string& from, const std::string& to) override;
  uint32_t FileAccessMode(const std::string& path) override;
  bool SetFileAccessMode(const std::string& path, uint32_t mode) override;
  bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) override;
  FileIdentity FileIdentityOf(const std::string& path) override;
  std::unique_ptr<SystemLock> LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                            UpdateLock::Outcome* outcome) override;
  std::unique_ptr<SystemLock> LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                  UpdateLock::Outcome* outcome) override;
  bool SyncFolderOf(const std::string& path) override;
};

}  // namespace tvx::platform

#endif
