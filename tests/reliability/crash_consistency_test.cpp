// A process killed while it changes an archive (Linux: fork and SIGKILL).
// A child runs PackFiles or DeleteFiles and is killed just before its Nth
// mutating call (write, truncation, rename), for every N of a clean run, and
// also at random moments by the parent. Afterwards the archive must be byte
// for byte the old one or the complete new one (as a clean run writes it),
// no source file may be gone unless the new archive is in place, and the only
// leftovers allowed are the named temporary files of the chosen strategy.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/sample_data.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

// Fixed times make the new archive of every run identical to the reference.
constexpr time_t kFixedTime = 1600000000;

uint64_t g_killAt = 0;
void KillBeforeCall(uint64_t index) {
  if (index == g_killAt) ::raise(SIGKILL);
}

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

enum class Operation { kPack, kPackAndMove, kDelete, kCreate };
// kSplit...: the temporary folder lies on another drive. SideFileTaken: a
// file of the user's holds the side file's name. NothingFreeBeside: in
// addition no name beside the archive is free for a copy, so the new archive
// can only be copied over the old one.
enum class Drives { kSystem, kSplit, kSplitSideFileTaken, kSplitNothingFreeBeside };

struct Scenario {
  Operation operation;
  Drives drives;
};

// One scratch world: arc/ holds the archive, src/ the files to add, tmp/ is
// the child's TMPDIR.
class CrashConsistency : public ::testing::Test {
 protected:
  void SetUp() override {
    arcFolder_ = dir_.File("arc") + "/";
    srcFolder_ = dir_.File("src") + "/";
    tmpFolder_ = dir_.File("tmp") + "/";
    archive_ = arcFolder_ + "old.tvx";
    sideFile_ = arcFolder_ + "old___";
    sources_ = {{"docs/readme.txt", TextBytes(60)},
                {"big.txt", TextBytes(40000)},
                {"data.bin", NoiseBytes(96 * 1024, 11)},
                {"empty.txt", ""}};
    listItems_ = {"docs/", "docs/readme.txt", "big.txt", "data.bin", "empty.txt"};
    // The old archive, made before any fault plan is set.
    fs::create_directories(arcFolder_);
    TempDir oldSources;
    fs::create_directories(oldSources.File("docs"));
    WriteFileBytes(oldSources.File("keep.bin"), NoiseBytes(40 * 1024, 3));
    WriteFileBytes(oldSources.File("docs/old.txt"), TextBytes(5000));
    std::string list = NameList({"keep.bin", "docs/", "docs/old.txt"});
    std::string folder = oldSources.path() + "/";
    std::string archive = archive_;
    ASSERT_EQ(PackFiles(&archive[0], nullptr, &folder[0], &list[0], PK_PACK_SAVE_PATHS), 0);
    old_ = ReadFileBytes(archive_);
    ASSERT_FALSE(old_.empty());
  }

  // The side-file name is taken by a file of the user's, so the new archive
  // goes to the temporary folder on the other drive.
  static bool SideFileTaken(const Scenario& s) {
    return s.drives == Drives::kSplitSideFileTaken || s.drives == Drives::kSplitNothingFreeBeside;
  }

  // Puts the world back as it was before the operation.
  void Reset(const Scenario& s) {
    std::error_code ec;
    fs::remove_all(arcFolder_, ec);
    fs::remove_all(srcFolder_, ec);
    fs::remove_all(tmpFolder_, ec);
    fs::create_directories(arcFolder_);
    fs::create_directories(srcFolder_ + "docs");
    fs::create_directories(tmpFolder_);
    if (s.operation != Operation::kCreate) WriteFileBytes(archive_, old_);
    if (SideFileTaken(s)) WriteFileBytes(sideFile_, kUsersFile);
    const struct timeval times[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
    for (const auto& file : sources_) {
      WriteFileBytes(srcFolder_ + file.first, file.second);
      ::utimes((srcFolder_ + file.first).c_str(), times);
    }
    ::utimes((srcFolder_ + "docs").c_str(), times);
  }

  // The operation as the child runs it, through the faulty system (and the
  // split drives over it); the host's result code.
  int Run(const Scenario& s) {
    ::setenv("TMPDIR", tmpFolder_.c_str(), 1);
    std::string list = NameList(listItems_);
    SplitDrives split(faults_, tmpFolder_, s.drives == Drives::kSplitNothingFreeBeside);
    platform::System& drives = s.drives == Drives::kSystem ? static_cast<platform::System&>(faults_) : split;
    if (s.operation == Operation::kDelete) {
      std::string names = NameList({"docs/*.*"});
      return host::DeleteFilesWith(drives, archive_, names.c_str());
    }
    const int flags = PK_PACK_SAVE_PATHS | (s.operation == Operation::kPackAndMove ? PK_PACK_MOVE_FILES : 0);
    host::PackRequest request;
    request.packedFile = archive_;
    request.srcPath = srcFolder_;
    request.addList = list.c_str();
    request.flags = flags;
    return host::PackFilesWith(drives, request);
  }

  // A clean run: the reference archive and how many mutating calls it makes.
  void CleanRun(const Scenario& s) {
    Reset(s);
    const std::string countFile = dir_.File("count");
    const ChildOutcome outcome = RunInChild([&] {
      faults_.SetPlan(FaultPlan{});
      const int result = Run(s);
      WriteFileBytes(countFile, std::to_string(faults_.MutatingCalls()));
      return result;
    });
    ASSERT_TRUE(outcome.exited);
    ASSERT_EQ(outcome.exitCode, 0);
    reference_ = ReadFileBytes(archive_);
    ASSERT_FALSE(reference_.empty());
    ASSERT_NE(reference_, old_);
    calls_ = std::strtoull(ReadFileBytes(countFile).c_str(), nullptr, 10);
    ASSERT_GT(calls_, 2u);
  }

  std::set<std::string> Names(const std::string& folder) const {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      names.insert(it->path().filename().string());
    }
    return names;
  }

  // Checks the world after a killed run; counts what was left where.
  void CheckAfterKill(const Scenario& s, const std::string& what) {
    const bool archiveExists = PathExists(archive_);
    const std::string archive = archiveExists ? ReadFileBytes(archive_) : std::string();
    const bool isOld = s.operation != Operation::kCreate ? archive == old_ : !archiveExists;
    const bool isNew = archiveExists && archive == reference_;

    // Temporary files: at most one, a "tvx" file in the temporary folder.
    const std::set<std::string> temps = Names(tmpFolder_);
    EXPECT_LE(temps.size(), 1u) << what;
    bool tempHoldsNew = false;
    for (const std::string& name : temps) {
      EXPECT_EQ(name.compare(0, 3, "tvx"), 0) << what << ": " << name;
      tempHoldsNew = ReadFileBytes(tmpFolder_ + name) == reference_;
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
    for (const std::string& name : Names(arcFolder_)) {
      if (name == "old.tvx") continue;
      if (name == "old___" && SideFileTaken(s)) {
        EXPECT_TRUE(ReadFileBytes(sideFile_) == kUsersFile) << what << ": the user's file was changed";
      } else if (name == "old___" && s.drives == Drives::kSplit) {
        ++leftovers_[ReadFileBytes(sideFile_) == reference_ ? "side file old___ (complete new archive)"
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
    for (const auto& file : sources_) {
      const std::string path = srcFolder_ + file.first;
      if (!PathExists(path)) {
        EXPECT_EQ(s.operation, Operation::kPackAndMove) << what << ": " << file.first << " vanished";
        EXPECT_TRUE(isNew) << what << ": " << file.first << " deleted before the new archive was in place";
        ++leftovers_["moved source deleted (new archive in place)"];
      } else {
        EXPECT_TRUE(ReadFileBytes(path) == file.second) << what << ": " << file.first << " changed";
      }
    }
    ++cases_;
  }

  // Runs the operation from a fresh start in a child that is killed before
  // its nth mutating call, and checks what the kill left.
  void KillAt(const Scenario& s, uint64_t n) {
    Reset(s);
    const ChildOutcome outcome = RunInChild([&] {
      g_killAt = n;
      FaultPlan plan;
      plan.beforeWrite = KillBeforeCall;
      faults_.SetPlan(plan);
      return Run(s);
    });
    const std::string what = "killed before mutating call " + std::to_string(n) + " of " + std::to_string(calls_);
    ASSERT_EQ(outcome.signal, SIGKILL) << what;
    CheckAfterKill(s, what);
  }

  // Kills the operation before each of its mutating calls in turn.
  void KillAtEveryCall(const Scenario& s) {
    CleanRun(s);
    if (HasFatalFailure()) return;
    for (uint64_t n = 1; n <= calls_; ++n) {
      KillAt(s, n);
      if (HasFatalFailure()) return;
    }
    Report(std::to_string(calls_) + " mutating calls in a clean run");
  }

  void Report(const std::string& how) const {
    std::cout << "[ figures  ] " << cases_ << " kill points (" << how << ")";
    for (const auto& kind : leftovers_) std::cout << "; " << kind.first << ": " << kind.second;
    std::cout << std::endl;
  }

  static constexpr const char* kUsersFile = "a file of the user's that happens to have the side file's name";
  FaultySystem faults_;
  TempDir dir_;
  std::string arcFolder_, srcFolder_, tmpFolder_, archive_, sideFile_;
  std::map<std::string, std::string> sources_;
  std::vector<std::string> listItems_;
  std::string old_;
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
  const Scenario s{Operation::kCreate, Drives::kSystem};
  CleanRun(s);
  ASSERT_FALSE(HasFatalFailure());
  for (uint64_t n = 1; n <= calls_; ++n) {
    KillAt(s, n);
    ASSERT_FALSE(HasFatalFailure());
    const std::string what = "killed before mutating call " + std::to_string(n) + " of " + std::to_string(calls_);
    if (PathExists(archive_) && ReadFileBytes(archive_) != reference_) {
      std::string name = archive_;
      tOpenArchiveData open{};
      open.ArcName = &name[0];
      HANDLE_WCX handle = OpenArchive(&open);
      if (handle == nullptr) continue;
      int entries = 0;
      int testedGood = 0;
      tHeaderData header{};
      while (ReadHeader(handle, &header) == 0) {
        ++entries;
        if (ProcessFile(handle, PK_TEST, nullptr, nullptr) == 0) ++testedGood;
      }
      CloseArchive(handle);
      ADD_FAILURE() << what << ": the incomplete archive opens; " << testedGood << " of its " << entries
                    << " entries test good";
    }
  }
  Report(std::to_string(calls_) + " mutating calls in a clean run");
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
