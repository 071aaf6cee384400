// A process killed while it changes an archive (Linux: fork and SIGKILL).
// A child runs PackFiles or DeleteFiles and is killed just before its Nth
// mutating call (write, truncation, rename), for every N of a clean run, and
// also at random moments by the parent. Afterwards the archive must be byte
// for byte the old one or the complete new one (as a clean run writes it),
// no source file may be gone unless the new archive is in place, and the only
// leftovers allowed are the named temporary files of the chosen strategy.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"
#include "reliability/reliability_helpers.h"
#include "support/child_process.h"
#include "support/fault_scene.h"
#include "support/plugin_test.h"

namespace tvx::test::reliability {
namespace {

// A machine whose temporary folder lies on another drive than the archive
// (both really lie on one file system here, so the renames still work).
class SplitDrives : public SystemWrapper {
 public:
  SplitDrives(platform::System& target, std::string tempFolder, bool nothingFreeBeside)
      : SystemWrapper(target), temp_(std::move(tempFolder)), nothingFreeBeside_(nothingFreeBeside) {}
  std::string TempDirectory() override { return temp_; }
  bool IsRemovableDrive(const std::string&) override { return false; }
  bool SameDrive(const std::string& a, const std::string& b) override {
    return !a.empty() && !b.empty() && OnTempDrive(a) == OnTempDrive(b);
  }
  // With nothingFreeBeside every name for a copy beside the archive is taken.
  bool FileExists(const std::string& path) override {
    if (nothingFreeBeside_ && path.find(".tvxnew") != std::string::npos) return true;
    return SystemWrapper::FileExists(path);
  }

 private:
  bool OnTempDrive(const std::string& path) const { return path.compare(0, temp_.size(), temp_) == 0; }
  std::string temp_;
  bool nothingFreeBeside_;
};

using Operation = SceneChange;
// kSplit...: the temporary folder lies on another drive. SideFileTaken: a
// file of the user's holds the side file's name. NothingFreeBeside: in
// addition no name beside the archive is free for a copy, so the new archive
// can only be copied over the old one.
enum class Drives { kSystem, kSplit, kSplitSideFileTaken, kSplitNothingFreeBeside };

struct Scenario {
  Operation operation;
  Drives drives;
};

// The shared scene; tmp/ is the child's TMPDIR. Its fixed times make the new
// archive of every run identical to the reference.
class CrashConsistency : public ::testing::Test {
 protected:
  static const FaultScene& Scene() { return SharedFaultScene(); }

  std::string SideFile() const { return folders_.archiveFolder() + "/old___"; }

  // The side-file name is taken by a file of the user's, so the new archive
  // goes to the temporary folder on the other drive.
  static bool SideFileTaken(const Scenario& s) {
    return s.drives == Drives::kSplitSideFileTaken || s.drives == Drives::kSplitNothingFreeBeside;
  }

  // Puts the world back as it was before the operation.
  void Reset(const Scenario& s) {
    folders_.ResetFor(s.operation);
    if (SideFileTaken(s)) WriteFileBytes(SideFile(), kUsersFile);
  }

  // The operation as the child runs it, through the faulty system (and the
  // split drives over it); the host's result code.
  int Run(const Scenario& s) {
    ::setenv("TMPDIR", folders_.tempFolder().c_str(), 1);
    SplitDrives split(faults_, folders_.tempFolder() + "/", s.drives == Drives::kSplitNothingFreeBeside);
    platform::System& drives = s.drives == Drives::kSystem ? static_cast<platform::System&>(faults_) : split;
    return folders_.Apply(drives, s.operation);
  }

  // A clean run: the reference archive and how many mutating calls it makes.
  void CleanRun(const Scenario& s) {
    Reset(s);
    const std::string countFile = folders_.root() + "/count";
    const ChildOutcome outcome = RunInChild([&] {
      faults_.SetPlan(FaultPlan{});
      const int result = Run(s);
      WriteFileBytes(countFile, std::to_string(faults_.MutatingCalls()));
      return result;
    });
    ASSERT_TRUE(outcome.exited);
    ASSERT_EQ(outcome.exitCode, 0);
    reference_ = ReadFileBytes(folders_.archive());
    ASSERT_TRUE(ArchiveHolds(folders_.archive(), Scene().After(s.operation)));
    ASSERT_NE(reference_, folders_.oldBytes());
    calls_ = std::strtoull(ReadFileBytes(countFile).c_str(), nullptr, 10);
    ASSERT_GT(calls_, 2u);
  }

  // Checks the world after a killed run; counts what was left where.
  void CheckAfterKill(const Scenario& s, const std::string& what) {
    const bool archiveExists = PathExists(folders_.archive());
    const std::string archive = archiveExists ? ReadFileBytes(folders_.archive()) : std::string();
    const bool isOld = s.operation != Operation::kCreate ? archive == folders_.oldBytes() : !archiveExists;
    const bool isNew = archiveExists && archive == reference_;

    // Temporary files: at most one, a "tvx" file in the temporary folder.
    const std::vector<std::string> temps = FolderListing(folders_.tempFolder());
    EXPECT_LE(temps.size(), 1u) << what;
    bool tempHoldsNew = false;
    for (const std::string& name : temps) {
      EXPECT_EQ(name.compare(0, 3, "tvx"), 0) << what << ": " << name;
      tempHoldsNew = ReadFileBytes(folders_.tempFolder() + "/" + name) == reference_;
      ++leftovers_["temporary file " + std::string(tempHoldsNew ? "(complete new archive)" : "(incomplete)")];
    }

    if (s.operation == Operation::kCreate) {
      // Nothing existed before: what matters is whether a leftover passes for
      // an archive (checked by the creation test).
      if (archiveExists && !isNew) ++leftovers_["incomplete new archive at the archive's name"];
    } else if (s.drives == Drives::kSplitNothingFreeBeside && !isOld && !isNew) {
      // The archive was being overwritten in place: the complete new one must
      // still lie in the temporary folder.
      EXPECT_TRUE(tempHoldsNew) << what << ": the archive is damaged and the new one is lost";
      ++leftovers_["archive overwritten part-way, new archive kept in the temporary file"];
    } else {
      EXPECT_TRUE(isOld || isNew) << what << ": the archive is neither the old nor the new one ("
                                  << archive.size() << " bytes)";
    }

    // Beside the archive: the side file, the user's file of that name, or a copy.
    for (const std::string& name : FolderListing(folders_.archiveFolder())) {
      if (name == "old.tvx") continue;
      if (name == "old___" && SideFileTaken(s)) {
        EXPECT_TRUE(ReadFileBytes(SideFile()) == kUsersFile) << what << ": the user's file was changed";
      } else if (name == "old___" && s.drives == Drives::kSplit) {
        ++leftovers_[ReadFileBytes(SideFile()) == reference_ ? "side file old___ (complete new archive)"
                                                             : "side file old___ (incomplete)"];
      } else if (name == "old.tvx.tvxnew" && s.operation == Operation::kCreate) {
        // A new archive is written under this name and renamed once complete.
        ++leftovers_["new archive under its temporary name old.tvx.tvxnew"];
      } else if (name.compare(0, 14, "old.tvx.tvxnew") == 0 && s.drives == Drives::kSplitSideFileTaken) {
        ++leftovers_["copy beside the archive old.tvx.tvxnew"];
      } else {
        ADD_FAILURE() << what << ": unexpected file beside the archive: " << name;
      }
    }

    // Sources: gone only when the new archive that holds them is in place.
    const bool moved = s.operation == Operation::kPackAndMove && isNew;
    EXPECT_TRUE(folders_.SourcesIntact(moved)) << what << (moved ? "" : " (and the new archive is not in place)");
    if (moved && !folders_.SourcesIntact()) ++leftovers_["moved sources deleted (new archive in place)"];
    ++cases_;
  }

  // Runs the operation from a fresh start in a child that the plan kills,
  // and checks what the kill left.
  void KillAt(const Scenario& s, const FaultPlan& plan, const std::string& what) {
    Reset(s);
    const ChildOutcome outcome = RunInChild([&] {
      faults_.SetPlan(plan);
      return Run(s);
    });
    ASSERT_EQ(outcome.signal, SIGKILL) << what;
    CheckAfterKill(s, what);
  }

  // Kills the operation before each of its mutating calls in turn, checking
  // each with check (after CheckAfterKill).
  void KillAtEveryCall(const Scenario& s, const std::function<void(const std::string& what)>& check = nullptr) {
    CleanRun(s);
    if (HasFatalFailure()) return;
    ForEveryCall(kKill, CallCounts{calls_, 0}, [&](const FaultPlan& plan, const std::string& what) {
      KillAt(s, plan, what);
      if (check && !HasFatalFailure()) check(what);
    });
    Report(std::to_string(calls_) + " mutating calls in a clean run");
  }

  void Report(const std::string& how) const {
    std::cout << "[ figures  ] " << cases_ << " kill points (" << how << ")";
    for (const auto& kind : leftovers_) std::cout << "; " << kind.first << ": " << kind.second;
    std::cout << std::endl;
  }

  static constexpr const char* kUsersFile = "a file of the user's that happens to have the side file's name";
  static constexpr FaultCase kKill{Failing::kKill, true};
  FaultySystem faults_;
  SceneFolders folders_{Scene()};
  std::string reference_;
  uint64_t calls_ = 0;
  size_t cases_ = 0;
  std::map<std::string, int> leftovers_;
};

// Each way of changing an archive, killed before each of its mutating calls.
struct KillCase {
  const char* name;
  Scenario scenario;
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

class CrashConsistencyKills : public CrashConsistency, public ::testing::WithParamInterface<KillCase> {};

TEST_P(CrashConsistencyKills, LeavesTheOldOrTheNewArchiveAndLosesNothing) { KillAtEveryCall(GetParam().scenario); }

INSTANTIATE_TEST_SUITE_P(
    Killed, CrashConsistencyKills,
    ::testing::Values(
        KillCase{"PackLeavesTheOldOrTheNewArchiveAndAtMostATempFile", {Operation::kPack, Drives::kSystem}},
        KillCase{"DeleteLeavesTheOldOrTheNewArchiveAndAtMostATempFile", {Operation::kDelete, Drives::kSystem}},
        KillCase{"MoveDeletesNoSourceBeforeTheNewArchiveIsInPlace", {Operation::kPackAndMove, Drives::kSystem}},
        KillCase{"PackThroughTheSideFileLeavesTheOldOrTheNewArchive", {Operation::kPack, Drives::kSplit}},
        KillCase{"PackNeverTouchesAUsersFileWithTheSideFilesName", {Operation::kPack, Drives::kSplitSideFileTaken}},
        KillCase{"InPlaceReplacementStillLeavesTheNewArchiveInTheTempFolder",
                 {Operation::kPack, Drives::kSplitNothingFreeBeside}}),
    [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

// A new archive is written at its own name: a kill must not leave a file
// there that opens as an archive of empty or missing entries.
TEST_F(CrashConsistency, KilledCreationLeavesNoArchiveThatOpensButIsIncomplete) {
  KillAtEveryCall({Operation::kCreate, Drives::kSystem}, [this](const std::string& what) {
    const std::string archive = folders_.archive();
    if (!PathExists(archive) || ReadFileBytes(archive) == reference_) return;
    int entries = 0;
    int testedGood = 0;
    const bool opened = EachHeader(archive, [&](HANDLE_WCX handle, const tHeaderData&, int) {
      ++entries;
      if (ProcessFile(handle, PK_TEST, nullptr, nullptr) == 0) ++testedGood;
      return true;
    });
    if (!opened) return;
    ADD_FAILURE() << what << ": the incomplete archive opens; " << testedGood << " of its " << entries
                  << " entries test good";
  });
}

TEST_F(CrashConsistency, KillsAtRandomMomentsLeaveTheOldOrTheNewArchive) {
  for (const Operation operation : {Operation::kPack, Operation::kPackAndMove, Operation::kDelete}) {
    const Scenario s{operation, Drives::kSystem};
    CleanRun(s);
    ASSERT_FALSE(HasFatalFailure());
    // How long a clean run takes, child start-up included.
    Reset(s);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunInChild([&] { return Run(s); }).exitCode, 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const unsigned seed = 20240601u + static_cast<unsigned>(operation);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> delay(0, span.count() + span.count() / 4);
    for (int trial = 0; trial < 25; ++trial) {
      Reset(s);
      const auto wait = std::chrono::microseconds(delay(random));
      RunInChildAndKillAfter([&] { return Run(s); }, wait);
      CheckAfterKill(s, "seed " + std::to_string(seed) + ", killed after " + std::to_string(wait.count()) + " us");
    }
  }
  Report("kills at random moments, 25 for each of pack, pack and move, delete");
}

}  // namespace
}  // namespace tvx::test::reliability

#endif  // _WIN32
