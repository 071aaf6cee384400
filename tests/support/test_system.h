// Systems for tests, each wrapping another (in the end this machine's):
// SystemWrapper passes every question on and is the base for stand-ins that
// change a few answers; FaultySystem fails or watches chosen calls, as a full
// disk, a bad sector or a killed process would.
#ifndef TOLVEX_TESTS_SUPPORT_TEST_SYSTEM_H
#define TOLVEX_TESTS_SUPPORT_TEST_SYSTEM_H

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tvx::test {

class SystemWrapper : public platform::System {
 public:
  explicit SystemWrapper(platform::System& target) : target_(target) {}
  platform::System& target() { return target_; }

  std::unique_ptr<platform::SystemFile> OpenFile(const std::string& path, platform::File::Mode mode,
                                                 platform::File::Facts* facts, platform::IoError* error) override {
    return target_.OpenFile(path, mode, facts, error);
  }
  bool FileExists(const std::string& path) override { return target_.FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return target_.DirectoryExists(path); }
  bool RegularFileExists(const std::string& path) override { return target_.RegularFileExists(path); }
  bool IsReadOnlyFile(const std::string& path) override { return target_.IsReadOnlyFile(path); }
  bool IsSymbolicLink(const std::string& path) override { return target_.IsSymbolicLink(path); }
  bool ResolvesWithoutLinks(const std::string& folder) override { return target_.ResolvesWithoutLinks(folder); }
  bool SameFile(const std::string& a, const std::string& b) override { return target_.SameFile(a, b); }
  std::string ResolveLink(const std::string& path) override { return target_.ResolveLink(path); }
  bool PathFits(const std::string& path) override { return target_.PathFits(path); }
  size_t MaxPathLength() override { return target_.MaxPathLength(); }
  uint32_t FileSizeByName(const std::string& path) override { return target_.FileSizeByName(path); }
  int64_t FileSize64(const std::string& path) override { return target_.FileSize64(path); }
  platform::FileStamp FileStampOf(const std::string& path) override { return target_.FileStampOf(path); }
  // Composed of the members it stands for, so that a stand-in changing one
  // of them changes this answer too.
  platform::PathFacts FactsOfPath(const std::string& path) override;
  int64_t FileWallClockTime(const std::string& path) override { return target_.FileWallClockTime(path); }
  int64_t ModifiedWallClockTime(const std::string& path) override { return target_.ModifiedWallClockTime(path); }
  int64_t CurrentWallClockTime() override { return target_.CurrentWallClockTime(); }
  std::string TempDirectory() override { return target_.TempDirectory(); }
  platform::PathResult CreateTempFile(const std::string& directory, const std::string& prefix) override {
    return target_.CreateTempFile(directory, prefix);
  }
  std::string DriveRoot(const std::string& path) override { return target_.DriveRoot(path); }
  int64_t VolumeFreeBytes(const std::string& path) override { return target_.VolumeFreeBytes(path); }
  bool IsRemovableDrive(const std::string& root) override { return target_.IsRemovableDrive(root); }
  bool SameDrive(const std::string& a, const std::string& b) override { return target_.SameDrive(a, b); }
  bool RemoveFile(const std::string& path) override { return target_.RemoveFile(path); }
  bool RemoveFileLinkFree(const std::string& path) override { return target_.RemoveFileLinkFree(path); }
  bool MakeDirectory(const std::string& path) override { return target_.MakeDirectory(path); }
  bool MakeDirectoryLinkFree(const std::string& path) override { return target_.MakeDirectoryLinkFree(path); }
  platform::MoveOutcome MoveReplacing(const std::string& from, const std::string& to) override {
    return target_.MoveReplacing(from, to);
  }
  platform::MoveOutcome MoveReplacingLinkFree(const std::string& from, const std::string& to) override {
    return target_.MoveReplacingLinkFree(from, to);
  }
  bool MoveToFreeName(const std::string& from, const std::string& to) override {
    return target_.MoveToFreeName(from, to);
  }
  uint32_t FileAccessMode(const std::string& path) override { return target_.FileAccessMode(path); }
  bool SetFileAccessMode(const std::string& path, uint32_t mode) override {
    return target_.SetFileAccessMode(path, mode);
  }
  bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) override {
    return target_.SetModifiedWallClockTime(path, wallClockSeconds);
  }
  platform::FileIdentity FileIdentityOf(const std::string& path) override { return target_.FileIdentityOf(path); }
  std::unique_ptr<platform::SystemLock> LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                                      platform::UpdateLock::Outcome* outcome) override {
    return target_.LockForUpdate(path, waitMilliseconds, outcome);
  }
  std::unique_ptr<platform::SystemLock> LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                            platform::UpdateLock::Outcome* outcome) override {
    return target_.LockNameForCreation(path, waitMilliseconds, outcome);
  }
  bool SyncFolderOf(const std::string& path) override { return target_.SyncFolderOf(path); }

 private:
  platform::System& target_;
};

// Which calls fail, and who watches the mutating ones.
struct FaultPlan {
  uint64_t failWriteAt = 0;  // 1-based index of the first mutating call to fail; 0: never
  uint64_t failReadAt = 0;   // 1-based index of the first read to fail; 0: never
  bool failOnce = false;     // fail only that call, not every later one
  void (*beforeWrite)(uint64_t index) = nullptr;  // called before each mutating call (a crash test kills here)
};

// Counts every read of an open file and every mutating call: a file's Write,
// SetEndHere and Flush, MoveReplacing and MoveToFreeName. A call the
// plan fails does not reach the wrapped system: a read or write gives 0, the
// others false (kFailed), and the file's LastError says kIo (a read, a cut, a
// flush) or kDiskFull (a write). Without a plan it counts and fails nothing.
class FaultySystem : public SystemWrapper {
 public:
  explicit FaultySystem(platform::System& target = platform::OsSystem()) : SystemWrapper(target) {}

  void SetPlan(const FaultPlan& plan);  // also resets the counters
  // Stops failing and observing; the counters go on.
  void ClearPlan() { plan_ = FaultPlan(); }
  uint64_t MutatingCalls() const { return mutatingCalls_; }
  uint64_t ReadCalls() const { return readCalls_; }

  // True when this call must fail.
  bool CountMutatingCall();
  bool CountReadCall();

  std::unique_ptr<platform::SystemFile> OpenFile(const std::string& path, platform::File::Mode mode,
                                                 platform::File::Facts* facts, platform::IoError* error) override;
  platform::MoveOutcome MoveReplacing(const std::string& from, const std::string& to) override;
  platform::MoveOutcome MoveReplacingLinkFree(const std::string& from, const std::string& to) override;
  bool MoveToFreeName(const std::string& from, const std::string& to) override;

 private:
  FaultPlan plan_;
  uint64_t mutatingCalls_ = 0;
  uint64_t readCalls_ = 0;
};

// The plan holds for the guard's life.
class FaultPlanGuard {
 public:
  FaultPlanGuard(FaultySystem& system, const FaultPlan& plan) : system_(system) { system_.SetPlan(plan); }
  ~FaultPlanGuard() { system_.ClearPlan(); }
  FaultPlanGuard(const FaultPlanGuard&) = delete;
  FaultPlanGuard& operator=(const FaultPlanGuard&) = delete;

 private:
  FaultySystem& system_;
};

}  // namespace tvx::test

#endif
