// Full disks and failing I/O. Every write (and, separately, every read) of
// packing, deleting and extracting is made to fail in turn - through the
// fault-injecting system wrapper on every system, and on Linux also through a
// real file size limit (RLIMIT_FSIZE, the kernel's EFBIG). Each time the
// answer must be a non-zero code, the old archive and the source files must
// be unchanged, and no temporary, side or partial file may be left.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/result_codes.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "platform/platform.h"
#include "support/sample_data.h"
#include "support/test_support.h"
#include "support/test_system.h"

#ifdef _WIN32
#include "support/windows_headers.h"
#else
#include <signal.h>
#include <sys/resource.h>

#include "support/child_process.h"
#endif

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

// Points the process's temporary folder at folder while it lives.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& folder) {
#ifdef _WIN32
    Save("TMP");
    Save("TEMP");
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
#else
    Save("TMPDIR");
    ::setenv("TMPDIR", folder.c_str(), 1);
#endif
  }
  ~ScopedTempFolder() {
    for (const auto& saved : saved_) {
#ifdef _WIN32
      SetEnvironmentVariableA(saved.first.c_str(), saved.second.first ? saved.second.second.c_str() : nullptr);
#else
      if (saved.second.first) {
        ::setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
      } else {
        ::unsetenv(saved.first.c_str());
      }
#endif
    }
  }
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

 private:
  void Save(const char* name) {
    const char* value = std::getenv(name);
    saved_[name] = {value != nullptr, value != nullptr ? value : ""};
  }
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(it->path().filename().string());
  }
  return names;
}

enum class Change { kPackIntoArchive, kPackAndMove, kCreateArchive, kDeleteFromArchive };

const char* ChangeName(Change change) {
  switch (change) {
    case Change::kPackIntoArchive: return "pack into the archive";
    case Change::kPackAndMove: return "pack and move";
    case Change::kCreateArchive: return "create an archive";
    case Change::kDeleteFromArchive: return "delete from the archive";
  }
  return "";
}

// arc/ holds the archive, src/ the sample's files plus two larger ones (so
// that content takes several writes), tmp/ is the temporary folder.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    sep_ = NativeSeparator();
    arcFolder_ = dir_.File("arc");
    tmpFolder_ = dir_.File("tmp");
    archive_ = arcFolder_ + sep_ + "old.tvx";
    fs::create_directories(arcFolder_);
    fs::create_directories(tmpFolder_);
    sources_ = WriteSampleSources(dir_);
    // Big enough for several 64 KiB pieces of deflate output and a deflate
    // attempt that loses to storing; small enough to sweep quickly.
    extra_ = {{"big.txt", TextBytes(12000)}, {"noise.bin", NoiseBytes(200 * 1024, 5)}};
    for (const auto& file : extra_) {
      ASSERT_TRUE(WriteFileBytes(sources_.folder + file.first, file.second));
      sources_.listItems.push_back(file.first);
    }
    // The old archive: the sample's files under other names.
    TempDir oldSources;
    ASSERT_TRUE(WriteFileBytes(oldSources.File("keep.txt"), TextBytes(3000)));
    fs::create_directories(oldSources.File("docs"));
    ASSERT_TRUE(WriteFileBytes(oldSources.File("docs" + sep_ + "old.bin"), NoiseBytes(70000, 9)));
    std::string list = NameList({"keep.txt", "docs" + sep_, "docs" + sep_ + "old.bin"});
    std::string folder = oldSources.path() + sep_;
    std::string archive = archive_;
    ASSERT_EQ(PackFiles(&archive[0], nullptr, &folder[0], &list[0], PK_PACK_SAVE_PATHS), 0);
    old_ = ReadFileBytes(archive_);
    ASSERT_FALSE(old_.empty());
    std::error_code ec;
    fixedTime_ = fs::last_write_time(archive_, ec);
  }

  void Reset(Change change) {
    std::error_code ec;
    for (const std::string& name : Names(arcFolder_)) fs::remove_all(arcFolder_ + sep_ + name, ec);
    for (const std::string& name : Names(tmpFolder_)) fs::remove_all(tmpFolder_ + sep_ + name, ec);
    if (change != Change::kCreateArchive) WriteFileBytes(archive_, old_);
    // One fixed time for every source, so that each run's entry times - and
    // so its archive - match the clean run's.
    for (const auto& file : AllSources()) {
      WriteFileBytes(sources_.folder + file.first, file.second);
      fs::last_write_time(sources_.folder + file.first, fixedTime_, ec);
    }
    fs::last_write_time(sources_.folder + "docs", fixedTime_, ec);
  }

  std::map<std::string, std::string> AllSources() const {
    std::map<std::string, std::string> all = extra_;
    for (const auto& file : sources_.files) {
      std::string name = file.first;
      for (char& c : name) {
        if (c == '/') c = sep_[0];
      }
      all[name] = file.second;
    }
    return all;
  }

  // The change, as the exports make it, through the faulty system.
  int Apply(Change change) {
    ScopedTempFolder temp(tmpFolder_);
    if (change == Change::kDeleteFromArchive) {
      const std::string names = NameList({"docs" + sep_ + "*.*", "keep.txt"});
      return host::DeleteFilesWith(faults_, archive_, names.c_str());
    }
    const std::string list = NameList(sources_.listItems);
    host::PackRequest request;
    request.packedFile = archive_;
    request.srcPath = sources_.folder;
    request.addList = list.c_str();
    request.flags = PK_PACK_SAVE_PATHS | (change == Change::kPackAndMove ? PK_PACK_MOVE_FILES : 0);
    return host::PackFilesWith(faults_, request);
  }

  // The change from a fresh start, with the Nth write or read failing: only it
  // (once), or it and every later one.
  int ApplyFailing(Change change, uint64_t n, bool failingWrites, bool once) {
    Reset(change);
    FaultPlan plan;
    (failingWrites ? plan.failWriteAt : plan.failReadAt) = n;
    plan.failOnce = once;
    faults_.SetPlan(plan);
    const int result = Apply(change);
    faults_.ClearPlan();
    return result;
  }

  // After a failed change: everything as it was, nothing left behind.
  void ExpectUnchanged(Change change, int result, const std::string& what) {
    EXPECT_NE(result, 0) << what;
    // Which code is checked where it matters (below); here: an error code.
    EXPECT_TRUE(result == E_EWRITE || result == E_ECREATE || result == E_EREAD || result == E_BAD_ARCHIVE ||
                result == E_UNKNOWN_FORMAT)
        << what << ": result " << result;
    if (change == Change::kCreateArchive) {
      EXPECT_FALSE(PathExists(archive_)) << what << ": a failed creation left a file";
    } else {
      EXPECT_TRUE(ReadFileBytes(archive_) == old_) << what << ": the old archive changed";
    }
    const std::set<std::string> expected =
        change == Change::kCreateArchive ? std::set<std::string>{} : std::set<std::string>{"old.tvx"};
    EXPECT_EQ(Names(arcFolder_), expected) << what << ": a file was left beside the archive";
    EXPECT_EQ(Names(tmpFolder_), std::set<std::string>{}) << what << ": a file was left in the temporary folder";
    for (const auto& file : AllSources()) {
      EXPECT_TRUE(ReadFileBytes(sources_.folder + file.first) == file.second) << what << ": source " << file.first;
    }
  }

  // A clean run: the new archive and the number of mutating calls and reads.
  void CleanRun(Change change, std::string& reference, uint64_t& writes, uint64_t& reads) {
    Reset(change);
    FaultPlanGuard guard(faults_, FaultPlan{});
    ASSERT_EQ(Apply(change), 0) << ChangeName(change);
    writes = faults_.MutatingCalls();
    reads = faults_.ReadCalls();
    reference = ReadFileBytes(archive_);
  }

  FaultySystem faults_;
  TempDir dir_;
  std::string sep_, arcFolder_, tmpFolder_, archive_, old_;
  SampleSources sources_;
  std::map<std::string, std::string> extra_;
  fs::file_time_type fixedTime_;
};

constexpr Change kAllChanges[] = {Change::kPackIntoArchive, Change::kPackAndMove, Change::kCreateArchive,
                                  Change::kDeleteFromArchive};

TEST_F(FullDisk, EveryFailedWriteFailsTheChangeAndLeavesEverythingAsItWas) {
  size_t cases = 0;
  size_t recovered = 0;
  for (const Change change : kAllChanges) {
    std::string reference;
    uint64_t writes = 0, reads = 0;
    CleanRun(change, reference, writes, reads);
    ASSERT_GT(writes, 2u);
    for (const bool once : {false, true}) {  // a full disk, and a single failed write
      for (uint64_t n = 1; n <= writes; ++n) {
        const int result = ApplyFailing(change, n, true, once);
        const std::string what = std::string(ChangeName(change)) + (once ? ", only" : ", from") + " write " +
                                 std::to_string(n) + " of " + std::to_string(writes) + " failing";
        if (once && result == 0) {
          // A single failed rename may be worked around (a copy beside the
          // archive); then the result must be the complete new archive.
          EXPECT_TRUE(ReadFileBytes(archive_) == reference) << what << ": succeeded with a different archive";
          ++recovered;
        } else {
          ExpectUnchanged(change, result, what);
        }
        ++cases;
      }
    }
  }
  std::cout << "[ figures  ] failed-write cases: " << cases << " (" << recovered
            << " single failures worked around with the complete new archive)" << std::endl;
}

TEST_F(FullDisk, EveryFailedReadFailsTheChangeOrStillGivesTheCompleteArchive) {
  size_t cases = 0;
  for (const Change change : kAllChanges) {
    std::string reference;
    uint64_t writes = 0, reads = 0;
    CleanRun(change, reference, writes, reads);
    ASSERT_GT(reads, 0u);
    for (uint64_t n = 1; n <= reads; ++n) {
      const int result = ApplyFailing(change, n, false, true);
      const std::string what = std::string(ChangeName(change)) + ", read " + std::to_string(n) + " of " +
                               std::to_string(reads) + " failing";
      if (result == 0) {
        EXPECT_TRUE(ReadFileBytes(archive_) == reference) << what << ": succeeded with a different archive";
      } else {
        ExpectUnchanged(change, result, what);
      }
      ++cases;
    }
  }
  std::cout << "[ figures  ] failed-read cases: " << cases << std::endl;
}

// Full-disk sweep: when the rename that puts the new archive in place failed
// and every write after it failed too, the old archive was truncated by the
// last-resort copy over it (E_EWRITE; the new archive survived only as a
// temporary file). A full disk must never cost the user the archive.
TEST_F(FullDisk, AFailedRenameOnAFullDiskNeverEmptiesTheOldArchive) {
  std::string reference;
  uint64_t writes = 0, reads = 0;
  CleanRun(Change::kPackIntoArchive, reference, writes, reads);
  // The last call of a clean run, the rename, and every one after it.
  const int result = ApplyFailing(Change::kPackIntoArchive, writes, true, false);
  EXPECT_EQ(result, E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(archive_) == old_) << "the old archive now has " << ReadFileBytes(archive_).size()
                                               << " bytes instead of " << old_.size();
}

// Failed-read sweep: when the very first read of the archive failed (a bad
// sector, a dropped network share), packing answered E_UNKNOWN_FORMAT - "not
// an archive of this kind" - for a perfectly good archive. A host may then
// offer to replace it; the answer must be a read error.
TEST_F(FullDisk, AReadErrorOnTheArchiveIsReportedAsAReadErrorNotAsAForeignFile) {
  for (const Change change : {Change::kPackIntoArchive, Change::kDeleteFromArchive}) {
    const int result = ApplyFailing(change, 1, false, true);
    EXPECT_EQ(result, E_EREAD) << ChangeName(change);
    EXPECT_TRUE(ReadFileBytes(archive_) == old_) << ChangeName(change);
  }
}

// Extraction of every entry of the sample with the Nth write failing: the
// entry fails, and neither its file nor a partial file appears - an existing
// file of that name keeps its content.
TEST_F(FullDisk, FailedExtractionLeavesNoFileAndKeepsAnExistingOne) {
  std::string reference;
  uint64_t writes = 0, reads = 0;
  CleanRun(Change::kCreateArchive, reference, writes, reads);
  ASSERT_FALSE(reference.empty());
  const std::string out = dir_.File("out");
  size_t cases = 0;
  for (const bool existing : {false, true}) {
    for (uint64_t n = 1;; ++n) {
      std::error_code ec;
      fs::remove_all(out, ec);
      fs::create_directories(out);
      // As ProcessFile extracts, through the faulty system.
      std::unique_ptr<Archive> archive = Archive::NewArchive(faults_, archive_);
      ASSERT_TRUE(archive->valid() && !archive->damaged());
      FaultPlan plan;
      plan.failWriteAt = n;
      faults_.SetPlan(plan);
      bool anyFailed = false;
      for (size_t index = 0; index < archive->entries().size(); ++index) {
        const ArchiveEntry& entry = archive->entries()[index];
        const std::string destPath = out + sep_;
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
  // Runs the change in a child whose files may not grow beyond limit bytes.
  int ApplyLimited(Change change, rlim_t limit) {
    const ChildOutcome outcome = RunInChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit cap = {limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &cap);
      return Apply(change);
    });
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal;
    return outcome.exitCode;
  }
};

TEST_F(FileSizeLimit, EveryLimitBelowTheNewArchivesSizeFailsCleanly) {
  size_t cases = 0;
  for (const Change change : kAllChanges) {
    std::string reference;
    uint64_t writes = 0, reads = 0;
    CleanRun(change, reference, writes, reads);
    const size_t size = reference.size();
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
    EXPECT_TRUE(ReadFileBytes(archive_) == reference) << ChangeName(change);
  }
  std::cout << "[ figures  ] file-size-limit cases: " << cases << std::endl;
}

TEST_F(FileSizeLimit, ExtractionBeyondTheLimitFailsAndLeavesNoFile) {
  std::string reference;
  uint64_t writes = 0, reads = 0;
  CleanRun(Change::kCreateArchive, reference, writes, reads);
  const std::string out = dir_.File("out");
  size_t cases = 0;
  for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{4095}, rlim_t{65536}, rlim_t{150000}}) {
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    const ChildOutcome outcome = RunInChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit cap = {limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &cap);
      std::string name = archive_;
      tOpenArchiveData open{};
      open.ArcName = &name[0];
      HANDLE_WCX handle = OpenArchive(&open);
      if (handle == nullptr) return 100;
      int failures = 0;
      for (int index = 0;; ++index) {
        tHeaderData header{};
        if (ReadHeader(handle, &header) != 0) break;
        std::string destPath = out + "/";
        std::string destName = "e" + std::to_string(index);
        const int result = ProcessFile(handle, PK_EXTRACT, &destPath[0], &destName[0]);
        const bool fits = header.UnpSize <= static_cast<int>(limit);
        // A file that fits must come out; one that does not must fail with E_EWRITE.
        if (fits ? result != 0 : result != E_EWRITE) return 101;
        if (result != 0) ++failures;
      }
      CloseArchive(handle);
      return failures;
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_LT(outcome.exitCode, 100) << "limit " << limit;
    EXPECT_GT(outcome.exitCode, 0) << "limit " << limit << ": nothing was too large";
    // Only complete files remain: each one matches its source.
    for (const std::string& name : Names(out)) {
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
