// Full disks and failing I/O. Every write (and, separately, every read) of
// packing, deleting and extracting is made to fail in turn - through the
// fault-injecting system wrapper on every system, also with the archive on
// other drives than the temporary folder (FakeDrives), and on Linux through a
// real file size limit (RLIMIT_FSIZE, the kernel's EFBIG). Each time the
// answer must be a non-zero code, the old archive and the source files must
// be unchanged, and no temporary, side or partial file may be left - but a
// finished new archive whose replacement failed.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "TolvexU/result_codes.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "reliability/reliability_helpers.h"
#include "support/module_driver.h"

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

using Change = SceneChange;
constexpr Change kAllChanges[] = {Change::kPack, Change::kPackAndMove, Change::kCreate, Change::kDelete};

// The shared scene; tmp/ is the process's temporary folder while a change runs.
class FullDisk : public SceneSweep {
 protected:
  // After a failed change: everything as it was, nothing left behind - but on
  // other drives a finished new archive whose replacement failed (E_EWRITE),
  // and the old one may be gone where the new one was being copied over it.
  void ExpectUnchanged(Change change, int result, const std::string& what, Drives drives = Drives::kSystem) {
    // Which code is checked where it matters (below); here: an error code.
    EXPECT_TRUE(result == E_EWRITE || result == E_ECREATE || result == E_EREAD || result == E_BAD_ARCHIVE ||
                result == E_UNKNOWN_FORMAT)
        << what << ": result " << result;
    std::vector<std::string> left = folders_.Leftovers();
    // (Its entries, not its bytes: a folder made by Reset has the time of the
    // moment on Windows, where its time cannot be set.)
    const bool kept = drives != Drives::kSystem && left.size() == 1 && result == E_EWRITE &&
                      ArchiveHolds(left[0], Scene().After(change));
    if (kept) left.clear();
    if (change == Change::kCreate) {
      EXPECT_FALSE(PathExists(folders_.archive())) << what << ": a failed creation left a file";
    } else {
      EXPECT_TRUE((kept && drives == Drives::kNoRoomBeside) || ReadFileBytes(folders_.archive()) == folders_.oldBytes())
          << what << ": the old archive changed";
    }
    EXPECT_EQ(left, std::vector<std::string>()) << what << ": a file was left behind";
    EXPECT_TRUE(folders_.SourcesIntact()) << what;
  }

  // An empty folder to extract into.
  std::string FreshOut() const {
    const std::string out = folders_.root() + NativeSeparator() + "out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    return out;
  }
};

// Every write (or read) of every change failed in turn: a full disk (every
// write from the Nth on), every read from the Nth on, a single failed write, a
// single failed read. Where only one call fails, the change may work around it
// (a single failed rename: a copy beside the archive); then the result must be
// the complete new archive. On other drives packing with move and deleting;
// without room beside the archive the old one can only be overwritten in
// place, so a single failure is not swept there (it may cost the old archive;
// what is kept then is the new one).
TEST_F(FullDisk, EveryFailedWriteOrReadFailsTheChangeAndLeavesEverythingAsItWasOrGivesTheCompleteArchive) {
  const std::pair<const char*, FaultCase> rows[] = {{"EveryFailedWriteFailsTheChangeAndLeavesEverythingAsItWas", {Failing::kWrites, false}},
      {"EveryFailedReadFailsTheChangeAndLeavesEverythingAsItWas", {Failing::kReads, false}},
      {"ASingleFailedWriteFailsTheChangeOrGivesTheCompleteArchive", {Failing::kWrites, true}},
      {"ASingleFailedReadFailsTheChangeOrStillGivesTheCompleteArchive", {Failing::kReads, true}}};
  std::vector<std::pair<Drives, Change>> ways;
  for (const Change change : kAllChanges) ways.emplace_back(Drives::kSystem, change);
  for (const Drives drives : {Drives::kSideFile, Drives::kNoRoomBeside, Drives::kRemovable}) {
    for (const Change change : {Change::kPackAndMove, Change::kDelete}) ways.emplace_back(drives, change);
  }
  for (const auto& [name, c] : rows) {
    size_t cases = 0, recovered = 0;
    for (const auto& [drives, change] : ways) {
      if (drives == Drives::kNoRoomBeside && c.once) continue;
      platform::System* system = CleanRunOn(drives, change);
      const std::string way = std::string(ChangeName(change)) + " " + DrivesName(drives);
      EXPECT_EQ(folders_.Leftovers(), std::vector<std::string>()) << way << ": a clean run left a file";
      ForEveryCall(c, counts_, [&, name = name, c = c](const FaultPlan& plan, const std::string& failure) {
        const int result = ApplyFailing(change, plan, system);
        const std::string what = std::string(name) + ": " + way + ", " + failure;
        if (c.once && result == 0) {
          EXPECT_TRUE(ReadFileBytes(folders_.archive()) == reference_)
              << what << ": succeeded with a different archive";
          EXPECT_EQ(folders_.Leftovers(), std::vector<std::string>()) << what << ": succeeded, but left a file";
          ++recovered;
        } else {
          ExpectUnchanged(change, result, what, drives);
        }
        ++cases;
      });
    }
    std::cout << "[ figures  ] " << Describe(c) << ": " << cases << " cases (" << recovered
              << " single failures worked around with the complete new archive)" << std::endl;
  }
}

// Three findings of the sweeps. Full-disk sweep: when the rename that puts the
// new archive in place failed and every write after it failed too, the old
// archive was truncated by the last-resort copy over it (E_EWRITE; the new
// archive survived only as a temporary file). A full disk must never cost the
// user the archive. Failed-read sweep: when the very first read of the archive
// failed (a bad sector, a dropped network share), packing answered
// E_UNKNOWN_FORMAT - "not an archive of this kind" - for a perfectly good
// archive. A host may then offer to replace it; the answer must be a read error.
// And the copy across drives is the last step: when it fails, the finished new
// archive is kept in the temporary folder.
TEST_F(FullDisk, AFailedRenameOnAFullDiskNeverEmptiesTheOldArchiveAndAReadErrorIsNoForeignFile) {
  // The change, the drives, the failing calls, the call that fails (from the
  // clean run's last mutating call back when not positive), the answer.
  const std::tuple<Change, Drives, FaultCase, int, int> rows[] = {
      // The last call of a clean run, the rename, and every one after it.
      {Change::kPack, Drives::kSystem, {Failing::kWrites, false}, 0, E_EWRITE},
      {Change::kPack, Drives::kSystem, {Failing::kReads, true}, 1, E_EREAD},
      {Change::kDelete, Drives::kSystem, {Failing::kReads, true}, 1, E_EREAD},
      // The copy's last write, before the final rename.
      {Change::kDelete, Drives::kRemovable, {Failing::kWrites, true}, -1, E_EWRITE}};
  for (const auto& [change, drives, faults, call, expected] : rows) {
    platform::System* system = CleanRunOn(drives, change);
    const uint64_t at = call > 0 ? call : counts_.mutating + call;
    const std::string what = std::string(ChangeName(change)) + " " + DrivesName(drives) + ", expected " +
                             std::to_string(expected);
    EXPECT_EQ(ApplyFailing(change, PlanFor(faults, at), system), expected) << what;
    const std::string now = ReadFileBytes(folders_.archive());
    EXPECT_TRUE(now == folders_.oldBytes())
        << what << ": the old archive now has " << now.size() << " bytes instead of " << folders_.oldBytes().size();
    if (drives == Drives::kSystem) continue;
    ASSERT_EQ(fake_->tempFilesMade.size(), 2u) << what;  // the clean run's and this one's
    EXPECT_TRUE(PathExists(fake_->tempFilesMade[1]) && ReadFileBytes(fake_->tempFilesMade[1]) == reference_)
        << what << ": the finished new archive was lost";
  }
}

// Extraction of every entry of the scene with the Nth write failing: the
// entry fails, and neither its file nor a partial file appears - an existing
// file of that name keeps its content.
TEST_F(FullDisk, FailedExtractionLeavesNoFileAndKeepsAnExistingOne) {
  CleanRun(Change::kCreate);
  size_t cases = 0;
  for (const bool existing : {false, true}) {
    for (uint64_t n = 1, anyFailed = 1; anyFailed != 0; ++n) {  // until n lies beyond the last write of extraction
      anyFailed = 0;
      const std::string destPath = FreshOut() + NativeSeparator();
      // As ProcessFile extracts, through the faulty system.
      std::unique_ptr<Archive> archive = Archive::NewArchive(faults_, folders_.archive());
      ASSERT_TRUE(archive->valid() && !archive->damaged());
      FaultPlan plan;
      plan.failWriteAt = n;
      FaultPlanGuard guard(faults_, plan);
      for (size_t index = 0; index < archive->entries().size(); ++index, ++cases) {
        const ArchiveEntry& entry = archive->entries()[index];
        const std::string target = destPath + "e" + std::to_string(index);
        if (existing && !entry.IsDirectory()) WriteFileBytes(target, "existing");
        const int result = host::ToHostCode(ExtractEntry(*archive, entry, target, destPath.size()));
        const std::string what =
            entry.name + ", writes failing from " + std::to_string(n) + (existing ? ", over an existing file" : "");
        EXPECT_FALSE(PathExists(target + ".tvxpart")) << what;
        if (result == 0) continue;
        ++anyFailed;
        EXPECT_TRUE(result == E_EWRITE || result == E_ECREATE) << what << ": result " << result;
        EXPECT_TRUE(existing ? ReadFileBytes(target) == "existing" : !PathExists(target)) << what;
      }
    }
  }
  std::cout << "[ figures  ] failed-extraction cases: " << cases << std::endl;
}

#ifndef _WIN32
// Linux: a real limit on file size, so writes fail inside the kernel (short
// writes, then EFBIG) rather than in the platform layer.
class FileSizeLimit : public FullDisk {};

TEST_F(FileSizeLimit, EveryLimitBelowTheNewArchivesSizeFailsCleanly) {
  size_t cases = 0;
  for (const Change change : kAllChanges) {
    CleanRun(change);
    const size_t size = reference_.size();
    std::vector<rlim_t> limits = {0, 1, 13, 14, 15, size - 1};
    for (size_t limit = 64; limit < size; limit += size / 30 + 1) limits.push_back(limit);
    // With room to spare everything fits. (Not at exactly the final size: a
    // deflate attempt that loses to storing may overshoot it before it is cut.)
    limits.push_back(size + (1 << 20));
    for (const rlim_t limit : limits) {
      const std::string what = std::string(ChangeName(change)) + ", files limited to " + std::to_string(limit);
      Reset(change);
      const ChildOutcome outcome = RunWithFileSizeLimit(limit, [&] { return Apply(change); });
      EXPECT_TRUE(outcome.exited) << what << ": signal " << outcome.signal;
      if (limit < size) {
        ExpectUnchanged(change, outcome.exitCode, what);
        ++cases;
      } else {
        EXPECT_EQ(outcome.exitCode, 0) << what;
        EXPECT_TRUE(ReadFileBytes(folders_.archive()) == reference_) << what;
      }
    }
  }
  std::cout << "[ figures  ] file-size-limit cases: " << cases << std::endl;
}

TEST_F(FileSizeLimit, ExtractionBeyondTheLimitFailsAndLeavesNoFile) {
  CleanRun(Change::kCreate);
  const Listing listing = ListArchive(*LoadedModule(), folders_.archive());
  for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{4095}, rlim_t{65536}, rlim_t{150000}}) {
    const std::string out = FreshOut();
    const ChildOutcome outcome = RunWithFileSizeLimit(limit, [&] {
      const std::vector<int> results = ExtractEach(*LoadedModule(), folders_.archive(), out);
      int failures = results.size() == listing.entries.size() ? 0 : 100;
      for (size_t i = 0; i < results.size() && failures < 100; ++i) {
        // A file that fits must come out; one that does not must fail with E_EWRITE.
        const bool fits = listing.entries[i].unpSize <= static_cast<int>(limit);
        failures = (fits ? results[i] != 0 : results[i] != E_EWRITE) ? 101 : failures + (results[i] != 0 ? 1 : 0);
      }
      return failures;
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_LT(outcome.exitCode, 100) << "limit " << limit;
    EXPECT_GT(outcome.exitCode, 0) << "limit " << limit << ": nothing was too large";
    // Only complete files remain: each one matches its source.
    for (const std::string& name : FolderListing(out)) {
      EXPECT_EQ(name.find(".tvxpart"), std::string::npos) << "limit " << limit << ": " << name;
      EXPECT_TRUE(fs::is_directory(out + "/" + name) || fs::file_size(out + "/" + name) <= limit) << name;
    }
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace tvx::test::reliability
