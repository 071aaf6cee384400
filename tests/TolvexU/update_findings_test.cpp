// Faults of the update path found by using the plug-in as people do: full
// disks, sources edited during a pack, links, FIFOs, read-only archives,
// missing sources, other volumes and long names. Each case failed before its
// fix.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "TolvexU/fake_drives.h"
#include "iwcxhead/wcxhead.h"
#include "support/cli_runner.h"
#include "support/plugin_test.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <thread>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

// Bytes that do not compress, so an archive grows by their full size.
std::string Incompressible(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

class UpdateFindings : public PluginTest {
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

// --- the move keeps a source changed after it was read -------------------------------

std::string g_changeFolder;

// Called after each entry's bytes are written: the user edits two of the files.
int WCX_API EditWhilePacking(char* fileName, int) {
  const std::string name = fileName;
  const auto endsWith = [&](const std::string& tail) {
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith("grown.txt")) {
    WriteFileBytes(g_changeFolder + NativeSeparator() + "grown.txt", "old content and more");
  } else if (endsWith("retimed.txt")) {
    const std::string path = g_changeFolder + NativeSeparator() + "retimed.txt";
    const auto before = fs::last_write_time(path);
    WriteFileBytes(path, "new content");  // the same length
    fs::last_write_time(path, before + std::chrono::seconds(10));
  }
  return 1;
}

TEST_F(UpdateFindings, MoveDeletesOnlySourcesStillAsTheyWereRead) {
  MakeFile("same.txt", "old content");
  MakeFile("grown.txt", "old content");
  MakeFile("retimed.txt", "old content");
  g_changeFolder = WorkFolder();
  module().set_process_data_proc(nullptr, EditWhilePacking);
  EXPECT_EQ(Pack(Path("a.tvx"), {"same.txt", "grown.txt", "retimed.txt"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES),
            0);
  EXPECT_FALSE(PathExists(Path("same.txt")));
  EXPECT_EQ(ReadFileBytes(Path("grown.txt")), "old content and more") << "newer work was deleted";
  EXPECT_EQ(ReadFileBytes(Path("retimed.txt")), "new content") << "newer work was deleted";
}

// --- an archive changed by someone else while it is being updated -------------------

cli::PluginModule* g_module = nullptr;
std::string g_archive;
bool g_rewrite = false;  // instead of deleting through the module, another program rewrites the archive
int g_innerResult = -1;

// Called during the outer PackFiles, once: the host, or another program, changes the archive.
int WCX_API ChangeArchiveWhilePacking(char*, int) {
  if (g_innerResult != -1) return 1;
  if (g_rewrite) {
    g_innerResult = WriteFileBytes(g_archive, ArchiveBytes({Stored("theirs.txt", "their change")})) ? 0 : 1;
  } else {
    g_innerResult = DeleteWith(*g_module, g_archive, {"kept.txt"});
  }
  return 1;
}

// A DeleteFiles from the progress callback of a PackFiles of the same archive
// answered 0, and the outer call then put the entry back. An archive
// rewritten meanwhile by a program that does not wait was replaced, its
// change lost.
TEST_F(UpdateFindings, AChangeMadeWhileAnUpdateRunsIsNeverUndoneUnnoticed) {
#ifdef _WIN32
  // The old archive is open, sharing only reading, while it is read: no other
  // program can write it then.
  for (const bool rewrite : {false}) {
#else
  for (const bool rewrite : {false, true}) {
#endif
    SCOPED_TRACE(rewrite ? "another program rewrites the archive" : "DeleteFiles from the progress callback");
    g_archive = WriteArchive("a.tvx", {{"kept.txt", "kept"}});
    MakeFile("new.txt", "new");
    g_module = &module();
    g_rewrite = rewrite;
    g_innerResult = -1;
    module().set_process_data_proc(nullptr, ChangeArchiveWhilePacking);
    const int outer = Pack(g_archive, {"new.txt"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES);
    module().set_process_data_proc(nullptr, nullptr);
    if (rewrite) {
      EXPECT_EQ(outer, E_EWRITE);
      EXPECT_EQ(Names(g_archive), ReportedForms({"theirs.txt"})) << "the other program's change was lost";
      EXPECT_TRUE(PathExists(Path("new.txt"))) << "a source of a failed move was deleted";
    } else {
      EXPECT_EQ(g_innerResult, E_EWRITE);
      EXPECT_EQ(outer, 0);
      EXPECT_EQ(Names(g_archive), ReportedForms({"kept.txt", "new.txt"}));
    }
  }
}

#ifndef _WIN32
// Two `tolvex add --move` and a `tolvex delete` started together on one
// archive all exited 0, yet the archive held only one change: the other's
// moved files were gone from disk and archive alike. The first round creates
// the archive.
TEST_F(UpdateFindings, UpdatesRacingOnOneArchiveEachKeepTheirChange) {
  const std::string archive = Path("race.tvx");
  ASSERT_TRUE(fs::create_directory(Path("src")));
  const std::string src = Path("src") + NativeSeparator();
  ProgramIo io;
  io.cwd = src;
  for (int round = 1; round <= 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string a = "a" + std::to_string(round) + ".txt", b = "b" + std::to_string(round) + ".txt";
    const std::string gone = "a" + std::to_string(round - 1) + ".txt";
    ASSERT_TRUE(WriteFileBytes(src + a, Compressible(20000 + round, 'a')));
    ASSERT_TRUE(WriteFileBytes(src + b, Compressible(20000 + round, 'b')));
    std::vector<int> pids = {StartTolvex({"add", archive, a, "--move"}, io), StartTolvex({"add", archive, b, "--move"}, io)};
    if (round > 1) pids.push_back(StartTolvex({"delete", archive, gone}, io));
    std::vector<int> codes;
    for (const int pid : pids) codes.push_back(WaitForChild(pid).exitCode);
    const std::vector<std::string> names = Names(archive);
    const auto holds = [&](const std::string& name) {
      return std::find(names.begin(), names.end(), ReportedForm(name)) != names.end();
    };
    EXPECT_EQ(codes, std::vector<int>(pids.size(), 0)) << "a second update gave up waiting for the first";
    for (const std::string& added : {a, b}) {
      if (codes[added == a ? 0 : 1] == 0) {
        EXPECT_TRUE(holds(added)) << added << " reported added but missing";
      }
      EXPECT_NE(holds(added), PathExists(src + added)) << added << " lost, or moved without being deleted";
    }
    if (round > 1 && codes[2] == 0) {
      EXPECT_FALSE(holds(gone)) << gone << " reported deleted but back";
    }
    if (HasFailure()) return;
  }
}
#endif

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
    if (nameTakenFirst) EXPECT_TRUE(WriteFileBytes(to, "theirs"));
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
TEST_F(UpdateFindings, MovedSourcesAreDeletedOnlyOnceTheRenameIsDurable) {
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

// --- a read-only archive is refused before anything is written ------------------------

TEST_F(UpdateFindings, ReadOnlyArchiveIsRefusedAndLeftAlone) {
  const std::string archive = WriteArchive("a.tvx", {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  const std::string before = ReadFileBytes(archive);
  MakeFile("c.txt", "charlie");
  fs::permissions(archive, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(Pack(archive, {"c.txt"}), E_EWRITE);
  EXPECT_EQ(DeleteWith(module(), archive, {"a.txt"}), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(archive) == before);
  EXPECT_EQ(FolderListing(WorkFolder()), (std::vector<std::string>{"a.tvx", "c.txt"}));
  fs::permissions(archive, fs::perms::owner_write, fs::perm_options::add);
}

// --- what PackFiles reports about its sources ---------------------------------------------

TEST_F(UpdateFindings, MissingSourceIsEOpenAndChangesNothing) {
  MakeFile("here.txt", "here");
  EXPECT_EQ(Pack(Path("new.tvx"), {"here.txt", "gone.txt"}), E_EOPEN);
  EXPECT_EQ(FolderListing(WorkFolder()), std::vector<std::string>{"here.txt"}) << "a new archive was left";

  const std::string archive = WriteArchive("old.tvx", {{"a.txt", "alpha"}});
  const std::string before = ReadFileBytes(archive);
  EXPECT_EQ(Pack(archive, {"here.txt", "gone.txt"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), E_EOPEN);
  EXPECT_TRUE(ReadFileBytes(archive) == before);
  EXPECT_TRUE(PathExists(Path("here.txt")));
}

TEST_F(UpdateFindings, FolderWithoutItsSeparatorIsPackedAsAFolder) {
  fs::create_directories(Path("docs"));
  const std::string archive = Path("a.tvx");
  ASSERT_EQ(Pack(archive, {"docs"}), 0);
  const Listing listing = ListArchive(module(), archive);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].name, ReportedForm("docs/"));
}

TEST_F(UpdateFindings, ArchiveNamedInItsOwnListIsLeftOut) {
  const std::string archive = WriteArchive("a.tvx", {{"a.txt", "alpha"}});
  MakeFile("b.txt", "bravo");
  ASSERT_EQ(Pack(archive, {"a.tvx", "b.txt"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), 0);
  EXPECT_EQ(Names(archive), ReportedForms({"a.txt", "b.txt"}));
  EXPECT_FALSE(PathExists(Path("b.txt")));
}

// --- a new archive appears under its name only when complete ------------------------------

// Every name in the folder at each write and rename of a pack.
std::vector<std::string>* g_seen = nullptr;
std::string g_watched;
void NoteFolder(uint64_t) {
  for (const std::string& name : FolderListing(g_watched)) {
    if (std::find(g_seen->begin(), g_seen->end(), name) == g_seen->end()) g_seen->push_back(name);
  }
}

TEST(NewArchive, IsWrittenBesideItsNameAndRenamedIntoPlace) {
  for (const bool userFileThere : {false, true}) {
    SCOPED_TRACE(userFileThere ? "a file of the user's holds the first name" : "the first name is free");
    TempDir data;
    const std::string archive = data.File("new.tvx");
    ASSERT_TRUE(WriteFileBytes(data.File("a.txt"), Compressible(5000)));
    if (userFileThere) {
      ASSERT_TRUE(WriteFileBytes(archive + ".tvxnew", "the user's file"));
    }
    const std::string list = NameList({"a.txt"});
    host::PackRequest request;
    request.packedFile = archive;
    request.srcPath = data.path() + NativeSeparator();
    request.addList = list.c_str();
    std::vector<std::string> seen;
    g_seen = &seen;
    g_watched = data.path();
    FaultySystem observed;
    FaultPlan plan;
    plan.beforeWrite = NoteFolder;
    {
      FaultPlanGuard observing(observed, plan);
      EXPECT_EQ(host::PackFilesWith(observed, request), 0);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "new.tvx"), 0) << "a partial archive lay under the final name";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), userFileThere ? "new.tvx.tvxnew2" : "new.tvx.tvxnew"), 1);
    std::vector<std::string> expected = {"a.txt", "new.tvx"};
    if (userFileThere) expected.push_back("new.tvx.tvxnew");
    EXPECT_EQ(FolderListing(data.path()), expected);
    if (userFileThere) {
      EXPECT_EQ(ReadFileBytes(archive + ".tvxnew"), "the user's file");
    }
  }
}

// --- no room for the new archive on the archive's drive ------------------------------------

// The temporary folder on drive T, the archive on D with too little room for
// a copy beside it or for the new archive in its place.
TEST(InPlaceOverwrite, IsRefusedWithoutRoomForTheWholeNewArchive) {
  TempDir temp;
  TempDir data;
  FakeDrives drives;
  drives.realFiles = true;
  drives.tempDirectory = temp.path() + NativeSeparator();
  drives.Mount(temp.path(), 't');
  drives.Mount(data.path(), 'd');
  const std::string archive = data.File("backup.tvx");
  const std::string old = ArchiveBytes({{"old.txt", "old"}});
  ASSERT_TRUE(WriteFileBytes(archive, old));
  ASSERT_TRUE(WriteFileBytes(data.File("big.bin"), Incompressible(5000)));
  drives.freeBytes['d'] = 1000;  // 1000 + the old archive's size is far below the new one's
  const std::string list = NameList({"big.bin"});
  host::PackRequest request;
  request.packedFile = archive;
  request.srcPath = data.path() + NativeSeparator();
  request.addList = list.c_str();
  request.flags = PK_PACK_MOVE_FILES;

  EXPECT_EQ(host::PackFilesWith(drives, request), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(archive) == old) << "the archive was overwritten";
  EXPECT_EQ(FolderListing(temp.path()), std::vector<std::string>()) << "the temporary file was left";
  EXPECT_EQ(FolderListing(data.path()), (std::vector<std::string>{"backup.tvx", "big.bin"}));

  drives.freeBytes['d'] = 5100;  // now the new archive fits where the old one was
  EXPECT_EQ(host::PackFilesWith(drives, request), 0);
  EXPECT_EQ(FolderListing(data.path()), std::vector<std::string>{"backup.tvx"});
  EXPECT_EQ(FolderListing(temp.path()), std::vector<std::string>());
}

// --- names too long for the copy's suffix -----------------------------------------------

// An archive name that fits, but not with ".tvxnew" added: a component of 254
// characters on Linux; a whole path of 255 on Windows (MAX_PATH is 260).
std::string LongArchiveName(const std::string& folder) {
#ifdef _WIN32
  const size_t length = std::min<size_t>(250, 255 - folder.size() - 1);
#else
  (void)folder;
  const size_t length = 250;
#endif
  return std::string(length - 4, 'n') + ".tvx";
}

TEST(LongArchiveName, NewAndCopiedArchivesUseAShorterFreeName) {
  TempDir temp;
  TempDir data;
  ASSERT_LT(data.path().size(), 200u);
  FakeDrives drives;
  drives.realFiles = true;
  drives.tempDirectory = temp.path() + NativeSeparator();
  drives.Mount(temp.path(), 't');
  drives.Mount(data.path(), 'd');
  drives.removable.insert('d');  // written in the temporary folder, then copied beside
  const std::string archive = data.File(LongArchiveName(data.path()));
  ASSERT_TRUE(WriteFileBytes(data.File("a.txt"), "alpha"));
  ASSERT_TRUE(WriteFileBytes(data.File("b.txt"), "bravo"));
  host::PackRequest request;
  request.packedFile = archive;
  request.srcPath = data.path() + NativeSeparator();
  request.flags = PK_PACK_SAVE_PATHS;

  const std::string first = NameList({"a.txt"});
  request.addList = first.c_str();
  EXPECT_EQ(host::PackFilesWith(drives, request), 0) << "new archive";
  const std::string second = NameList({"b.txt"});
  request.addList = second.c_str();
  EXPECT_EQ(host::PackFilesWith(drives, request), 0) << "copied beside the archive";
  EXPECT_EQ(FolderListing(data.path()),
            (std::vector<std::string>{"a.txt", "b.txt", LongArchiveName(data.path())}));
  EXPECT_EQ(FolderListing(temp.path()), std::vector<std::string>());
  EXPECT_EQ(ListedNames(*LoadedModule(), archive), ReportedForms({"a.txt", "b.txt"}));
}

#ifndef _WIN32

// --- links and FIFOs (Linux) ----------------------------------------------------------

TEST_F(UpdateFindings, ArchiveReachedThroughALinkIsChangedWhereItLies) {
  fs::create_directories(Path("real"));
  const std::string real = WriteArchive("real/a.tvx", {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  const std::string link = Path("link.tvx");
  fs::create_symlink("real/a.tvx", link);
  MakeFile("c.txt", "charlie");

  EXPECT_EQ(Pack(link, {"c.txt"}), 0);
  EXPECT_EQ(DeleteWith(module(), link, {"a.txt"}), 0);
  EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced by a file";
  EXPECT_EQ(Names(real), ReportedForms({"b.txt", "c.txt"}));
  EXPECT_EQ(FolderListing(Path("real")), std::vector<std::string>{"a.tvx"});
  EXPECT_EQ(FolderListing(WorkFolder()), (std::vector<std::string>{"c.txt", "link.tvx", "real"}));
}

TEST_F(UpdateFindings, DanglingLinkAsASourceIsEOpen) {
  fs::create_symlink("nowhere.txt", Path("dangling.txt"));
  EXPECT_EQ(Pack(Path("a.tvx"), {"dangling.txt"}), E_EOPEN);
  EXPECT_FALSE(PathExists(Path("a.tvx")));
}

// Runs body in a child; its result, or -1 when it was still running after
// five seconds (it is killed then, so a blocking call fails the test instead
// of hanging it).
int ResultWithin5Seconds(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() & 0xFF);
  if (pid < 0) return -2;
  int status = 0;
  for (int waited = 0; waited < 250; ++waited) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

TEST_F(UpdateFindings, FifoIsRefusedAtOnceWherever) {
  const std::string fifo = Path("pipe.tvx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  MakeFile("a.txt", "alpha");
  const std::string archive = WriteArchive("a.tvx", {{"x.txt", "x"}});
  const std::string before = ReadFileBytes(archive);
  struct Case {
    const char* what;
    std::function<int()> call;
    int expected;
  };
  const std::vector<Case> cases = {
      {"CanYouHandleThisFile", [&] { return CanHandle(module(), fifo); }, 0},
      {"OpenArchive", [&] { return HostArchive(module(), fifo).openResult(); }, E_UNKNOWN_FORMAT},
      {"PackFiles into it", [&] { return Pack(fifo, {"a.txt"}); }, E_UNKNOWN_FORMAT},
      {"DeleteFiles from it", [&] { return DeleteWith(module(), fifo, {"x.txt"}); }, E_UNKNOWN_FORMAT},
      {"PackFiles of it, new archive", [&] { return Pack(Path("new.tvx"), {"pipe.tvx"}); }, E_EOPEN},
      {"PackFiles of it, old archive", [&] { return Pack(archive, {"a.txt", "pipe.tvx"}); }, E_EOPEN},
  };
  for (const Case& c : cases) {
    const int result = ResultWithin5Seconds(c.call);
    EXPECT_NE(result, -1) << c.what << " blocked";
    EXPECT_EQ(result, c.expected) << c.what;
  }
  EXPECT_TRUE(ReadFileBytes(archive) == before);
  EXPECT_FALSE(PathExists(Path("new.tvx")));
}

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
TEST_F(UpdateFindings, NearlyFullDiskLeavesTheArchiveAsItWas) {
  Mount small("tmpfs", Path("small"), "tmpfs", 0, "size=256k");
  if (!small.ready()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root): not tested on a real full disk";
  const std::string archive = Path("small/a.tvx");
  ASSERT_TRUE(WriteFileBytes(archive, ArchiveBytes({{"old.bin", Incompressible(64 << 10)}})));
  const std::string before = ReadFileBytes(archive);
  // Leave about 32 KiB free: room neither for a copy of the new archive nor for
  // it in the old one's place.
  const int64_t free = platform::OsSystem().VolumeFreeBytes(Path("small"));
  ASSERT_GT(free, 48 << 10);
  ASSERT_TRUE(WriteFileBytes(Path("small/filler"), std::string(static_cast<size_t>(free - (32 << 10)), 'f')));
  MakeFile("big.bin", Incompressible(128 << 10));

  EXPECT_EQ(Pack(archive, {"big.bin"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), E_EWRITE);
  EXPECT_TRUE(ReadFileBytes(archive) == before) << "the archive was damaged";
  EXPECT_EQ(FolderListing(Path("small")), (std::vector<std::string>{"a.tvx", "filler"}));
  EXPECT_TRUE(PathExists(Path("big.bin")));
  // The fixture insists that nothing was left in the temporary folder.
}

// The temporary folder and the archive on one file system, but the archive's
// folder reached through a bind mount: the rename reports EXDEV.
TEST_F(UpdateFindings, ArchiveBehindABindMountIsReplacedByACopyBesideIt) {
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
