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

#include "TolvexU/fake_drives.h"
#include "iwcxhead/wcxhead.h"
#include "support/fault_scene.h"
#include "support/plugin_test.h"

namespace tvx::test {
namespace {

// Where the new archive is written before it replaces the old one: a
// temporary file on the archive's drive, renamed into place; else old___
// beside the archive, renamed; a temporary file on another drive when there
// is no room beside (then copied over the archive) or when the archive's drive
// is removable (then copied beside and renamed).
struct Layout {
  const char* name;
  bool sameDrive;
  bool noRoomBeside;
  bool removable;
};
const Layout kLayouts[] = {{"temporary file on the archive's drive", true, false, false},
                           {"side file", false, false, false},
                           {"temporary file on another drive", false, true, false},
                           {"temporary file on another drive, copied beside the archive", false, false, true}};
const Layout& kCopiedBeside = kLayouts[3];

// The scene's old archive, files and deletions, with a fake that puts its
// folders on drives as the layout says.
class Scene {
 public:
  explicit Scene(const Layout& layout) : folders(Shared()) {
    drives.realFiles = true;
    drives.tempDirectory = folders.tempFolder() + NativeSeparator();
    drives.Mount(folders.tempFolder(), layout.sameDrive ? 'c' : 't');
    drives.Mount(folders.archiveFolder(), layout.sameDrive ? 'c' : 'd');
    drives.Mount(folders.sourceFolder(), layout.sameDrive ? 'c' : 'd');
    // No room beside the archive, but room for the new one once the old one
    // is emptied (a delete shrinks the archive; see FreeWhenPacking).
    if (layout.noRoomBeside) drives.freeBytes['d'] = 1;
    if (layout.removable) drives.removable.insert('d');
    folders.Reset();
  }

  static const FaultScene& Shared() { return SharedFaultScene(kTinyScene); }

  // No more than the files to pack (so the new archive goes to the other
  // drive) and than the old archive (so no copy fits beside it, the new one
  // being larger), yet at least what the pack adds (checked by the clean run).
  static int64_t FreeWhenPacking() {
    return static_cast<int64_t>(std::min<uint64_t>(Shared().PackedBytes(), ArchiveBytes(Shared().oldEntries).size()));
  }

  // The change under the plan (which counts the calls as well).
  int Apply(SceneChange change, const FaultPlan& plan = FaultPlan{}) {
    if (change != SceneChange::kDelete && drives.freeBytes.count('d') != 0) drives.freeBytes['d'] = FreeWhenPacking();
    FaultPlanGuard guard(faults, plan);
    return folders.Apply(drives, change);
  }

  SceneFolders folders;
  FaultySystem faults;
  FakeDrives drives{faults};
};

// Packing moves the files; deleting removes a file and a folder.
constexpr SceneChange kChanges[] = {SceneChange::kPackAndMove, SceneChange::kDelete};

// The clean run, watched by the faulty system: the calls it counted.
CallCounts CountCleanRun(const Layout& layout, SceneChange change) {
  Scene scene(layout);
  EXPECT_EQ(scene.Apply(change), 0) << layout.name;
  const CallCounts counts = CountsOf(scene.faults);
  EXPECT_TRUE(ArchiveHolds(scene.folders.archive(), Scene::Shared().After(change))) << layout.name;
  EXPECT_EQ(scene.folders.Leftovers(), std::vector<std::string>()) << layout.name;
  if (layout.noRoomBeside && change != SceneChange::kDelete) {
    const int64_t grown = static_cast<int64_t>(ReadFileBytes(scene.folders.archive()).size());
    const int64_t added = grown - static_cast<int64_t>(scene.folders.oldBytes().size());
    EXPECT_LE(added, Scene::FreeWhenPacking()) << "the new archive no longer fits over the old one";
    EXPECT_LT(Scene::FreeWhenPacking(), grown) << "a copy of the new archive now fits beside the old one";
  }
  return counts;
}

// What a failed or recovered operation may leave. Nothing is lost: the old
// archive is unchanged, or the finished new one is kept where it was written;
// with oldMustStay the old archive is unchanged whatever happened.
void ExpectNothingLostOrHalfDone(Scene& scene, SceneChange change, int result, bool oldMustStay) {
  const std::vector<SceneEntry> after = Scene::Shared().After(change);
  const std::vector<std::string> leftovers = scene.folders.Leftovers();
  if (result == 0) {
    EXPECT_TRUE(ArchiveHolds(scene.folders.archive(), after)) << "success reported, but the archive is wrong";
    EXPECT_EQ(leftovers, std::vector<std::string>());
    return;
  }
  if (change != SceneChange::kDelete) {
    EXPECT_TRUE(scene.folders.SourcesIntact()) << "a source was deleted";
  }
  const std::string now = ReadFileBytes(scene.folders.archive());
  if (leftovers.empty() || oldMustStay) {
    EXPECT_TRUE(now == scene.folders.oldBytes())
        << "the old archive was changed (" << now.size() << " bytes now, " << scene.folders.oldBytes().size()
        << " before; result " << result << ", " << leftovers.size() << " file(s) left)";
  }
  if (leftovers.empty()) return;
  // A finished archive whose replacement failed is kept, never anything else.
  ASSERT_EQ(leftovers.size(), 1u) << leftovers[0] << " and more were left";
  EXPECT_EQ(result, E_EWRITE) << "a file was left after a failure before the archive was finished";
  EXPECT_TRUE(ArchiveHolds(leftovers[0], after)) << leftovers[0] << " was left, but is no finished archive";
}

// One sweep: which calls fail, on every layout, pack and delete on each.
struct UpdateCase {
  const char* name;
  FaultCase faults;
};

void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

class ArchiveUpdateSweep : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(ArchiveUpdateSweep, LosesNothing) {
  const UpdateCase& c = GetParam();
  for (const Layout& layout : kLayouts) {
    // Without room beside the archive the new one can only be copied over it;
    // every other way in leaves the old archive untouched on any failure.
    const bool overwrites = layout.noRoomBeside;
    if (overwrites && c.faults.once) continue;
    for (const SceneChange change : kChanges) {
      Scene scene(layout);
      ForEveryCall(c.faults, CountCleanRun(layout, change), [&](const FaultPlan& plan, const std::string& what) {
        SCOPED_TRACE(std::string(layout.name) + ", " + ChangeName(change) + ", " + what);
        scene.folders.Reset();
        const int result = scene.Apply(change, plan);
        EXPECT_TRUE(c.faults.once || result != 0) << "a failing disk went unnoticed";
        ExpectNothingLostOrHalfDone(scene, change, result, !overwrites);
      });
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

// A single failure is swept only where the old archive must stay: a failed
// overwrite in place is reported and the finished archive kept.
INSTANTIATE_TEST_SUITE_P(
    ArchiveUpdateFaults, ArchiveUpdateSweep,
    ::testing::Values(
        UpdateCase{"EveryFailingWriteLosesNothing", {Failing::kWrites, false}},
        UpdateCase{"EveryFailingReadLosesNothing", {Failing::kReads, false}},
        UpdateCase{"ASingleFailedWriteEndsInTheOldOrTheNewArchiveNeverInBetween", {Failing::kWrites, true}},
        UpdateCase{"ASingleFailedReadEndsInTheOldOrTheNewArchiveNeverInBetween", {Failing::kReads, true}}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// The copy across drives is the last step; the new archive is finished by then.
TEST(ArchiveUpdateFaults, FailedCopyAcrossDrivesKeepsTheOldArchiveAndTheNewOne) {
  const CallCounts counts = CountCleanRun(kCopiedBeside, SceneChange::kDelete);
  ASSERT_GE(counts.mutating, 2u);
  Scene scene(kCopiedBeside);
  FaultPlan plan;
  plan.failWriteAt = counts.mutating - 1;  // the copy's last write, before the final rename
  EXPECT_EQ(scene.Apply(SceneChange::kDelete, plan), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(scene.folders.archive()) == scene.folders.oldBytes()) << "the old archive was changed";
  ASSERT_EQ(scene.drives.tempFilesMade.size(), 1u);
  EXPECT_TRUE(ArchiveHolds(scene.drives.tempFilesMade[0], Scene::Shared().AfterDelete()))
      << "the finished new archive was lost";
}

}  // namespace
}  // namespace tvx::test
