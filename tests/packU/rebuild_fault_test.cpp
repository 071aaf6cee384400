// Rebuilds that meet a full disk or a bad sector: the faulty system fails the
// Nth write or read, for every N a rebuild reaches. A rebuild may fail, but
// it must never claim success over an archive that is not whole.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "packU/archive.h"
#include "packU/rebuild.h"
#include "platform/platform.h"
#include "support/fault_scene.h"

namespace tvx {
namespace {

using test::Failing;

// A rebuild may fail, but it must never claim success over an archive that is
// not whole, nor leave what passes for one.
struct RebuildCase {
  const char* name;
  test::FaultCase faults;  // a single failure may be worked around: then the archive is whole
  Status failure;          // what a failed rebuild answers; kOk: any failure
  bool brokenNeverOpens;   // what was written must not pass for an archive - but after the
                           // last write, which makes the complete file durable: its failure is
                           // reported all the same, and the caller removes the file
};

void PrintTo(const RebuildCase& c, std::ostream* os) { *os << c.name; }

// The scene large enough that every copy, store and deflate attempt takes
// several pieces; the new archive is written beside the old one.
class RebuildFaultTest : public ::testing::TestWithParam<RebuildCase> {
 protected:
  static const test::FaultScene& Scene() { return test::SharedFaultScene(test::kLargeScene); }

  void SetUp() override {
    folders_.Reset();
    // Read through the faulty system too, so that copying its entries meets
    // the failures; setting a plan resets the counts of opening it.
    old_ = Archive::NewArchive(faults_, folders_.archive());
    ASSERT_FALSE(old_->damaged());
    plan_.oldArchive = old_.get();
    plan_.removeNames = Scene().deletedFiles;
    plan_.removeFolders = Scene().deletedFolders;
    for (const test::SceneEntry& entry : Scene().packed) {
      plan_.additions.push_back({entry.name, folders_.SourcePath(entry.name)});
    }
  }

  std::string NewPath() const { return folders_.archiveFolder() + test::NativeSeparator() + "new.tvx"; }

  // The rebuild without faults makes a complete archive; the calls it makes,
  // counted.
  test::CallCounts CountCleanRun() {
    test::FaultPlanGuard guard(faults_, test::FaultPlan{});
    EXPECT_EQ(RebuildArchive(faults_, NewPath(), plan_, nullptr), Status::kOk);
    const test::CallCounts counts = test::CountsOf(faults_);
    EXPECT_TRUE(test::ArchiveHolds(NewPath(), Scene().AfterDeleteAndPack()));
    EXPECT_GT(counts.mutating, 5u);
    EXPECT_GT(counts.reads, 3u);
    return counts;
  }

  test::FaultySystem faults_;  // before old_, which reads through it
  test::SceneFolders folders_{Scene()};
  std::unique_ptr<Archive> old_;
  RebuildPlan plan_;
};

TEST_P(RebuildFaultTest, NeverPassOffABrokenArchive) {
  const RebuildCase& c = GetParam();
  const test::CallCounts counts = CountCleanRun();
  ASSERT_FALSE(HasFailure());
  test::ForEveryCall(c.faults, counts,
                     [&](const test::FaultPlan& plan, const std::string& what) {
    platform::OsSystem().RemoveFile(NewPath());  // nothing left from the run before
    const test::FaultPlanGuard guard(faults_, plan);
    const Status status = RebuildArchive(faults_, NewPath(), plan_, nullptr);
    if (status == Status::kOk) {
      EXPECT_TRUE(c.faults.once) << what << ": a failing disk went unnoticed";
      EXPECT_TRUE(test::ArchiveHolds(NewPath(), Scene().AfterDeleteAndPack())) << what;
      return;
    }
    if (c.failure != Status::kOk) {
      EXPECT_EQ(status, c.failure) << what << ": status " << static_cast<int>(status);
    }
    if (c.brokenNeverOpens && plan.failWriteAt != counts.mutating) {
      EXPECT_FALSE(Archive::NewArchive(platform::OsSystem(), NewPath())->valid()) << what;
    }
  });
}

// A failed read is a disk error, also when it is the old archive that fails
// to read: the host must not be told the archive is damaged. A full disk is
// reported as a write failure, whatever was being copied when the disk filled
// up - also when a larger copy stops before it has read everything (storing a
// new file, copying kept entries).
INSTANTIATE_TEST_SUITE_P(
    RebuildFaultTest, RebuildFaultTest,
    ::testing::Values(
        RebuildCase{"WritesFailingFromAnyPointOnFailTheRebuildAsWriteFailures", {Failing::kWrites, false},
                    Status::kWriteFailed, true},
        RebuildCase{"OneFailedWriteNeverPassesForABrokenArchive", {Failing::kWrites, true}, Status::kWriteFailed,
                    true},
        RebuildCase{"ReadsFailingFromAnyPointFailTheRebuildAsAReadProblem", {Failing::kReads, false},
                    Status::kReadFailed, false},
        RebuildCase{"OneFailedReadNeverPassesForABrokenArchive", {Failing::kReads, true}, Status::kReadFailed, true}),
    [](const ::testing::TestParamInfo<RebuildCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tvx
