// Full disks and failing I/O. Every write (and, separately, every read) of
// packing, deleting and extracting is made to fail in turn - through the
// fault-injecting system wrapper on every system, and on Linux also through a
// real file size limit (RLIMIT_FSIZE, the kernel's EFBIG). Each time the
// answer must be a non-zero code, the old archive and the source files must
// be unchanged, and no temporary, side or partial file may be left.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "TolvexU/result_codes.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "platform/platform.h"
#include "reliability/reliability_helpers.h"
#include "support/fault_scene.h"
#include "support/plugin_test.h"


namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

using Change = SceneChange;
constexpr Change kAllChanges[] = {Change::kPack, Change::kPackAndMove, Change::kCreate, Change::kDelete};

// The shared scene; tmp/ is the process's temporary folder while a change runs.
class FullDisk : public ::testing::Test {
 protected:
  static const FaultScene& Scene() { return SharedFaultScene(); }

  void Reset(Change change) { folders_.ResetFor(change); }

  // The change, as the exports make it, through the faulty system.
  int Apply(Change change) {
    TempFolderRedirect temp(folders_.tempFolder());
    return folders_.Apply(faults_, change);
  }

  // The change from a fresh start under the plan.
  int ApplyFailing(Change change, const FaultPlan& plan) {
    Reset(change);
    FaultPlanGuard guard(faults_, plan);
    return Apply(change);
  }

  // After a failed change: everything as it was, nothing left behind.
  void ExpectUnchanged(Change change, int result, const std::string& what) {
    EXPECT_NE(result, 0) << what;
    // Which code is checked where it matters (below); here: an error code.
    EXPECT_TRUE(result == E_EWRITE || result == E_ECREATE || result == E_EREAD || result == E_BAD_ARCHIVE ||
                result == E_UNKNOWN_FORMAT)
        << what << ": result " << result;
    if (change == Change::kCreate) {
      EXPECT_FALSE(PathExists(folders_.archive())) << what << ": a failed creation left a file";
    } else {
      EXPECT_TRUE(ReadFileBytes(folders_.archive()) == folders_.oldBytes()) << what << ": the old archive changed";
    }
    EXPECT_EQ(folders_.Leftovers(), std::vector<std::string>()) << what << ": a file was left behind";
    EXPECT_TRUE(folders_.SourcesIntact()) << what;
  }

  // A clean run: the new archive, which must hold the change's entries, and
  // the calls it made.
  void CleanRun(Change change) {
    Reset(change);
    FaultPlanGuard guard(faults_, FaultPlan{});
    ASSERT_EQ(Apply(change), 0) << ChangeName(change);
    counts_ = CountsOf(faults_);
    reference_ = ReadFileBytes(folders_.archive());
    ASSERT_TRUE(ArchiveHolds(folders_.archive(), Scene().After(change))) << ChangeName(change);
  }

  // An empty folder to extract into.
  std::string FreshOut() const {
    const std::string out = folders_.root() + NativeSeparator() + "out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    return out;
  }

  FaultySystem faults_;
  SceneFolders folders_{Scene()};
  std::string reference_;
  CallCounts counts_;
};

// Every write (or read) of every change failed in turn. Where only one call
// fails, the change may work around it (a single failed rename: a copy beside
// the archive); then the result must be the complete new archive.
struct FullDiskCase {
  const char* name;
  FaultCase faults;
};

void PrintTo(const FullDiskCase& c, std::ostream* os) { *os << c.name; }

class FullDiskSweep : public FullDisk, public ::testing::WithParamInterface<FullDiskCase> {};

TEST_P(FullDiskSweep, EveryChange) {
  const FaultCase& c = GetParam().faults;
  size_t cases = 0;
  size_t recovered = 0;
  for (const Change change : kAllChanges) {
    CleanRun(change);
    ASSERT_GT(CallsSwept(c, counts_), c.failing == Failing::kWrites ? 2u : 0u);
    ForEveryCall(c, counts_, [&](const FaultPlan& plan, const std::string& failure) {
      const int result = ApplyFailing(change, plan);
      const std::string what = std::string(ChangeName(change)) + ", " + failure;
      if (c.once && result == 0) {
        EXPECT_TRUE(ReadFileBytes(folders_.archive()) == reference_) << what << ": succeeded with a different archive";
        ++recovered;
      } else {
        ExpectUnchanged(change, result, what);
      }
      ++cases;
    });
  }
  std::cout << "[ figures  ] " << Describe(c) << ": " << cases << " cases (" << recovered
            << " single failures worked around with the complete new archive)" << std::endl;
}

// A full disk (every write from the Nth on), a single failed write, a single
// failed read.
INSTANTIATE_TEST_SUITE_P(
    FullDisk, FullDiskSweep,
    ::testing::Values(
        FullDiskCase{"EveryFailedWriteFailsTheChangeAndLeavesEverythingAsItWas", {Failing::kWrites, false}},
        FullDiskCase{"ASingleFailedWriteFailsTheChangeOrGivesTheCompleteArchive", {Failing::kWrites, true}},
        FullDiskCase{"EveryFailedReadFailsTheChangeOrStillGivesTheCompleteArchive", {Failing::kReads, true}}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.name); });

// Full-disk sweep: when the rename that puts the new archive in place failed
// and every write after it failed too, the old archive was truncated by the
// last-resort copy over it (E_EWRITE; the new archive survived only as a
// temporary file). A full disk must never cost the user the archive.
TEST_F(FullDisk, AFailedRenameOnAFullDiskNeverEmptiesTheOldArchive) {
  CleanRun(Change::kPack);
  // The last call of a clean run, the rename, and every one after it.
  const int result = ApplyFailing(Change::kPack, PlanFor({Failing::kWrites, false}, counts_.mutating));
  EXPECT_EQ(result, E_EWRITE);
  const std::string now = ReadFileBytes(folders_.archive());
  EXPECT_TRUE(now == folders_.oldBytes()) << "the old archive now has " << now.size() << " bytes instead of "
                                          << folders_.oldBytes().size();
}

// Failed-read sweep: when the very first read of the archive failed (a bad
// sector, a dropped network share), packing answered E_UNKNOWN_FORMAT - "not
// an archive of this kind" - for a perfectly good archive. A host may then
// offer to replace it; the answer must be a read error.
TEST_F(FullDisk, AReadErrorOnTheArchiveIsReportedAsAReadErrorNotAsAForeignFile) {
  for (const Change change : {Change::kPack, Change::kDelete}) {
    const int result = ApplyFailing(change, PlanFor({Failing::kReads, true}, 1));
    EXPECT_EQ(result, E_EREAD) << ChangeName(change);
    EXPECT_TRUE(ReadFileBytes(folders_.archive()) == folders_.oldBytes()) << ChangeName(change);
  }
}

// Extraction of every entry of the sample with the Nth write failing: the
// entry fails, and neither its file nor a partial file appears - an existing
// file of that name keeps its content.
TEST_F(FullDisk, FailedExtractionLeavesNoFileAndKeepsAnExistingOne) {
  CleanRun(Change::kCreate);
  ASSERT_FALSE(reference_.empty());
  size_t cases = 0;
  for (const bool existing : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      const std::string out = FreshOut();
      // As ProcessFile extracts, through the faulty system.
      std::unique_ptr<Archive> archive = Archive::NewArchive(faults_, folders_.archive());
      ASSERT_TRUE(archive->valid() && !archive->damaged());
      FaultPlan plan;
      plan.failWriteAt = n;
      faults_.SetPlan(plan);
      bool anyFailed = false;
      for (size_t index = 0; index < archive->entries().size(); ++index) {
        const ArchiveEntry& entry = archive->entries()[index];
        const std::string destPath = out + NativeSeparator();
        const std::string target = destPath + "e" + std::to_string(index);
        if (existing && !entry.IsDirectory()) WriteFileBytes(target, "existing");
        const int result = host::ToHostCode(ExtractEntry(*archive, entry, target, destPath.size()));
        const std::string what = entry.name + ", writes failing from " + std::to_string(n) +
                                 (existing ? ", over an existing file" : "");
        EXPECT_FALSE(PathExists(target + ".tvxpart")) << what;
        if (result != 0) {
          anyFailed = true;
          EXPECT_TRUE(result == E_EWRITE || result == E_ECREATE) << what << ": result " << result;
          if (existing) {
            EXPECT_EQ(ReadFileBytes(target), "existing") << what;
          } else {
            EXPECT_FALSE(PathExists(target)) << what;
          }
        }
        ++cases;
      }
      faults_.ClearPlan();
      if (!anyFailed) break;  // n lies beyond the last write of extraction
    }
  }
  std::cout << "[ figures  ] failed-extraction cases: " << cases << std::endl;
}

#ifndef _WIN32
// Linux: a real limit on file size, so writes fail inside the kernel (short
// writes, then EFBIG) rather than in the platform layer.
class FileSizeLimit : public FullDisk {
 protected:
  int ApplyLimited(Change change, rlim_t limit) {
    const ChildOutcome outcome = RunWithFileSizeLimit(limit, [&] { return Apply(change); });
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal;
    return outcome.exitCode;
  }
};

TEST_F(FileSizeLimit, EveryLimitBelowTheNewArchivesSizeFailsCleanly) {
  size_t cases = 0;
  for (const Change change : kAllChanges) {
    CleanRun(change);
    const size_t size = reference_.size();
    ASSERT_GT(size, 0u);
    std::vector<rlim_t> limits;
    for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{13}, rlim_t{14}, rlim_t{15}, rlim_t{size - 1}}) {
      if (limit < size) limits.push_back(limit);
    }
    for (size_t limit = 64; limit < size; limit += size / 30 + 1) limits.push_back(limit);
    for (const rlim_t limit : limits) {
      Reset(change);
      const int result = ApplyLimited(change, limit);
      ExpectUnchanged(change, result,
                      std::string(ChangeName(change)) + ", files limited to " + std::to_string(limit) + " bytes");
      ++cases;
    }
    // With room to spare everything fits. (Not at exactly the final size: a
    // deflate attempt that loses to storing may overshoot it before it is cut.)
    Reset(change);
    EXPECT_EQ(ApplyLimited(change, size + (1 << 20)), 0) << ChangeName(change);
    EXPECT_TRUE(ReadFileBytes(folders_.archive()) == reference_) << ChangeName(change);
  }
  std::cout << "[ figures  ] file-size-limit cases: " << cases << std::endl;
}

TEST_F(FileSizeLimit, ExtractionBeyondTheLimitFailsAndLeavesNoFile) {
  CleanRun(Change::kCreate);
  size_t cases = 0;
  for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{4095}, rlim_t{65536}, rlim_t{150000}}) {
    const std::string out = FreshOut();
    const ChildOutcome outcome = RunWithFileSizeLimit(limit, [&] {
      int failures = 0;
      const bool opened = EachHeader(folders_.archive(), [&](HANDLE_WCX handle, const tHeaderData& header, int index) {
        const int result = ExtractCurrent(handle, out + "/", "e" + std::to_string(index));
        // A file that fits must come out; one that does not must fail with E_EWRITE.
        if (header.UnpSize <= static_cast<int>(limit) ? result != 0 : result != E_EWRITE) {
          failures = 101;
        } else if (result != 0) {
          ++failures;
        }
        return failures < 100;
      });
      return opened ? failures : 100;
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_LT(outcome.exitCode, 100) << "limit " << limit;
    EXPECT_GT(outcome.exitCode, 0) << "limit " << limit << ": nothing was too large";
    // Only complete files remain: each one matches its source.
    for (const std::string& name : FolderListing(out)) {
      EXPECT_EQ(name.find(".tvxpart"), std::string::npos) << "limit " << limit << ": " << name;
      const std::string path = out + "/" + name;
      EXPECT_TRUE(fs::is_directory(path) || fs::file_size(path) <= limit) << path;
    }
    ++cases;
  }
  std::cout << "[ figures  ] extraction size-limit cases: " << cases << std::endl;
}
#endif  // _WIN32

}  // namespace
}  // namespace tvx::test::reliability
