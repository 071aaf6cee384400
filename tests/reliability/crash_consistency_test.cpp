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
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "reliability/reliability_helpers.h"
#include "support/module_driver.h"

namespace tvx::test::reliability {
namespace {

using Operation = SceneChange;

// The shared scene on the drives of the case (sideTaken: a file of the user's
// holds the side file's name, so the new archive goes to the temporary folder
// on the other drive and is copied beside the archive); tmp/ is the child's
// temporary folder. Its fixed times make the new archive of every run
// identical to the reference.
class CrashConsistency : public SceneSweep {
 protected:
  std::string SideFile() const { return folders_.archiveFolder() + "/old___"; }

  void Reset(Operation operation) override {
    SceneSweep::Reset(operation);
    if (sideTaken_) WriteFileBytes(SideFile(), kUsersFile);
  }

  void Count(const std::string& kind) { ++leftovers_[kind]; }

  // Checks the world after a killed run; counts what was left where.
  void CheckAfterKill(Operation operation, const std::string& what) {
    const bool archiveExists = PathExists(folders_.archive());
    const std::string archive = archiveExists ? ReadFileBytes(folders_.archive()) : std::string();
    const bool isOld = operation != Operation::kCreate ? archive == folders_.oldBytes() : !archiveExists;
    const bool isNew = archiveExists && archive == reference_;

    // Temporary files: at most one, a "tvx" file in the temporary folder.
    const std::vector<std::string> temps = FolderListing(folders_.tempFolder());
    EXPECT_LE(temps.size(), 1u) << what;
    bool tempHoldsNew = false;
    for (const std::string& name : temps) {
      EXPECT_EQ(name.compare(0, 3, "tvx"), 0) << what << ": " << name;
      tempHoldsNew = ReadFileBytes(folders_.tempFolder() + "/" + name) == reference_;
      Count(tempHoldsNew ? "temporary file (complete new archive)" : "temporary file (incomplete)");
    }

    if (operation == Operation::kCreate) {
      // Nothing existed before: a leftover at the archive's name must not
      // pass for an archive of empty or missing entries.
      if (archiveExists && !isNew) {
        Count("incomplete new archive at the archive's name");
        const Listing listing = ListAndTest(*LoadedModule(), folders_.archive());
        EXPECT_FALSE(listing.opened) << what << ": the incomplete archive opens, " << listing.entries.size()
                                     << " entries";
      }
    } else if (drives_ == Drives::kNoRoomBeside && !isOld && !isNew) {
      // The archive was being overwritten in place: the complete new one must
      // still lie in the temporary folder.
      EXPECT_TRUE(tempHoldsNew) << what << ": the archive is damaged and the new one is lost";
      Count("archive overwritten part-way, new archive kept in the temporary file");
    } else {
      EXPECT_TRUE(isOld || isNew) << what << ": the archive is neither the old nor the new one (" << archive.size()
                                  << " bytes)";
    }

    // Beside the archive: the side file, the user's file of that name, or a copy.
    for (const std::string& name : FolderListing(folders_.archiveFolder())) {
      if (name == "old.tvx") continue;
      if (name == "old___" && sideTaken_) {
        EXPECT_TRUE(ReadFileBytes(SideFile()) == kUsersFile) << what << ": the user's file was changed";
      } else if (name == "old___" && drives_ == Drives::kSideFile) {
        Count(ReadFileBytes(SideFile()) == reference_ ? "side file old___ (complete new archive)"
                                                      : "side file old___ (incomplete)");
      } else if (name == "old.tvx.tvxnew" && operation == Operation::kCreate) {
        // A new archive is written under this name and renamed once complete.
        Count("new archive under its temporary name old.tvx.tvxnew");
      } else if (name.compare(0, 14, "old.tvx.tvxnew") == 0 && sideTaken_) {
        Count("copy beside the archive old.tvx.tvxnew");
      } else {
        ADD_FAILURE() << what << ": unexpected file beside the archive: " << name;
      }
    }

    // Sources: gone only when the new archive that holds them is in place.
    const bool moved = operation == Operation::kPackAndMove && isNew;
    EXPECT_TRUE(folders_.SourcesIntact(moved)) << what << (moved ? "" : " (and the new archive is not in place)");
    if (moved && !folders_.SourcesIntact()) Count("moved sources deleted (new archive in place)");
    ++cases_;
  }

  // The operation from a fresh start in a child that the plan kills, or that
  // the parent kills after delay (when not negative).
  ChildOutcome Killed(Operation operation, const FaultPlan& plan,
                      std::chrono::microseconds delay = std::chrono::microseconds(-1)) {
    Reset(operation);
    const auto body = [&] {
      faults_.SetPlan(plan);
      return Apply(operation, system_);
    };
    return delay.count() >= 0 ? RunInChildAndKillAfter(body, delay) : RunInChild(body);
  }

  void Report(const std::string& how) {
    std::cout << "[ figures  ] " << cases_ << " kill points (" << how << ")";
    for (const auto& kind : leftovers_) std::cout << "; " << kind.first << ": " << kind.second;
    std::cout << std::endl;
    cases_ = 0;
    leftovers_.clear();
  }

  static constexpr const char* kUsersFile = "a file of the user's that happens to have the side file's name";
  Drives drives_ = Drives::kSystem;
  bool sideTaken_ = false;
  platform::System* system_ = nullptr;
  size_t cases_ = 0;
  std::map<std::string, int> leftovers_;
};

// Each way of changing an archive, killed before each of its mutating calls.
TEST_F(CrashConsistency, KilledBeforeEachMutatingCallLeavesTheOldOrTheNewArchiveAndLosesNothing) {
  // The case, the change, the drives, whether a user's file holds the side file's name.
  const std::tuple<const char*, Operation, Drives, bool> rows[] = {
      {"PackLeavesTheOldOrTheNewArchiveAndAtMostATempFile", Operation::kPack, Drives::kSystem, false},
      {"DeleteLeavesTheOldOrTheNewArchiveAndAtMostATempFile", Operation::kDelete, Drives::kSystem, false},
      {"MoveDeletesNoSourceBeforeTheNewArchiveIsInPlace", Operation::kPackAndMove, Drives::kSystem, false},
      {"PackThroughTheSideFileLeavesTheOldOrTheNewArchive", Operation::kPack, Drives::kSideFile, false},
      {"PackNeverTouchesAUsersFileWithTheSideFilesName", Operation::kPack, Drives::kSideFile, true},
      {"InPlaceReplacementStillLeavesTheNewArchiveInTheTempFolder", Operation::kPack, Drives::kNoRoomBeside, false},
      // A new archive is written at its own name: a kill must not leave a
      // file there that opens as an archive of empty or missing entries.
      {"KilledCreationLeavesNoArchiveThatOpensButIsIncomplete", Operation::kCreate, Drives::kSystem, false},
  };
  for (const auto& [name, operation, drives, sideTaken] : rows) {
    SCOPED_TRACE(name);
    drives_ = drives;
    sideTaken_ = sideTaken;
    system_ = CleanRunOn(drives, operation);
    ASSERT_FALSE(HasFatalFailure());
    ForEveryCall({Failing::kKill, true}, counts_, [&, op = operation](const FaultPlan& plan, const std::string& what) {
      ASSERT_EQ(Killed(op, plan).signal, SIGKILL) << what;
      CheckAfterKill(op, what);
    });
    Report(std::string(name) + ", " + std::to_string(counts_.mutating) + " mutating calls in a clean run");
  }
}

TEST_F(CrashConsistency, KillsAtRandomMomentsLeaveTheOldOrTheNewArchive) {
  for (const Operation operation : {Operation::kPack, Operation::kPackAndMove, Operation::kDelete}) {
    CleanRun(operation);
    ASSERT_FALSE(HasFatalFailure());
    // How long a clean run takes, child start-up included.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Killed(operation, FaultPlan{}).exitCode, 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const unsigned seed = 20240601u + static_cast<unsigned>(operation);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> delay(0, span.count() + span.count() / 4);
    for (int trial = 0; trial < 25; ++trial) {
      const auto wait = std::chrono::microseconds(delay(random));
      Killed(operation, FaultPlan{}, wait);
      CheckAfterKill(operation,
                     "seed " + std::to_string(seed) + ", killed after " + std::to_string(wait.count()) + " us");
    }
  }
  Report("kills at random moments, 25 for each of pack, pack and move, delete");
}

}  // namespace
}  // namespace tvx::test::reliability

#endif  // _WIN32
