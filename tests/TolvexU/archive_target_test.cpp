// Where a changed archive is written and how it takes the old one's place,
// with drives this machine does not have standing in through FakeDrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_target.h"
#include "TolvexU/fake_drives.h"
#include "iwcxhead/wcxhead.h"
#include "support/plugin_test.h"

namespace tvx::test {
namespace {

struct TargetCase {
  const char* rule;
  std::string archive;
  std::string tempDirectory;
  int64_t freeOnArchiveDrive;  // -1: plenty
  bool removableArchiveDrive;
  std::string takenName;         // a name that exists already
  std::string expectedSideFile;  // "" when a temporary file is expected
};

constexpr uint64_t kNeeded = 5000;

TEST(ChooseTargetPath, FollowsTheFirstRuleThatApplies) {
  const std::vector<TargetCase> cases = {
      {"temp folder on the archive's drive", "C:\\data\\a.arc", "C:\\Temp\\", -1, false, "", ""},
      {"drive letters compared without case", "c:\\a.arc", "C:\\Temp\\", -1, false, "", ""},
      {"other fixed drive with room", "D:\\data\\backup.arc", "C:\\Temp\\", -1, false, "", "D:\\data\\backup___"},
      {"last dot of the whole path", "D:\\tools.old\\backup", "C:\\Temp\\", -1, false, "", "D:\\tools___"},
      {"no dot at all", "D:\\data\\backup", "C:\\Temp\\", -1, false, "", "D:\\data\\backup___"},
      {"removable drive", "E:\\backup.arc", "C:\\Temp\\", -1, true, "", ""},
      {"free space exactly the size needed", "D:\\backup.arc", "C:\\Temp\\", kNeeded, false, "", ""},
      {"one byte more than needed", "D:\\backup.arc", "C:\\Temp\\", kNeeded + 1, false, "", "D:\\backup___"},
      {"free space unknown", "D:\\backup.arc", "C:\\Temp\\", 0, false, "", ""},
      {"side file name taken", "D:\\data\\backup.arc", "C:\\Temp\\", -1, false, "D:\\data\\backup___", ""},
  };
  for (const TargetCase& c : cases) {
    FakeDrives drives;
    drives.tempDirectory = c.tempDirectory;
    if (c.freeOnArchiveDrive >= 0) drives.freeBytes[static_cast<char>(std::tolower(c.archive[0]))] = c.freeOnArchiveDrive;
    if (c.removableArchiveDrive) drives.removable.insert(static_cast<char>(std::tolower(c.archive[0])));
    if (!c.takenName.empty()) drives.takenNames.insert(c.takenName);

    const host::TargetPath target = host::ChooseTargetPath(drives, c.archive, kNeeded);
    if (c.expectedSideFile.empty()) {
      ASSERT_EQ(drives.tempFilesMade.size(), 1u) << c.rule;
      EXPECT_EQ(target.path, drives.tempFilesMade[0]) << c.rule;
      EXPECT_EQ(target.path.compare(0, c.tempDirectory.size() + 3, c.tempDirectory + "tvx"), 0) << c.rule;
      EXPECT_TRUE(target.temporaryFile) << c.rule;
    } else {
      EXPECT_EQ(target.path, c.expectedSideFile) << c.rule;
      EXPECT_FALSE(target.temporaryFile) << c.rule;
      EXPECT_TRUE(drives.tempFilesMade.empty()) << c.rule << ": a temporary file was made for nothing";
    }
  }
}

TEST(ChooseTargetPath, NoTemporaryFileIsAFailureWithoutAPath) {
  FakeDrives drives;
  drives.failTempFiles = true;
  const host::TargetPath target = host::ChooseTargetPath(drives, "C:\\a.arc", kNeeded);
  EXPECT_EQ(target.path, "");
  EXPECT_TRUE(target.failed());
  EXPECT_FALSE(target.temporaryFile);  // nothing to remove
}

#ifdef _WIN32
TEST(ChooseTargetPath, SystemDrivesCompareDriveLettersWithoutCase) {
  EXPECT_TRUE(platform::OsSystem().SameDrive("c:\\a.arc", "C:\\Temp\\"));
  EXPECT_FALSE(platform::OsSystem().SameDrive("D:\\a.arc", "C:\\Temp\\"));
}
#endif

// Real folders standing in for a temporary folder and an archive's folder,
// each on a drive of the fake's choosing.
class RealFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_FALSE(data_.path().empty());
    drives_.realFiles = true;
    drives_.tempDirectory = temp_.path() + NativeSeparator();
  }
  // Same drive: the temp folder and the archive share letter c; else t and d.
  void PutOnDrives(bool sameDrive) {
    drives_.Mount(temp_.path(), sameDrive ? 'c' : 't');
    drives_.Mount(data_.path(), sameDrive ? 'c' : 'd');
  }
  std::string Archive() const { return data_.File("backup.tvx"); }
  std::string Source(const std::string& name) const { return data_.File(name); }

  FaultySystem faults_;
  FakeDrives drives_{faults_};
  TempDir temp_;
  TempDir data_;
};

using ReplaceArchiveFile = RealFolders;

TEST_F(ReplaceArchiveFile, OnTheSameDriveOneRenameDoesIt) {
  PutOnDrives(true);
  const std::string target = temp_.File("tvx-new");
  ASSERT_TRUE(WriteFileBytes(Archive(), "old archive"));
  ASSERT_TRUE(WriteFileBytes(target, "new archive"));
  FaultPlanGuard counting(faults_, FaultPlan{});
  EXPECT_EQ(host::ReplaceArchiveFile(drives_, Archive(), target), Status::kOk);
  EXPECT_EQ(faults_.MutatingCalls(), 1u) << "more than the rename";
  EXPECT_EQ(ReadFileBytes(Archive()), "new archive");
  EXPECT_FALSE(PathExists(target));
}

TEST_F(ReplaceArchiveFile, AcrossDrivesCopiesBesideTheArchiveThenRenames) {
  PutOnDrives(false);
  const std::string target = temp_.File("tvx-new");
  const std::string content = Compressible(3 << 20, 'n');  // several copy pieces
  ASSERT_TRUE(WriteFileBytes(Archive(), "old archive"));
  ASSERT_TRUE(WriteFileBytes(target, content));
  FaultPlanGuard counting(faults_, FaultPlan{});
  EXPECT_EQ(host::ReplaceArchiveFile(drives_, Archive(), target), Status::kOk);
  EXPECT_GT(faults_.MutatingCalls(), 1u) << "a plain rename across drives";
  EXPECT_EQ(ReadFileBytes(Archive()) == content, true);
  EXPECT_FALSE(PathExists(target));
  EXPECT_EQ(FolderListing(data_.path()), std::vector<std::string>{"backup.tvx"}) << "the copy was left beside";
}

TEST_F(ReplaceArchiveFile, AcrossDrivesATakenNameBesideIsNotOverwritten) {
  PutOnDrives(false);
  const std::string target = temp_.File("tvx-new");
  ASSERT_TRUE(WriteFileBytes(Archive(), "old archive"));
  ASSERT_TRUE(WriteFileBytes(Archive() + ".tvxnew", "the user's file"));
  ASSERT_TRUE(WriteFileBytes(target, "new archive"));
  EXPECT_EQ(host::ReplaceArchiveFile(drives_, Archive(), target), Status::kOk);
  EXPECT_EQ(ReadFileBytes(Archive()), "new archive");
  EXPECT_EQ(ReadFileBytes(Archive() + ".tvxnew"), "the user's file");
}

using FreeSpace = RealFolders;

TEST_F(FreeSpace, NoRoomForTheNewArchiveIsECreateAndRemovesTheTemporaryFile) {
  PutOnDrives(true);
  const std::string old = ArchiveBytes({{"old.txt", "old"}});
  ASSERT_TRUE(WriteFileBytes(Archive(), old));
  ASSERT_TRUE(WriteFileBytes(Source("a.txt"), Compressible(1000)));
  drives_.freeBytes['c'] = 1000;  // exactly the size needed
  const std::string list = NameList({"a.txt"});
  host::PackRequest request;
  request.packedFile = Archive();
  request.srcPath = data_.path() + NativeSeparator();
  request.addList = list.c_str();
  request.flags = PK_PACK_MOVE_FILES;

  EXPECT_EQ(host::PackFilesWith(drives_, request), E_ECREATE);
  ASSERT_EQ(drives_.tempFilesMade.size(), 1u);
  EXPECT_FALSE(PathExists(drives_.tempFilesMade[0])) << "the empty temporary file was left";
  EXPECT_EQ(ReadFileBytes(Archive()), old);
  EXPECT_TRUE(PathExists(Source("a.txt")));
}

TEST_F(FreeSpace, NewArchiveNeedsStrictlyMoreRoomThanItsFiles) {
  PutOnDrives(false);
  ASSERT_TRUE(WriteFileBytes(Source("a.txt"), Compressible(600)));
  ASSERT_TRUE(WriteFileBytes(Source("b.txt"), Compressible(400)));
  const std::string list = NameList({"a.txt", "b.txt"});
  host::PackRequest request;
  request.packedFile = Archive();
  request.srcPath = data_.path() + NativeSeparator();
  request.addList = list.c_str();

  drives_.freeBytes['d'] = 1000;
  EXPECT_EQ(host::PackFilesWith(drives_, request), E_ECREATE);
  EXPECT_FALSE(PathExists(Archive()));
  EXPECT_TRUE(drives_.tempFilesMade.empty());

  drives_.freeBytes['d'] = 1001;
  EXPECT_EQ(host::PackFilesWith(drives_, request), 0);
  EXPECT_TRUE(PathExists(Archive()));
}

TEST_F(FreeSpace, DeletingAsksForRoomForTheWholeArchive) {
  PutOnDrives(true);
  const std::string old = ArchiveBytes({{"a.txt", Compressible(500)}, {"b.txt", "b"}});
  ASSERT_TRUE(WriteFileBytes(Archive(), old));
  const std::string list = NameList({"a.txt"});
  drives_.freeBytes['c'] = static_cast<int64_t>(old.size());
  EXPECT_EQ(host::DeleteFilesWith(drives_, Archive(), list.c_str()), E_ECREATE);
  EXPECT_EQ(ReadFileBytes(Archive()), old);
  EXPECT_EQ(TemporaryFilesIn(temp_.path()), std::vector<std::string>());

  drives_.freeBytes['c'] = static_cast<int64_t>(old.size()) + 1;
  EXPECT_EQ(host::DeleteFilesWith(drives_, Archive(), list.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(Archive()), ArchiveBytes({{"b.txt", "b"}}));
}

TEST_F(FreeSpace, ArchiveOnAnotherDriveWithRoomIsWrittenToTheSideFile) {
  PutOnDrives(false);
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{"a.txt", "a"}, {"b.txt", "b"}})));
  const std::string list = NameList({"a.txt"});
  std::vector<std::string> seen;
  // The observer sees the side file while it is being written.
  static std::vector<std::string>* seenNow;
  static std::string folder;
  seenNow = &seen;
  folder = data_.path();
  FaultPlan plan;
  plan.beforeWrite = [](uint64_t) {
    for (const std::string& name : FolderListing(folder)) {
      if (std::find(seenNow->begin(), seenNow->end(), name) == seenNow->end()) seenNow->push_back(name);
    }
  };
  {
    FaultPlanGuard observing(faults_, plan);
    EXPECT_EQ(host::DeleteFilesWith(drives_, Archive(), list.c_str()), 0);
  }
  EXPECT_NE(std::find(seen.begin(), seen.end(), "backup___"), seen.end());
  EXPECT_TRUE(drives_.tempFilesMade.empty());
  EXPECT_EQ(FolderListing(data_.path()), std::vector<std::string>{"backup.tvx"});
  EXPECT_EQ(ReadFileBytes(Archive()), ArchiveBytes({{"b.txt", "b"}}));
}

}  // namespace
}  // namespace tvx::test
