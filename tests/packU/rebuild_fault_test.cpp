// Rebuilds that meet a full disk or a bad sector: the faulty system fails the
// Nth write or read, for every N a rebuild reaches. A rebuild may fail, but
// it must never claim success over an archive that is not whole.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "packU/archive.h"
#include "packU/extract.h"
#include "packU/rebuild.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"
#include "support/test_system.h"

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
    // Read through the faulty system too, so that copying its entries meets
    // the failures; setting a plan resets the counts of opening it.
    old_ = Archive::NewArchive(faults_, dir_.File("old.tvx"));
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

  Status RunWith(const test::FaultPlan& faults) {
    platform::RemoveFile(dir_.File("new.tvx"));  // nothing left from the run before
    FaultPlanGuard guard(faults_, faults);
    return RebuildArchive(faults_, dir_.File("new.tvx"), plan_, nullptr);
  }

  // The rebuild without faults, counting the calls it makes.
  void CountCleanRun(uint64_t& writes, uint64_t& reads) {
    FaultPlanGuard guard(faults_, test::FaultPlan{});
    ASSERT_EQ(RebuildArchive(faults_, dir_.File("new.tvx"), plan_, nullptr), Status::kOk);
    writes = faults_.MutatingCalls();
    reads = faults_.ReadCalls();
  }

  enum class Failing { kWrites, kReads };

  // For every N a clean run reaches, fails the Nth write (or read) - only it
  // when once, else it and every later one - and hands the rebuild's status
  // to check, with a description and whether N was the clean run's last call.
  template <typename Check>
  void Sweep(Failing failing, bool once, Check check) {
    uint64_t writes = 0, reads = 0;
    CountCleanRun(writes, reads);
    const bool failingWrites = failing == Failing::kWrites;
    const uint64_t calls = failingWrites ? writes : reads;
    for (uint64_t n = 1; n <= calls; ++n) {
      test::FaultPlan faults;
      (failingWrites ? faults.failWriteAt : faults.failReadAt) = n;
      faults.failOnce = once;
      const std::string context = std::string(failingWrites ? "write " : "read ") + std::to_string(n) + " of " +
                                  std::to_string(calls) + (once ? " failed once" : " and every later one failed");
      check(RunWith(faults), context, n == calls);
    }
  }

  bool NewArchiveOpens() const { return Archive::NewArchive(platform::OsSystem(), dir_.File("new.tvx"))->valid(); }

  // The new archive holds exactly the expected entries.
  void ExpectWholeArchive(const std::string& context) {
    auto out = Archive::NewArchive(platform::OsSystem(), dir_.File("new.tvx"));
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

  test::FaultySystem faults_;  // before old_, which reads through it
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
  Sweep(Failing::kWrites, false, [this](Status status, const std::string& context, bool lastCall) {
    EXPECT_NE(status, Status::kOk) << context;
    // What was written so far must not pass for an archive - but for the last
    // call, which makes the complete file durable: its failure is reported
    // all the same, and the caller removes the file.
    if (!lastCall) {
      EXPECT_FALSE(NewArchiveOpens()) << context;
    }
  });
}

TEST_F(RebuildFaultTest, OneFailedWriteNeverPassesForABrokenArchive) {
  Sweep(Failing::kWrites, true, [this](Status status, const std::string& context, bool lastCall) {
    if (status == Status::kOk) {
      ExpectWholeArchive(context);
      return;
    }
    EXPECT_EQ(status, Status::kWriteFailed) << context;
    // As above: only the last call's failure comes after a complete file.
    if (!lastCall) {
      EXPECT_FALSE(NewArchiveOpens()) << context;
    }
  });
}

// A failed read is a disk error, also when it is the old archive that fails
// to read: the host must not be told the archive is damaged.
TEST_F(RebuildFaultTest, ReadsFailingFromAnyPointFailTheRebuildAsAReadProblem) {
  Sweep(Failing::kReads, false, [](Status status, const std::string& context, bool) {
    EXPECT_EQ(status, Status::kReadFailed) << context << ": status " << static_cast<int>(status);
  });
}

TEST_F(RebuildFaultTest, OneFailedReadNeverPassesForABrokenArchive) {
  Sweep(Failing::kReads, true, [this](Status status, const std::string& context, bool) {
    if (status == Status::kOk) {
      ExpectWholeArchive(context);
      return;
    }
    EXPECT_EQ(status, Status::kReadFailed) << context << ": status " << static_cast<int>(status);
    EXPECT_FALSE(NewArchiveOpens()) << context;
  });
}

// A full disk is reported as a write failure, whatever was being copied when
// the disk filled up - also when a larger copy stops before it has read
// everything (storing a new file, copying kept entries).
TEST_F(RebuildFaultTest, FailedWritesAreReportedAsWriteFailures) {
  Sweep(Failing::kWrites, false, [](Status status, const std::string& context, bool) {
    EXPECT_EQ(status, Status::kWriteFailed) << context;
  });
}

}  // namespace
}  // namespace tvx
