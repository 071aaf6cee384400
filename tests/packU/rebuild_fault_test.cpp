// Rebuilds that meet a full disk or a bad sector: the platform layer fails the
// Nth write or read, for every N a rebuild reaches. A rebuild may fail, but
// it must never claim success over an archive that is not whole.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "packU/archive.h"
#include "packU/archive_bytes.h"
#include "packU/extract.h"
#include "packU/rebuild.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using test::FaultPlanGuard;
using test::TempDir;

// What the rebuild below must produce: names and contents, in order.
struct Expected {
  std::string name;
  std::string content;
};

class RebuildFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string kept = test::TextLikeBytes(20000);
    noiseKept_ = test::NoiseBytes(1200000, 5);  // copied in two pieces
    ASSERT_TRUE(test::WriteFileBytes(
        dir_.File("old.tvx"),
        test::ArchiveBytes({{"keep.bin", noiseKept_},
                            {"drop.txt", "dropped"},
                            {"keep.txt", test::ZlibCompress(kept), static_cast<int32_t>(kept.size())}})));
    // Opened before any fault plan, so its own reads are not counted.
    old_ = Archive::NewArchive(dir_.File("old.tvx"));
    ASSERT_FALSE(old_->damaged());

    const std::string text = test::TextLikeBytes(100000);
    const std::string noise = test::NoiseBytes(1100000);  // stored after a given-up deflate, in two pieces
    ASSERT_TRUE(test::WriteFileBytes(dir_.File("text.txt"), text));
    ASSERT_TRUE(test::WriteFileBytes(dir_.File("noise.bin"), noise));
    ASSERT_TRUE(test::WriteFileBytes(dir_.File("empty"), ""));
    ASSERT_TRUE(platform::MakeDirectory(dir_.File("folder")));

    plan_.oldArchive = old_.get();
    plan_.removeNames = {"drop.txt"};
    plan_.additions = {{"folder/", dir_.File("folder")},
                       {"folder/text.txt", dir_.File("text.txt")},
                       {"folder/noise.bin", dir_.File("noise.bin")},
                       {"folder/empty", dir_.File("empty")}};
    expected_ = {{"keep.bin", noiseKept_}, {"keep.txt", kept},         {"folder/", ""},
                 {"folder/text.txt", text}, {"folder/noise.bin", noise}, {"folder/empty", ""}};
  }

  Status RunWith(const platform::FaultPlan& faults) {
    platform::RemoveFile(dir_.File("new.tvx"));  // nothing left from the run before
    FaultPlanGuard guard(faults);
    return RebuildArchive(dir_.File("new.tvx"), plan_, nullptr);
  }

  // The rebuild without faults, counting the calls it makes.
  void CountCleanRun(uint64_t& writes, uint64_t& reads) {
    FaultPlanGuard guard(platform::FaultPlan{});
    ASSERT_EQ(RebuildArchive(dir_.File("new.tvx"), plan_, nullptr), Status::kOk);
    writes = platform::MutatingCallCount();
    reads = platform::ReadCallCount();
  }

  // The new archive holds exactly the expected entries.
  void ExpectWholeArchive(const std::string& context) {
    auto out = Archive::NewArchive(dir_.File("new.tvx"));
    ASSERT_TRUE(out->valid()) << context;
    ASSERT_FALSE(out->damaged()) << context;
    ASSERT_EQ(out->entries().size(), expected_.size()) << context;
    for (size_t i = 0; i < expected_.size(); ++i) {
      const ArchiveEntry& e = out->entries()[i];
      ASSERT_EQ(e.name, expected_[i].name) << context;
      const std::string target = dir_.File("check.out");
      platform::RemoveFile(target);
      if (e.IsDirectory()) continue;
      ASSERT_EQ(ExtractEntry(*out, e, target), Status::kOk) << context << " " << e.name;
      ASSERT_TRUE(test::ReadFileBytes(target) == expected_[i].content) << context << " " << e.name;
    }
  }

  TempDir dir_;
  std::string noiseKept_;
  std::unique_ptr<Archive> old_;
  RebuildPlan plan_;
  std::vector<Expected> expected_;
};

TEST_F(RebuildFaultTest, CleanRunMakesACompleteArchive) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  EXPECT_GT(writes, 5u);
  EXPECT_GT(reads, 3u);
  ExpectWholeArchive("clean run");
}

TEST_F(RebuildFaultTest, WritesFailingFromAnyPointOnFailTheRebuild) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  for (uint64_t n = 1; n <= writes; ++n) {
    platform::FaultPlan faults;
    faults.failWriteAt = n;
    EXPECT_NE(RunWith(faults), Status::kOk) << "writes failing from call " << n << " of " << writes;
    // What was written so far must not pass for an archive - but for the last
    // call, which makes the complete file durable: its failure is reported
    // all the same, and the caller removes the file.
    if (n < writes) {
      EXPECT_FALSE(Archive::NewArchive(dir_.File("new.tvx"))->valid()) << "writes failing from call " << n;
    }
  }
}

TEST_F(RebuildFaultTest, OneFailedWriteNeverPassesForABrokenArchive) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  for (uint64_t n = 1; n <= writes; ++n) {
    platform::FaultPlan faults;
    faults.failWriteAt = n;
    faults.failOnce = true;
    const std::string context = "write " + std::to_string(n) + " of " + std::to_string(writes) + " failed once";
    const Status status = RunWith(faults);
    if (status == Status::kOk) {
      ExpectWholeArchive(context);
      continue;
    }
    EXPECT_EQ(status, Status::kWriteFailed) << context;
    // As above: only the last call's failure comes after a complete file.
    if (n < writes) {
      EXPECT_FALSE(Archive::NewArchive(dir_.File("new.tvx"))->valid()) << context;
    }
  }
}

TEST_F(RebuildFaultTest, ReadsFailingFromAnyPointFailTheRebuildAsAReadProblem) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  for (uint64_t n = 1; n <= reads; ++n) {
    platform::FaultPlan faults;
    faults.failReadAt = n;
    const Status status = RunWith(faults);
    EXPECT_TRUE(status == Status::kReadFailed || status == Status::kBadArchive)
        << "reads failing from call " << n << " of " << reads << ": status " << static_cast<int>(status);
  }
}

TEST_F(RebuildFaultTest, OneFailedReadNeverPassesForABrokenArchive) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  for (uint64_t n = 1; n <= reads; ++n) {
    platform::FaultPlan faults;
    faults.failReadAt = n;
    faults.failOnce = true;
    const std::string context = "read " + std::to_string(n) + " of " + std::to_string(reads) + " failed once";
    const Status status = RunWith(faults);
    if (status == Status::kOk) {
      ExpectWholeArchive(context);
      continue;
    }
    EXPECT_TRUE(status == Status::kReadFailed || status == Status::kBadArchive)
        << context << ": status " << static_cast<int>(status);
    EXPECT_FALSE(Archive::NewArchive(dir_.File("new.tvx"))->valid()) << context;
  }
}

// A full disk is reported as a write failure, whatever was being copied when
// the disk filled up - also when a larger copy stops before it has read
// everything (storing a new file, copying kept entries).
TEST_F(RebuildFaultTest, FailedWritesAreReportedAsWriteFailures) {
  uint64_t writes = 0, reads = 0;
  CountCleanRun(writes, reads);
  for (uint64_t n = 1; n <= writes; ++n) {
    platform::FaultPlan faults;
    faults.failWriteAt = n;
    const Status status = RunWith(faults);
    EXPECT_EQ(status, Status::kWriteFailed) << "writes failing from call " << n << " of " << writes;
  }
}

}  // namespace
}  // namespace tvx
