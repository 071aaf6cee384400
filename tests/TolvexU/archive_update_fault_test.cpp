// Packing into and deleting from an archive while the disk fails: every write
// and every read the clean operation makes is failed in turn. Whatever fails,
// the old archive stays byte for byte, no packed file is deleted, and nothing
// half-written is left; the only thing that may remain is a finished new
// archive whose replacement failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/fake_drives.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "support/plugin_test.h"

namespace tvx::test {
namespace {

// Where the new archive is written before it replaces the old one.
enum class Layout {
  kTempOnArchiveDrive,  // a temporary file, renamed into place
  kSideFile,            // backup___ beside the archive, renamed into place
  kTempOnOtherDrive,    // a temporary file on another drive; no room beside: copied over the archive
  kCopiedBeside,        // a temporary file on another drive (removable), copied beside and renamed
};

const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::kTempOnArchiveDrive: return "temporary file on the archive's drive";
    case Layout::kSideFile: return "side file";
    case Layout::kTempOnOtherDrive: return "temporary file on another drive";
    case Layout::kCopiedBeside: return "temporary file on another drive, copied beside the archive";
  }
  return "?";
}

const std::vector<RawEntry> kOldEntries = {
    {"docs/", ""},
    Deflated("docs/a.txt", Compressible(3000, 'a')),
    {"b.txt", "stored bravo"},
};
const std::vector<std::string> kSources = {"n1.txt", "n2.txt", "n3.txt"};

// The names in a finished archive whose every entry reads back intact;
// {"<unusable>"} otherwise.
std::vector<std::string> IntactEntryNames(const std::string& path) {
  std::unique_ptr<Archive> archive = Archive::NewArchive(platform::OsSystem(), path);
  if (!archive->valid() || archive->damaged()) return {"<unusable>"};
  std::vector<std::string> names;
  for (const ArchiveEntry& entry : archive->entries()) {
    if (TestEntry(*archive, entry) != Status::kOk) return {"<unusable>"};
    names.push_back(entry.name);
  }
  return names;
}

// One archive with three entries, three files to pack, a temporary folder
// and a fake that puts them on drives as the layout says.
class Scene {
 public:
  explicit Scene(Layout layout) {
    drives.realFiles = true;
    drives.tempDirectory = temp_.path() + NativeSeparator();
    const bool sameDrive = layout == Layout::kTempOnArchiveDrive;
    drives.Mount(temp_.path(), sameDrive ? 'c' : 't');
    drives.Mount(data_.path(), sameDrive ? 'c' : 'd');
    // No room beside the archive, but room for the new one once the old one
    // is emptied (a delete shrinks the archive, the pack grows it by 104 bytes).
    if (layout == Layout::kTempOnOtherDrive) drives.freeBytes['d'] = 1;
    if (layout == Layout::kCopiedBeside) drives.removable.insert('d');
    oldBytes = ArchiveBytes(kOldEntries);
    WriteFileBytes(ArchivePath(), oldBytes);
    WriteFileBytes(data_.File("n1.txt"), Compressible(5000, '1'));
    WriteFileBytes(data_.File("n2.txt"), "two");
    WriteFileBytes(data_.File("n3.txt"), std::string());
  }

  std::string ArchivePath() const { return data_.File("backup.tvx"); }

  int Pack() {
    if (drives.freeBytes.count('d') != 0) drives.freeBytes['d'] = kFreeWhenPacking;
    const std::string list = NameList(kSources);
    host::PackRequest request;
    request.packedFile = ArchivePath();
    request.srcPath = data_.path() + NativeSeparator();
    request.addList = list.c_str();
    request.flags = PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES;
    return host::PackFilesWith(drives, request);
  }

  int Delete() {
    const std::string list = NameList({"b.txt", ListForm("docs/*.*")});
    return host::DeleteFilesWith(drives, ArchivePath(), list.c_str());
  }

  bool AllSourcesExist() const {
    for (const std::string& name : kSources) {
      if (!PathExists(data_.File(name))) return false;
    }
    return true;
  }

  // Everything in the two folders besides the archive and the sources.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    for (const std::string& name : FolderListing(temp_.path())) found.push_back(temp_.File(name));
    for (const std::string& name : FolderListing(data_.path())) {
      if (name == "backup.tvx" || std::find(kSources.begin(), kSources.end(), name) != kSources.end()) continue;
      found.push_back(data_.File(name));
    }
    return found;
  }

  static constexpr int64_t kFreeWhenPacking = 150;
  FaultySystem faults;
  FakeDrives drives{faults};
  std::string oldBytes;

 private:
  TempDir temp_;
  TempDir data_;
};

enum class Operation { kPack, kDelete };

struct Run {
  Operation operation;
  std::vector<std::string> newNames;  // the archive's entries after a clean run
};

const Run kPackRun{Operation::kPack, {"docs/", "docs/a.txt", "b.txt", "n1.txt", "n2.txt", "n3.txt"}};
const Run kDeleteRun{Operation::kDelete, {}};

int Perform(Scene& scene, Operation operation) {
  return operation == Operation::kPack ? scene.Pack() : scene.Delete();
}

struct CallCounts {
  uint64_t mutating = 0;
  uint64_t reads = 0;
};

CallCounts CountCleanRun(Layout layout, const Run& run) {
  Scene scene(layout);
  CallCounts counts;
  int result;
  {
    FaultPlanGuard counting(scene.faults, FaultPlan{});
    result = Perform(scene, run.operation);
    counts.mutating = scene.faults.MutatingCalls();
    counts.reads = scene.faults.ReadCalls();
  }
  EXPECT_EQ(result, 0) << LayoutName(layout);
  EXPECT_EQ(IntactEntryNames(scene.ArchivePath()), run.newNames) << LayoutName(layout);
  EXPECT_EQ(scene.Leftovers(), std::vector<std::string>()) << LayoutName(layout);
  return counts;
}

// How much of the old archive a failure must spare.
enum class Guarantee {
  // Nothing is lost: the old archive is unchanged, or the finished new one is
  // kept where it was written.
  kNothingLost,
  // The old archive is unchanged, whatever happened.
  kOldArchiveUnchanged,
};

// What a failed or recovered operation may leave.
void ExpectNothingLostOrHalfDone(Scene& scene, const Run& run, int result, Guarantee guarantee) {
  const std::vector<std::string> leftovers = scene.Leftovers();
  if (result == 0) {
    EXPECT_EQ(IntactEntryNames(scene.ArchivePath()), run.newNames) << "success reported, but the archive is wrong";
    EXPECT_EQ(leftovers, std::vector<std::string>());
    return;
  }
  if (run.operation == Operation::kPack) {
    EXPECT_TRUE(scene.AllSourcesExist()) << "a source was deleted";
  }
  const std::string now = ReadFileBytes(scene.ArchivePath());
  if (leftovers.empty() || guarantee == Guarantee::kOldArchiveUnchanged) {
    EXPECT_TRUE(now == scene.oldBytes) << "the old archive was changed (" << now.size() << " bytes now, "
                                       << scene.oldBytes.size() << " before; result " << result << ", "
                                       << leftovers.size() << " file(s) left)";
  }
  if (leftovers.empty()) return;
  // A finished archive whose replacement failed is kept, never anything else.
  ASSERT_EQ(leftovers.size(), 1u) << leftovers[0] << " and more were left";
  EXPECT_EQ(result, E_EWRITE) << "a file was left after a failure before the archive was finished";
  EXPECT_EQ(IntactEntryNames(leftovers[0]), run.newNames) << leftovers[0] << " was left, but is no finished archive";
}

enum class Failing { kWrites, kReads };

const std::vector<Layout> kAllLayouts = {Layout::kTempOnArchiveDrive, Layout::kSideFile, Layout::kTempOnOtherDrive,
                                         Layout::kCopiedBeside};
// Every way in that never has to write over the old archive.
const std::vector<Layout> kLayoutsBesideTheArchive = {Layout::kTempOnArchiveDrive, Layout::kSideFile,
                                                      Layout::kCopiedBeside};

void FailEachCallInTurn(Failing failing, bool once, Guarantee guarantee,
                        const std::vector<Layout>& layouts = kAllLayouts) {
  for (Layout layout : layouts) {
    for (const Run* run : {&kPackRun, &kDeleteRun}) {
      const CallCounts counts = CountCleanRun(layout, *run);
      const uint64_t calls = failing == Failing::kWrites ? counts.mutating : counts.reads;
      ASSERT_GT(calls, 0u);
      for (uint64_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(std::string(LayoutName(layout)) + (run->operation == Operation::kPack ? ", pack" : ", delete") +
                     (failing == Failing::kWrites ? ", write " : ", read ") + std::to_string(n) + " of " +
                     std::to_string(calls) + (once ? " fails once" : " and every later one fail"));
        Scene scene(layout);
        FaultPlan plan;
        (failing == Failing::kWrites ? plan.failWriteAt : plan.failReadAt) = n;
        plan.failOnce = once;
        int result;
        {
          FaultPlanGuard faults(scene.faults, plan);
          result = Perform(scene, run->operation);
        }
        if (!once) {
          EXPECT_NE(result, 0) << "a failing disk went unnoticed";
        }
        ExpectNothingLostOrHalfDone(scene, *run, result, guarantee);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

TEST(ArchiveUpdateFaults, EveryFailingWriteLosesNothing) {
  FailEachCallInTurn(Failing::kWrites, false, Guarantee::kNothingLost);
}

TEST(ArchiveUpdateFaults, EveryFailingReadLosesNothing) {
  FailEachCallInTurn(Failing::kReads, false, Guarantee::kNothingLost);
}

// Without room beside the archive the new one can only be copied over it; a
// failure there is reported and the finished archive kept (the cases above).
// Every other way in leaves the old archive untouched on any failure.
TEST(ArchiveUpdateFaults, ASingleFailedWriteEndsInTheOldOrTheNewArchiveNeverInBetween) {
  FailEachCallInTurn(Failing::kWrites, true, Guarantee::kOldArchiveUnchanged, kLayoutsBesideTheArchive);
}

TEST(ArchiveUpdateFaults, ASingleFailedReadEndsInTheOldOrTheNewArchiveNeverInBetween) {
  FailEachCallInTurn(Failing::kReads, true, Guarantee::kOldArchiveUnchanged, kLayoutsBesideTheArchive);
}

TEST(ArchiveUpdateFaults, EveryFailingWriteLeavesTheOldArchiveUnchanged) {
  FailEachCallInTurn(Failing::kWrites, false, Guarantee::kOldArchiveUnchanged, kLayoutsBesideTheArchive);
}

TEST(ArchiveUpdateFaults, EveryFailingReadLeavesTheOldArchiveUnchanged) {
  FailEachCallInTurn(Failing::kReads, false, Guarantee::kOldArchiveUnchanged, kLayoutsBesideTheArchive);
}

// The copy across drives is the last step; the new archive is finished by then.
TEST(ArchiveUpdateFaults, FailedCopyAcrossDrivesKeepsTheOldArchiveAndTheNewOne) {
  const CallCounts counts = CountCleanRun(Layout::kCopiedBeside, kDeleteRun);
  ASSERT_GE(counts.mutating, 2u);
  Scene scene(Layout::kCopiedBeside);
  FaultPlan plan;
  plan.failWriteAt = counts.mutating - 1;  // the copy's last write, before the final rename
  int result;
  {
    FaultPlanGuard faults(scene.faults, plan);
    result = scene.Delete();
  }
  EXPECT_EQ(result, E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(scene.ArchivePath()) == scene.oldBytes) << "the old archive was changed";
  ASSERT_EQ(scene.drives.tempFilesMade.size(), 1u);
  EXPECT_EQ(IntactEntryNames(scene.drives.tempFilesMade[0]), kDeleteRun.newNames)
      << "the finished new archive was lost";
}

}  // namespace
}  // namespace tvx::test
