// What several reliability tests do alike: the fault scene swept through the
// fault-injecting system, and on Linux sparse files and a child whose files
// may not grow past a limit.
#ifndef TOLVEX_TESTS_RELIABILITY_RELIABILITY_HELPERS_H
#define TOLVEX_TESTS_RELIABILITY_RELIABILITY_HELPERS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TolvexU/fake_drives.h"
#include "support/fault_scene.h"
#include "support/plugin_test.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/child_process.h"
#endif

namespace tvx::test::reliability {

// Where the new archive is written before it replaces the old one: where the
// system says (a temporary file on the archive's drive, renamed); old___
// beside the archive, renamed; a temporary file on another drive when there
// is no room beside (then copied over the archive) or when the archive's drive
// is removable (then copied beside and renamed).
enum class Drives { kSystem, kSideFile, kNoRoomBeside, kRemovable };
inline const char* DrivesName(Drives drives) {
  const char* const names[] = {"", "side file", "temporary file on another drive",
                               "temporary file on another drive, copied beside the archive"};
  return names[static_cast<int>(drives)];
}

// The shared fault scene on disk, the faulty system its changes go through,
// and what a clean run made: its archive (every run writes the same bytes, the
// reference) and its calls.
class SceneSweep : public ::testing::Test {
 protected:
  static const FaultScene& Scene() { return SharedFaultScene(); }
  virtual void Reset(SceneChange change) { folders_.ResetFor(change); }

  // The system a change goes through on these drives: the faulty one (null),
  // or FakeDrives over it with tmp/ on drive T and the rest on D. Without room
  // beside the archive there is, while packing, no more than the files to pack
  // (so the new archive goes to the other drive) and than the old archive (so
  // no copy fits beside it, the new one being larger), yet at least what the
  // pack adds; while deleting, a byte.
  platform::System* On(Drives drives, SceneChange change) {
    if (drives == Drives::kSystem) return nullptr;
    fake_ = std::make_unique<FakeDrives>(faults_);
    fake_->realFiles = true;
    fake_->tempDirectory = folders_.tempFolder() + NativeSeparator();
    fake_->Mount(folders_.tempFolder(), 't');
    fake_->Mount(folders_.archiveFolder(), 'd');
    fake_->Mount(folders_.sourceFolder(), 'd');
    if (drives == Drives::kNoRoomBeside) fake_->freeBytes['d'] = change == SceneChange::kDelete ? 1 : RoomWhenPacking();
    if (drives == Drives::kRemovable) fake_->removable.insert('d');
    return fake_.get();
  }
  static int64_t RoomWhenPacking() {
    return static_cast<int64_t>(std::min<uint64_t>(Scene().PackedBytes(), ArchiveBytes(Scene().oldEntries).size()));
  }

  // The change as the exports make it, through system (the faulty one when
  // null), with tmp/ as the temporary folder.
  int Apply(SceneChange change, platform::System* system = nullptr) {
    TempFolderRedirect temp(folders_.tempFolder());
    return folders_.Apply(system != nullptr ? *system : faults_, change);
  }

  // The change from a fresh start under the plan.
  int ApplyFailing(SceneChange change, const FaultPlan& plan, platform::System* system = nullptr) {
    Reset(change);
    FaultPlanGuard guard(faults_, plan);
    return Apply(change, system);
  }

  void CleanRun(SceneChange change, platform::System* system = nullptr) {
    ASSERT_EQ(ApplyFailing(change, FaultPlan{}, system), 0) << ChangeName(change);
    counts_ = CountsOf(faults_);
    reference_ = ReadFileBytes(folders_.archive());
    ASSERT_TRUE(ArchiveHolds(folders_.archive(), Scene().After(change))) << ChangeName(change);
    ASSERT_NE(reference_, folders_.oldBytes()) << ChangeName(change);
    ASSERT_GT(counts_.mutating, 2u) << ChangeName(change);
  }

  // The clean run on these drives; the system it went through.
  platform::System* CleanRunOn(Drives drives, SceneChange change) {
    platform::System* system = On(drives, change);
    CleanRun(change, system);
    if (drives == Drives::kNoRoomBeside && change != SceneChange::kDelete) {
      const int64_t grown = static_cast<int64_t>(reference_.size());
      EXPECT_LE(grown - static_cast<int64_t>(folders_.oldBytes().size()), RoomWhenPacking())
          << "the new archive no longer fits over the old one";
      EXPECT_LT(RoomWhenPacking(), grown) << "a copy of the new archive now fits beside the old one";
    }
    return system;
  }

  FaultySystem faults_;
  std::unique_ptr<FakeDrives> fake_;
  SceneFolders folders_{Scene()};
  std::string reference_;
  CallCounts counts_;
};

#ifndef _WIN32
// A file of size bytes that takes (almost) no room: a hole, with the given
// pieces of real data written into it.
inline bool MakeSparseFile(const std::string& path, int64_t size,
                           const std::vector<std::pair<int64_t, std::string>>& pieces = {}) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, size) == 0;
  for (const auto& piece : pieces) {
    ok = ok && ::pwrite(fd, piece.second.data(), piece.second.size(), piece.first) ==
                   static_cast<ssize_t>(piece.second.size());
  }
  return ::close(fd) == 0 && ok;
}

// body in a child whose files may not grow beyond limit bytes: writes fail
// inside the kernel (short writes, then EFBIG) as on a full disk.
inline ChildOutcome RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  return RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit cap = {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &cap);
    return body();
  });
}
#endif

}  // namespace tvx::test::reliability

#endif
