// Where a changed archive is written and how it takes the old one's place,
// with drives this machine does not have standing in through FakeDrives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/archive_target.h"
#include "TolvexU/fake_drives.h"
#include "TolvexU/pack_test.h"

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kNeeded = 5000;

// What ChooseTargetPath chose and made, on one line: the path (and whether a
// failure removes it), the temporary files and the names beside it made.
std::string Choice(const host::TargetPath& target, const FakeDrives& drives) {
  std::string line =
      (target.failed() ? "failed: " : "") + target.path + (target.temporaryFile ? " (removed on failure)" : "");
  for (const std::string& made : drives.tempFilesMade) line += ", temporary file " + made;
  for (const std::string& claimed : drives.namesClaimed) line += ", claimed " + claimed;
  return line;
}

TEST(ChooseTargetPath, FollowsTheFirstRuleThatApplies) {
  // The rule, the archive, the free space on its drive (-1: plenty), whether
  // that drive is removable, a name that exists already ("fail": no temporary
  // file can be made); the side file expected ("" for a temporary file,
  // "failed" for none).
  const std::vector<std::tuple<const char*, std::string, int64_t, bool, std::string, std::string>> rows = {
      {"temp folder on the archive's drive", "C:\\data\\a.arc", -1, false, "", ""},
      {"drive letters compared without case", "c:\\a.arc", -1, false, "", ""},
      {"other fixed drive with room", "D:\\data\\backup.arc", -1, false, "", "D:\\data\\backup___"},
      {"last dot of the whole path", "D:\\tools.old\\backup", -1, false, "", "D:\\tools___"},
      {"no dot at all", "D:\\data\\backup", -1, false, "", "D:\\data\\backup___"},
      {"removable drive", "E:\\backup.arc", -1, true, "", ""},
      {"free space exactly the size needed", "D:\\backup.arc", kNeeded, false, "", ""},
      {"one byte more than needed", "D:\\backup.arc", kNeeded + 1, false, "", "D:\\backup___"},
      {"free space unknown", "D:\\backup.arc", 0, false, "", ""},
      {"side file name taken", "D:\\data\\backup.arc", -1, false, "D:\\data\\backup___", ""},
      {"no temporary file", "C:\\a.arc", -1, false, "fail", "failed"},
  };
  for (const auto& [rule, archive, freeOnArchiveDrive, removableArchiveDrive, takenName, side] : rows) {
    FakeDrives drives;
    const char drive = static_cast<char>(std::tolower(archive[0]));
    if (freeOnArchiveDrive >= 0) drives.freeBytes[drive] = freeOnArchiveDrive;
    if (removableArchiveDrive) drives.removable.insert(drive);
    if (!takenName.empty()) drives.takenNames.insert(takenName);
    drives.failTempFiles = takenName == "fail";
    // A temporary file is "tvx" and a number in the temporary folder.
    const std::string expected = side == "failed" ? "failed: "
                                 : side.empty()
                                     ? "C:\\Temp\\tvx1.tmp (removed on failure), temporary file C:\\Temp\\tvx1.tmp"
                                     : side + " (removed on failure), claimed " + side;
    EXPECT_EQ(Choice(host::ChooseTargetPath(drives, archive, kNeeded), drives), expected) << rule;
  }
}

// What a plan made by Watching saw in the folders before each write: every
// name, and the names others could read (the archive itself aside).
std::vector<std::string> g_folders, g_seen, g_readable;
FaultPlan Watching(std::vector<std::string> folders) {
  g_folders = std::move(folders);
  g_seen.clear();
  g_readable.clear();
  FaultPlan plan;
  plan.beforeWrite = [](uint64_t) {
    for (const std::string& folder : g_folders) {
      for (const std::string& name : FolderListing(folder)) {
        if (std::find(g_seen.begin(), g_seen.end(), name) == g_seen.end()) g_seen.push_back(name);
        std::error_code gone;  // Windows may still list a file it is removing
        const fs::perms perms = fs::status(folder + NativeSeparator() + name, gone).permissions();
        const bool others = (perms & ~fs::perms::owner_all) != fs::perms::none;
        if (!gone && name != "backup.tvx" && others) g_readable.push_back(name);
      }
    }
  };
  return plan;
}

host::PackRequest PackRequestOf(const std::string& archive, const std::string& srcPath, const std::string& list,
                                int flags) {
  return host::PackRequest{archive, "", srcPath, list.c_str(), flags};
}

// Real folders standing in for a temporary folder and an archive's folder,
// both on drive c, or on t and d.
struct RealFolders {
  explicit RealFolders(bool sameDrive) {
    drives.realFiles = true;
    drives.tempDirectory = temp.path() + NativeSeparator();
    drives.Mount(temp.path(), sameDrive ? 'c' : 't');
    drives.Mount(data.path(), sameDrive ? 'c' : 'd');
  }
  std::string Archive() const { return data.File("backup.tvx"); }
  std::string Source(const std::string& name) const { return data.File(name); }
  // A PackFiles of names in the data folder into Archive().
  host::PackRequest Request(const std::vector<std::string>& names, int flags = 0) {
    list = NameList(names);
    return PackRequestOf(Archive(), data.path() + NativeSeparator(), list, flags);
  }
  // A DeleteFiles of these entries from Archive().
  int Delete(const std::vector<std::string>& names) {
    return host::DeleteFilesWith(drives, Archive(), NameList(names).c_str());
  }

  std::string list;
  FaultySystem faults;
  FakeDrives drives{faults};
  TempDir temp;
  TempDir data;
};

// On the same drive one rename does it; across drives the new archive is
// copied beside the old one, under a name that is free, then renamed.
TEST(ReplaceArchiveFile, RenamesOnTheSameDriveAndCopiesBesideTheArchiveAcrossDrives) {
  using Row = std::tuple<const char*, bool, bool>;  // whether on the same drive, and a file of the user's beside
  for (const auto& [name, sameDrive, nameBesideTaken] :
       {Row{"same drive", true, false}, Row{"across drives", false, false},
        Row{"across drives, a taken name beside", false, true}}) {
    SCOPED_TRACE(name);
    RealFolders f(sameDrive);
    const std::string target = f.temp.File("tvx-new");
    const std::string content = Compressible(3 << 20, 'n');  // several copy pieces
    ASSERT_TRUE(WriteFileBytes(f.Archive(), "old archive"));
    ASSERT_TRUE(WriteFileBytes(target, content));
    ASSERT_TRUE(!nameBesideTaken || WriteFileBytes(f.Archive() + ".tvxnew", "the user's file"));
    FaultPlanGuard counting(f.faults, FaultPlan{});
    EXPECT_EQ(host::ReplaceArchiveFile(f.drives, f.Archive(), target), Status::kOk);
    const uint64_t calls = f.faults.MutatingCalls();
    EXPECT_TRUE(sameDrive ? calls == 1 : calls > 1)
        << calls << " calls: more than the rename, or a plain one across drives";
    EXPECT_TRUE(ReadFileBytes(f.Archive()) == content);
    EXPECT_FALSE(PathExists(target));
    EXPECT_EQ(FolderContents(f.data.path()),
              std::string("backup.tvx") + (nameBesideTaken ? "; backup.tvx.tvxnew=the user's file" : ""))
        << "the copy was left beside";
  }
}

// Exactly the room needed is E_ECREATE, leaves nothing and changes nothing;
// one byte more does it. Packing needs the files' size, deleting the whole
// old archive's.
TEST(FreeSpace, AnUpdateNeedsStrictlyMoreRoomThanItWrites) {
  struct Row {
    const char* name;
    bool sameDrive, existing, deleting;
  };
  for (const Row& row : {Row{"packing into an archive, temporary file on its drive", true, true, false},
                         Row{"new archive on another drive", false, false, false},
                         Row{"deleting, temporary file on the archive's drive", true, true, true}}) {
    SCOPED_TRACE(row.name);
    RealFolders f(row.sameDrive);
    const std::string old = row.existing ? ArchiveBytes({{"a.txt", Compressible(500)}, {"b.txt", "b"}}) : "";
    ASSERT_TRUE(!row.existing || WriteFileBytes(f.Archive(), old));
    ASSERT_TRUE(WriteFileBytes(f.Source("n.txt"), Compressible(600)));
    ASSERT_TRUE(WriteFileBytes(f.Source("m.txt"), Compressible(400)));
    const host::PackRequest request = f.Request({"n.txt", "m.txt"}, PK_PACK_MOVE_FILES);
    const auto update = [&] { return row.deleting ? f.Delete({"a.txt"}) : host::PackFilesWith(f.drives, request); };
    const int64_t needed = row.deleting ? static_cast<int64_t>(old.size()) : 1000;
    const char drive = row.sameDrive ? 'c' : 'd';

    f.drives.freeBytes[drive] = needed;
    const std::string sources = "m.txt=" + Compressible(400) + "; n.txt=" + Compressible(600);
    // Braced: in this order; then the temporary files made and those left, the archive unchanged, the folder.
    using Refused = std::tuple<int, size_t, std::vector<std::string>, bool, std::string>;
    EXPECT_EQ((Refused{update(), f.drives.tempFilesMade.size(), TemporaryFilesIn(f.temp.path()),
                       ReadFileBytes(f.Archive()) == old, FolderContents(f.data.path())}),
              (Refused{E_ECREATE, row.sameDrive ? 1u : 0u, {}, true, (row.existing ? "backup.tvx; " : "") + sources}));

    f.drives.freeBytes[drive] = needed + 1;
    EXPECT_EQ(update(), 0);
    EXPECT_EQ(FolderContents(f.data.path()), "backup.tvx" + (row.deleting ? "; " + sources : ""));
    EXPECT_TRUE(!row.deleting || ReadFileBytes(f.Archive()) == ArchiveBytes({{"b.txt", "b"}}));
  }
}

// A private archive's successor is private from its creation: in the
// temporary folder, as the side file, and as the copy beside the archive.
// Only on another drive with room is it the side file, seen while written.
TEST(ReplaceArchiveFile, TheSuccessorIsTheSideFileOnlyOnAnotherDriveWithRoomAndNeverReadableByOthers) {
  for (int drives = 0; drives < 3; ++drives) {  // same drive; another with room; a removable one
    SCOPED_TRACE(drives);
    RealFolders f(drives == 0);
    if (drives == 2) f.drives.removable.insert('d');
    ASSERT_TRUE(WriteFileBytes(f.Archive(), ArchiveBytes({{"a.txt", "a"}, {"b.txt", "b"}})));
    const auto private_ = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(f.Archive(), private_);
    {
      FaultPlanGuard watching(f.faults, Watching({f.temp.path(), f.data.path()}));
      EXPECT_EQ(f.Delete({"a.txt"}), 0);
    }
    EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), "backup___"), drives == 1 ? 1 : 0);
    EXPECT_EQ(f.drives.tempFilesMade.empty(), drives == 1);
    EXPECT_EQ(FolderListing(f.data.path()), std::vector<std::string>{"backup.tvx"});
    EXPECT_EQ(ReadFileBytes(f.Archive()), ArchiveBytes({{"b.txt", "b"}}));
#ifndef _WIN32
    EXPECT_EQ(g_readable, std::vector<std::string>());
    EXPECT_EQ(fs::status(f.Archive()).permissions(), private_);
    if (drives != 1) continue;
    // A dangling link at the side name is another's: never written through,
    // never moved onto the archive.
    const std::string side = f.data.path() + "/backup___", stolen = f.data.path() + "/stolen";
    fs::create_symlink(stolen, side);
    EXPECT_EQ(f.Delete({"b.txt"}), 0);
    EXPECT_FALSE(fs::is_symlink(f.Archive()));
    EXPECT_FALSE(fs::exists(stolen));
    EXPECT_TRUE(fs::is_symlink(side));
#endif
  }
}

TEST(NewArchive, IsWrittenBesideItsNameAndRenamedIntoPlace) {
  RealFolders f(false);
  for (const bool userFileThere : {false, true}) {
    SCOPED_TRACE(userFileThere ? "a file of the user's holds the first name" : "the first name is free");
    fs::remove(f.Archive());
    ASSERT_TRUE(WriteFileBytes(f.Source("a.txt"), Compressible(5000)));
    ASSERT_TRUE(!userFileThere || WriteFileBytes(f.Archive() + ".tvxnew", "the user's file"));
    const host::PackRequest request = f.Request({"a.txt"});
    {
      FaultPlanGuard observing(f.faults, Watching({f.data.path()}));
      EXPECT_EQ(host::PackFilesWith(f.faults, request), 0);
    }
    EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), "backup.tvx"), 0) << "a partial archive lay under the final name";
    EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), userFileThere ? "backup.tvx.tvxnew2" : "backup.tvx.tvxnew"), 1);
    EXPECT_EQ(FolderContents(f.data.path()), "a.txt=" + Compressible(5000) + "; backup.tvx" +
                                                 (userFileThere ? "; backup.tvx.tvxnew=the user's file" : ""));
  }
}

// The temporary folder on drive T, the archive on D with too little room for
// a copy beside it or for the new archive in its place (with it, a full disk
// would have cut the archive).
TEST(InPlaceOverwrite, IsRefusedWithoutRoomForTheWholeNewArchive) {
  RealFolders f(false);
  const std::string old = ArchiveBytes({{"old.txt", "old"}});
  ASSERT_TRUE(WriteFileBytes(f.Archive(), old));
  ASSERT_TRUE(WriteFileBytes(f.Source("big.bin"), NoiseBytes(5000)));
  f.drives.freeBytes['d'] = 1000;  // 1000 + the old archive's size is far below the new one's
  const host::PackRequest request = f.Request({"big.bin"}, PK_PACK_MOVE_FILES);

  EXPECT_EQ(host::PackFilesWith(f.drives, request), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(f.Archive()) == old) << "the archive was overwritten";
  EXPECT_EQ(FolderListing(f.temp.path()), std::vector<std::string>()) << "the temporary file was left";
  EXPECT_EQ(FolderListing(f.data.path()), (std::vector<std::string>{"backup.tvx", "big.bin"}));

  f.drives.freeBytes['d'] = 5100;  // now the new archive fits where the old one was
  EXPECT_EQ(host::PackFilesWith(f.drives, request), 0);
  EXPECT_EQ(FolderListing(f.data.path()), std::vector<std::string>{"backup.tvx"});
  EXPECT_EQ(FolderListing(f.temp.path()), std::vector<std::string>());
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

TEST(LongArchiveName, NewAndCopiedArchivesUseAShorterFreeName) {
  RealFolders f(false);
  ASSERT_LT(f.data.path().size(), 200u);
  f.drives.removable.insert('d');  // written in the temporary folder, then copied beside
  const std::string archive = f.data.File(NameTooLongForASuffix(f.data.path()));
  ASSERT_TRUE(WriteFileBytes(f.Source("a.txt"), "alpha"));
  ASSERT_TRUE(WriteFileBytes(f.Source("b.txt"), "bravo"));
  for (const char* name : {"a.txt", "b.txt"}) {
    host::PackRequest request = f.Request({name}, PK_PACK_SAVE_PATHS);
    request.packedFile = archive;
    EXPECT_EQ(host::PackFilesWith(f.drives, request), 0) << (name[0] == 'a' ? "new archive" : "copied beside");
  }
  EXPECT_EQ(FolderListing(f.data.path()),
            (std::vector<std::string>{"a.txt", "b.txt", NameTooLongForASuffix(f.data.path())}));
  EXPECT_EQ(FolderListing(f.temp.path()), std::vector<std::string>());
  EXPECT_EQ(ListedNames(*LoadedModule(), archive), ReportedForms({"a.txt", "b.txt"}));
}

// The module's PackFiles and DeleteFiles against real folders.
using ArchiveReplacement = PackTest;

// --- the new name is durable before moved sources go ---------------------------------------

// Notes renames, folder syncs and removals in the order they are asked for.
// With nameTakenFirst another program that does not hold names makes the new
// archive's name just before it is given (two creators on paths that do not
// look alike).
class CallLog : public SystemWrapper {
 public:
  explicit CallLog(bool nameTakenFirst = false) : SystemWrapper(platform::OsSystem()), nameTakenFirst(nameTakenFirst) {}
  std::vector<std::string> calls;
  const bool nameTakenFirst;
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
    EXPECT_TRUE(!nameTakenFirst || WriteFileBytes(to, "theirs"));
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
    const int move = PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES;
    CallLog log;
    ASSERT_EQ(host::PackFilesWith(log, PackRequestOf(archive, SrcPath(), NameList({"moved.txt"}), move)), 0);
    if (!existing) {
      // The name is theirs now: it stays, and so does the source.
      const std::string taken = Path("taken.tvx");
      MakeFile("moved2.txt", "moved");
      CallLog racing(true);
      EXPECT_EQ(host::PackFilesWith(racing, PackRequestOf(taken, SrcPath(), NameList({"moved2.txt"}), move)),
                E_ECREATE);
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

// Puts a link to "stolen" at a name just before it is opened for writing:
// planted after the name was found free, or in the archive's place.
struct LinkAtOpen : SystemWrapper {
  LinkAtOpen(platform::System& target, std::string at) : SystemWrapper(target), at(std::move(at)) {}
  std::unique_ptr<platform::SystemFile> OpenFile(const std::string& path, platform::File::Mode mode,
                                                 platform::File::Facts* facts, platform::IoError* error) override {
    if (path == at && mode != platform::File::Mode::kRead) {
      fs::remove(path);
      fs::create_symlink("stolen", path);
    }
    return SystemWrapper::OpenFile(path, mode, facts, error);
  }
  const std::string at;
};

TEST(ReplaceArchiveFile, NeverWritesThroughALinkPlantedAtTheNameItOpens) {
  for (const bool inPlace : {false, true}) {
    RealFolders f(false);
    if (inPlace) f.drives.freeBytes['d'] = 100;  // no room for a copy beside, but in the old one's place
    ASSERT_TRUE(WriteFileBytes(f.Archive(), "old archive"));
    ASSERT_TRUE(WriteFileBytes(f.temp.File("new"), std::string(100, 'n')));
    LinkAtOpen planting(f.drives, inPlace ? f.Archive() : f.Archive() + ".tvxnew");
    EXPECT_EQ(host::ReplaceArchiveFile(planting, f.Archive(), f.temp.File("new")), Status::kWriteFailed);
    EXPECT_FALSE(fs::exists(f.data.File("stolen"))) << "written through the link";
    EXPECT_EQ(ReadFileBytes(f.temp.File("new")), std::string(100, 'n'));
  }
}

// --- real file systems mounted by the test (Linux, as root) --------------------------------

// A folder bound at another place for the object's life; ready false when
// this process may not mount (not root, or no mount namespace rights).
struct BindMount {
  BindMount(const std::string& source, const std::string& target) : target(target) {
    fs::create_directories(target);
    ready = ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  ~BindMount() { if (ready) ::umount2(target.c_str(), MNT_DETACH); }
  const std::string target;
  bool ready = false;
};

// The temporary folder and the archive on one file system, but the archive's
// folder reached through a bind mount: the rename reports EXDEV.
TEST_F(ArchiveReplacement, ArchiveBehindABindMountIsReplacedByACopyBesideIt) {
  fs::create_directories(Path("real"));
  BindMount bind(Path("real"), Path("bound"));
  if (!bind.ready) GTEST_SKIP() << "cannot bind-mount here (needs root): not tested across mounts";
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
