// Where a changed archive is written and how it takes the old one's place,
// with drives this machine does not have standing in through FakeDrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_target.h"
#include "TolvexU/fake_drives.h"
#include "iwcxhead/wcxhead.h"
#include "support/plugin_test.h"

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

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

// Every name seen in the watched folder before any write of a plan made by
// WatchingFolder.
std::vector<std::string> g_seen;
std::string g_watched;
FaultPlan WatchingFolder(const std::string& folder) {
  g_seen.clear();
  g_watched = folder;
  FaultPlan plan;
  plan.beforeWrite = [](uint64_t) {
    for (const std::string& name : FolderListing(g_watched)) {
      if (std::find(g_seen.begin(), g_seen.end(), name) == g_seen.end()) g_seen.push_back(name);
    }
  };
  return plan;
}

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
  // A PackFiles of list_ (names in the data folder) into Archive().
  host::PackRequest Request(const std::vector<std::string>& names, int flags = 0) {
    list_ = NameList(names);
    host::PackRequest request;
    request.packedFile = Archive();
    request.srcPath = data_.path() + NativeSeparator();
    request.addList = list_.c_str();
    request.flags = flags;
    return request;
  }

  std::string list_;

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
  const host::PackRequest request = Request({"a.txt"}, PK_PACK_MOVE_FILES);

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
  const host::PackRequest request = Request({"a.txt", "b.txt"});

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
  // The observer sees the side file while it is being written.
  {
    FaultPlanGuard observing(faults_, WatchingFolder(data_.path()));
    EXPECT_EQ(host::DeleteFilesWith(drives_, Archive(), list.c_str()), 0);
  }
  EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), "backup___"), 1);
  EXPECT_TRUE(drives_.tempFilesMade.empty());
  EXPECT_EQ(FolderListing(data_.path()), std::vector<std::string>{"backup.tvx"});
  EXPECT_EQ(ReadFileBytes(Archive()), ArchiveBytes({{"b.txt", "b"}}));
}


using NewArchive = RealFolders;

TEST_F(NewArchive, IsWrittenBesideItsNameAndRenamedIntoPlace) {
  for (const bool userFileThere : {false, true}) {
    SCOPED_TRACE(userFileThere ? "a file of the user's holds the first name" : "the first name is free");
    fs::remove(Archive());
    ASSERT_TRUE(WriteFileBytes(Source("a.txt"), Compressible(5000)));
    if (userFileThere) {
      ASSERT_TRUE(WriteFileBytes(Archive() + ".tvxnew", "the user's file"));
    }
    const host::PackRequest request = Request({"a.txt"});
    {
      FaultPlanGuard observing(faults_, WatchingFolder(data_.path()));
      EXPECT_EQ(host::PackFilesWith(faults_, request), 0);
    }
    EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), "backup.tvx"), 0) << "a partial archive lay under the final name";
    EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), userFileThere ? "backup.tvx.tvxnew2" : "backup.tvx.tvxnew"), 1);
    std::vector<std::string> expected = {"a.txt", "backup.tvx"};
    if (userFileThere) expected.push_back("backup.tvx.tvxnew");
    EXPECT_EQ(FolderListing(data_.path()), expected);
    if (userFileThere) {
      EXPECT_EQ(ReadFileBytes(Archive() + ".tvxnew"), "the user's file");
    }
  }
}

using InPlaceOverwrite = RealFolders;

// The temporary folder on drive T, the archive on D with too little room for
// a copy beside it or for the new archive in its place.
TEST_F(InPlaceOverwrite, IsRefusedWithoutRoomForTheWholeNewArchive) {
  PutOnDrives(false);
  const std::string old = ArchiveBytes({{"old.txt", "old"}});
  ASSERT_TRUE(WriteFileBytes(Archive(), old));
  ASSERT_TRUE(WriteFileBytes(Source("big.bin"), NoiseBytes(5000)));
  drives_.freeBytes['d'] = 1000;  // 1000 + the old archive's size is far below the new one's
  const host::PackRequest request = Request({"big.bin"}, PK_PACK_MOVE_FILES);

  EXPECT_EQ(host::PackFilesWith(drives_, request), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(Archive()) == old) << "the archive was overwritten";
  EXPECT_EQ(FolderListing(temp_.path()), std::vector<std::string>()) << "the temporary file was left";
  EXPECT_EQ(FolderListing(data_.path()), (std::vector<std::string>{"backup.tvx", "big.bin"}));

  drives_.freeBytes['d'] = 5100;  // now the new archive fits where the old one was
  EXPECT_EQ(host::PackFilesWith(drives_, request), 0);
  EXPECT_EQ(FolderListing(data_.path()), std::vector<std::string>{"backup.tvx"});
  EXPECT_EQ(FolderListing(temp_.path()), std::vector<std::string>());
}

// An archive name that fits, but not with ".tvxnew" added: a component of 254
// characters on Linux; a whole path of 255 on Windows (MAX_PATH is 260).
std::string NameTooLongForASuffix(const std::string& folder) {
#ifdef _WIN32
  const size_t length = std::min<size_t>(250, 255 - folder.size() - 1);
#else
  (void)folder;
  const size_t length = 250;
#endif
  return std::string(length - 4, 'n') + ".tvx";
}

using LongArchiveName = RealFolders;

TEST_F(LongArchiveName, NewAndCopiedArchivesUseAShorterFreeName) {
  ASSERT_LT(data_.path().size(), 200u);
  PutOnDrives(false);
  drives_.removable.insert('d');  // written in the temporary folder, then copied beside
  const std::string archive = data_.File(NameTooLongForASuffix(data_.path()));
  ASSERT_TRUE(WriteFileBytes(Source("a.txt"), "alpha"));
  ASSERT_TRUE(WriteFileBytes(Source("b.txt"), "bravo"));
  for (const char* name : {"a.txt", "b.txt"}) {
    host::PackRequest request = Request({name}, PK_PACK_SAVE_PATHS);
    request.packedFile = archive;
    EXPECT_EQ(host::PackFilesWith(drives_, request), 0) << (name[0] == 'a' ? "new archive" : "copied beside");
  }
  EXPECT_EQ(FolderListing(data_.path()),
            (std::vector<std::string>{"a.txt", "b.txt", NameTooLongForASuffix(data_.path())}));
  EXPECT_EQ(FolderListing(temp_.path()), std::vector<std::string>());
  EXPECT_EQ(ListedNames(*LoadedModule(), archive), ReportedForms({"a.txt", "b.txt"}));
}

// The module's PackFiles and DeleteFiles against real folders.
class ArchiveReplacement : public PluginTest {
 protected:
  std::string MakeFile(const std::string& name, const std::string& content) {
    const std::string path = Path(name);
    EXPECT_TRUE(WriteFileBytes(path, content));
    return path;
  }
  int Pack(const std::string& archive, const std::vector<std::string>& names, int flags = PK_PACK_SAVE_PATHS) {
    return PackWith(module(), archive, nullptr, SrcPath(), names, flags);
  }
};

// --- the new name is durable before moved sources go ---------------------------------------

// Notes renames, folder syncs and removals in the order they are asked for.
class CallLog : public SystemWrapper {
 public:
  CallLog() : SystemWrapper(platform::OsSystem()) {}
  std::vector<std::string> calls;
  // Another program that does not hold names makes the new archive's name
  // just before it is given (two creators on paths that do not look alike).
  bool nameTakenFirst = false;
  platform::MoveOutcome MoveReplacing(const std::string& from, const std::string& to) override {
    Renaming(to);
    return SystemWrapper::MoveReplacing(from, to);
  }
  bool MoveToFreeName(const std::string& from, const std::string& to) override {
    Renaming(to);
    return SystemWrapper::MoveToFreeName(from, to);
  }
  void Renaming(const std::string& to) {
    calls.push_back("rename");
    if (nameTakenFirst) {
      EXPECT_TRUE(WriteFileBytes(to, "theirs"));
    }
  }
  bool SyncFolderOf(const std::string& path) override {
    calls.push_back("sync");
    return SystemWrapper::SyncFolderOf(path);
  }
  bool RemoveFile(const std::string& path) override {
    calls.push_back("remove " + fs::path(path).filename().string());
    return SystemWrapper::RemoveFile(path);
  }
};

// After a power cut the moved sources were gone while the rename that put
// their archive in place could still be lost with the folder's unsynced state.
TEST_F(ArchiveReplacement, MovedSourcesAreDeletedOnlyOnceTheRenameIsDurable) {
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "into an existing archive" : "a new archive");
    const std::string archive = Path(existing ? "old.tvx" : "new.tvx");
    if (existing) WriteArchive("old.tvx", {{"kept.txt", "kept"}});
    MakeFile("moved.txt", "moved");
    const std::string list = NameList({"moved.txt"});
    host::PackRequest request;
    request.packedFile = archive;
    request.srcPath = SrcPath();
    request.addList = list.c_str();
    request.flags = PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES;
    CallLog log;
    ASSERT_EQ(host::PackFilesWith(log, request), 0);
    if (!existing) {
      // The name is theirs now: it stays, and so does the source.
      const std::string taken = Path("taken.tvx");
      MakeFile("moved2.txt", "moved");
      const std::string list2 = NameList({"moved2.txt"});
      host::PackRequest second = request;
      second.packedFile = taken;
      second.addList = list2.c_str();
      CallLog racing;
      racing.nameTakenFirst = true;
      EXPECT_EQ(host::PackFilesWith(racing, second), E_ECREATE);
      EXPECT_EQ(ReadFileBytes(taken), "theirs");
      EXPECT_TRUE(PathExists(Path("moved2.txt")));
    }
    const auto at = [&](const std::string& call) { return std::find(log.calls.begin(), log.calls.end(), call); };
    const auto afterLastRename = std::find(log.calls.rbegin(), log.calls.rend(), "rename").base();
    ASSERT_NE(at("remove moved.txt"), log.calls.end()) << testing::PrintToString(log.calls);
    EXPECT_LE(afterLastRename, at("sync")) << "synced before the rename";
    EXPECT_LT(at("sync"), at("remove moved.txt")) << "a source deleted before its rename was durable";
  }
}

#ifndef _WIN32

// --- real file systems mounted by the test (Linux, as root) --------------------------------

// A file system mounted for the object's life; ready() false when this
// process may not mount (not root, or no mount namespace rights).
class Mount {
 public:
  Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
        const char* options)
      : target_(target) {
    fs::create_directories(target);
    ready_ = ::mount(source.c_str(), target.c_str(), type, flags, options) == 0;
  }
  ~Mount() {
    if (ready_) ::umount2(target_.c_str(), MNT_DETACH);
  }
  bool ready() const { return ready_; }

 private:
  std::string target_;
  bool ready_ = false;
};

// The archive on a nearly full tmpfs, the temporary folder on another file
// system, a file added that makes it grow past the free space.
TEST_F(ArchiveReplacement, NearlyFullDiskLeavesTheArchiveAsItWas) {
  Mount small("tmpfs", Path("small"), "tmpfs", 0, "size=256k");
  if (!small.ready()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root): not tested on a real full disk";
  const std::string archive = Path("small/a.tvx");
  ASSERT_TRUE(WriteFileBytes(archive, ArchiveBytes({{"old.bin", NoiseBytes(64 << 10)}})));
  const std::string before = ReadFileBytes(archive);
  // Leave about 32 KiB free: room neither for a copy of the new archive nor for
  // it in the old one's place.
  const int64_t free = platform::OsSystem().VolumeFreeBytes(Path("small"));
  ASSERT_GT(free, 48 << 10);
  ASSERT_TRUE(WriteFileBytes(Path("small/filler"), std::string(static_cast<size_t>(free - (32 << 10)), 'f')));
  MakeFile("big.bin", NoiseBytes(128 << 10));

  EXPECT_EQ(Pack(archive, {"big.bin"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(archive) == before) << "the archive was damaged";
  EXPECT_EQ(FolderListing(Path("small")), (std::vector<std::string>{"a.tvx", "filler"}));
  EXPECT_TRUE(PathExists(Path("big.bin")));
  // The fixture insists that nothing was left in the temporary folder.
}

// The temporary folder and the archive on one file system, but the archive's
// folder reached through a bind mount: the rename reports EXDEV.
TEST_F(ArchiveReplacement, ArchiveBehindABindMountIsReplacedByACopyBesideIt) {
  fs::create_directories(Path("real"));
  Mount bind(Path("real"), Path("bound"), nullptr, MS_BIND, nullptr);
  if (!bind.ready()) GTEST_SKIP() << "cannot bind-mount here (needs root): not tested across mounts";
  const std::string archive = Path("bound/a.tvx");
  ASSERT_TRUE(WriteFileBytes(archive, ArchiveBytes({{"a.txt", "alpha"}, {"b.txt", "bravo"}})));
  MakeFile("c.txt", "charlie");
  // The temporary folder on the file system of the work folder, not the mount.
  TempFolderRedirect sameFileSystem(Path(""));

  EXPECT_EQ(Pack(archive, {"c.txt"}), 0);
  EXPECT_EQ(DeleteWith(module(), archive, {"a.txt"}), 0);
  EXPECT_EQ(Names(archive), ReportedForms({"b.txt", "c.txt"}));
  EXPECT_EQ(FolderListing(Path("bound")), std::vector<std::string>{"a.tvx"});
  EXPECT_EQ(TemporaryFilesIn(WorkFolder()), std::vector<std::string>());
}

#endif  // _WIN32

}  // namespace
}  // namespace tvx::test
