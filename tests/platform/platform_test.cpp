// Tests of the platform layer. They run natively on Linux and, for the Windows
// build, under Wine; expectations that differ between the two are marked.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "commonsU/entry_time.h"
#include "platform/native.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "support/test_system.h"

#ifdef _WIN32
#include "support/windows_headers.h"
#else
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::platform {
namespace {

namespace fs = std::filesystem;
using namespace test;

// Sets the file's last-write time to the given local date and time.
bool SetLocalModifiedTime(const std::string& path, int year, int month, int day, int hour, int minute, int second) {
#ifdef _WIN32
  // The inverse of what FileWallClockTime does, with the daylight-saving
  // rule of that date.
  const SYSTEMTIME local = {WORD(year), WORD(month), 0, WORD(day), WORD(hour), WORD(minute), WORD(second), 0};
  SYSTEMTIME universal;
  FILETIME utc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) || !SystemTimeToFileTime(&universal, &utc)) {
    return false;
  }
  const int64_t ticks = static_cast<int64_t>(uint64_t{utc.dwHighDateTime} << 32 | utc.dwLowDateTime);  // since 1601
  return SetUtcModifiedTime(path, ticks / 10000000 - 11644473600);
#else
  const std::time_t t = test::LocalTime(year, month, day, hour, minute, second);
  return t != static_cast<std::time_t>(-1) && test::SetUtcModifiedTime(path, t);
#endif
}

// Every case asks this machine's system, with a fresh folder of its own.
class Platform : public ::testing::Test {
 protected:
  std::unique_ptr<SystemFile> Open(const std::string& name, File::Mode mode) {
    return os.OpenFile(dir.File(name), mode, nullptr, nullptr);
  }
  // The file's bytes after writing `bytes` over what `name` held, opened as mode.
  std::string WrittenAs(File::Mode mode, const char* bytes) {
    WriteFileBytes(dir.File("a"), "0123456789");
    std::unique_ptr<SystemFile> f = Open("a", mode);
    if (!f) return "(not opened)";
    f->Write(bytes, static_cast<uint32_t>(std::char_traits<char>::length(bytes)));
    f.reset();
    return ReadFileBytes(dir.File("a"));
  }
  System& os = OsSystem();
  TempDir dir;
};

// --- files ----------------------------------------------------------------------

TEST_F(Platform, EachModeOpensAsItSays) {
  EXPECT_EQ(WrittenAs(File::Mode::kCreateWrite, "new"), "new");         // emptied
  EXPECT_EQ(WrittenAs(File::Mode::kReadWrite, "ab"), "ab23456789");     // kept
  EXPECT_EQ(WrittenAs(File::Mode::kCreateNew, "x"), "(not opened)");    // the name is taken
  std::unique_ptr<SystemFile> created = Open("new", File::Mode::kReadWrite);
  EXPECT_TRUE(created && os.FileExists(dir.File("new")) && created->Size() == 0u);
  for (File::Mode mode : {File::Mode::kRead, File::Mode::kCreateWrite, File::Mode::kReadWrite}) {
    EXPECT_EQ(os.OpenFile(dir.path(), mode, nullptr, nullptr), nullptr) << "a folder opened";
  }
  char buf[4] = {};  // a file opened to write reads nothing (the reverse: with the failures below)
  EXPECT_EQ(Open("a", File::Mode::kCreateWrite)->Read(buf, 4), 0u);
#ifndef _WIN32
  // Only the modes for a new file of its own make one others may read.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const auto& [mode, access] : std::vector<std::pair<File::Mode, mode_t>>{
           {File::Mode::kCreateWrite, 0600}, {File::Mode::kReadWrite, 0600}, {File::Mode::kCreateNew, 0644},
           {File::Mode::kCreatePrivate, 0600}, {File::Mode::kCreateNewLinkFree, 0644},
           {File::Mode::kCreatePrivateLinkFree, 0600}}) {
    const std::string name = dir.File("m" + std::to_string(static_cast<int>(mode)));
    ASSERT_NE(os.OpenFile(name, mode, nullptr, nullptr), nullptr);
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, access & ~mask) << static_cast<int>(mode);
  }
  // A replacement takes the old file's bits and group, not a folder's set-group-ID one (root may give any).
  if (::geteuid() == 0) {
    ASSERT_TRUE(fs::create_directory(dir.File("sg")) && ::chown(dir.File("sg").c_str(), 0, 4321) == 0 &&
                ::chmod(dir.File("sg").c_str(), 02775) == 0 && WriteFileBytes(dir.File("old"), "o") &&
                ::chmod(dir.File("old").c_str(), 06660) == 0);
    const auto made = os.OpenFile(dir.File("sg/new"), File::Mode::kCreatePrivate, nullptr, nullptr);
    ASSERT_TRUE(made && made->TakeAccessOf(dir.File("old")));
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("sg/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
  }
  // Where the system can refuse links on the way, a folder link is refused
  // when a file is made or removed through it.
  ASSERT_TRUE(fs::create_directory(dir.File("real")) && WriteFileBytes(dir.File("real/kept"), "k"));
  fs::create_directory_symlink(dir.File("real"), dir.File("link"));
  if (os.ResolvesWithoutLinks(dir.path())) {
    IoError error;
    EXPECT_EQ(os.OpenFile(dir.File("link/new"), File::Mode::kCreateNewLinkFree, nullptr, &error), nullptr);
    EXPECT_EQ(error.kind, IoErrorKind::kLink);
    EXPECT_FALSE(os.RemoveFileLinkFree(dir.File("link/kept")));
    EXPECT_FALSE(os.MakeDirectoryLinkFree(dir.File("link/sub")) || os.MakeDirectoryLinkFree(dir.File("link")));
    EXPECT_TRUE(os.MakeDirectoryLinkFree(dir.File("real/sub/")) && os.MakeDirectoryLinkFree(dir.File("real/sub")));
    EXPECT_EQ(os.MoveReplacingLinkFree(dir.File("link/kept"), dir.File("link/moved")), MoveOutcome::kFailed);
    EXPECT_TRUE(os.FileExists(dir.File("real/kept")) && !os.FileExists(dir.File("real/new")));
    EXPECT_TRUE(os.DirectoryExists(dir.File("real/sub")));
    EXPECT_FALSE(os.ResolvesWithoutLinks(dir.File("link")));
    EXPECT_EQ(os.MoveReplacingLinkFree(dir.File("real/kept"), dir.File("real/moved")), MoveOutcome::kMoved);
    EXPECT_TRUE(os.RemoveFileLinkFree(dir.File("real/moved")));
    // A name too long for the system is refused, as by its path.
    std::string deep = dir.File("real");
    while (deep.size() < PATH_MAX - 250) {
      deep += "/" + std::string(200, 'd');
      ASSERT_TRUE(fs::create_directory(deep));
    }
    ASSERT_TRUE(WriteFileBytes(deep + "/p", "p"));
    EXPECT_EQ(os.MoveReplacingLinkFree(deep + "/p", deep + "/" + std::string(250, 'n')), MoveOutcome::kFailed);
  }
#endif
}

#ifdef _WIN32
TEST_F(Platform, WindowsSharesReadingOnly) {
  WriteFileBytes(dir.File("a"), "abc");
  std::unique_ptr<SystemFile> first = Open("a", File::Mode::kRead);
  EXPECT_NE(Open("a", File::Mode::kRead), nullptr);
  EXPECT_EQ(Open("a", File::Mode::kCreateWrite), nullptr);
  EXPECT_FALSE(os.RemoveFile(dir.File("a"))) << "an open file was deleted";
  first.reset();  // our own reader would block the writer, too
  first = Open("a", File::Mode::kReadWrite);
  ASSERT_TRUE(first);
  EXPECT_EQ(Open("a", File::Mode::kRead), nullptr);
  first.reset();
  EXPECT_TRUE(os.RemoveFile(dir.File("a"))) << "a closed file kept its handle";
}
#else
TEST_F(Platform, DestroyedFilesAreClosed) {
  auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
  const auto before = openFiles();
  { std::unique_ptr<SystemFile> f = Open("a", File::Mode::kCreateWrite); }
  EXPECT_EQ(openFiles(), before);
}
#endif

// A refused seek (before the start, beyond 32 bits) keeps the position.
TEST_F(Platform, SeeksStayWithin32BitsARefusedOneKeepsThePositionAndSetEndHereCutsAndExtends) {
  WriteFileBytes(dir.File("a"), "0123456789");
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kReadWrite);
  // The offset, its origin, the position after it (kAllBits: refused).
  const std::tuple<int32_t, SeekOrigin, uint32_t> seeks[] = {
      {-10, kFromEnd, 0},  {20, kFromBegin, 20},  // beyond the end is allowed
      {2, kFromBegin, 2},  {2, kFromCurrent, 4},   {-1, kFromBegin, kAllBits}, {-5, kFromCurrent, kAllBits},
      {-11, kFromEnd, kAllBits},                   {0, kFromCurrent, 4},
      {0x7FFFFFFF, kFromBegin, 0x7FFFFFFFu},       {0x7FFFFFFF, kFromCurrent, kLastValidPosition},
      {1, kFromCurrent, kAllBits},  // would be the failure value
      {0x7FFFFFFF, kFromCurrent, kAllBits},        {0, kFromCurrent, kLastValidPosition},
  };
  for (const auto& [offset, origin, answer] : seeks) EXPECT_EQ(f->Seek(offset, origin), answer) << offset << origin;
  for (uint32_t end : {4u, 100u}) {
    ASSERT_EQ(f->Seek(static_cast<int32_t>(end), kFromBegin), end);
    EXPECT_TRUE(f->SetEndHere() && f->Size() == end) << end;
  }
  f.reset();
  EXPECT_EQ(ReadFileBytes(dir.File("a")).substr(0, 5), std::string("0123\0", 5));
}

#ifndef _WIN32
TEST_F(Platform, WriteStoppedByTheFileSizeLimitReportsTheBytesThatMadeIt) {
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kCreateWrite);
  ASSERT_TRUE(f);
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = {100, saved.rlim_max};
  void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::vector<char> data(300, 'x');
  const uint32_t written = f->Write(data.data(), 300);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedHandler);
  EXPECT_EQ(std::make_pair(written, f->Size()), std::make_pair(100u, 100u));
}
#endif

// A read is short only at the end. The kinds decide between "damaged" and
// "read error" further up, so each must come from what the system said, not
// from a guess.
TEST_F(Platform, ReadIsShortOnlyAtTheEndAndEachFailureSaysWhatFailed) {
  IoError error;
  EXPECT_EQ(os.OpenFile(dir.File("missing"), File::Mode::kRead, nullptr, &error), nullptr);
  EXPECT_TRUE(error.kind == IoErrorKind::kNotFound && error.osCode != 0) << error.osCode;

  ASSERT_TRUE(WriteFileBytes(dir.File("a"), "0123456789"));
  std::unique_ptr<SystemFile> file = Open("a", File::Mode::kRead);
  ASSERT_NE(file, nullptr);
  char buffer[16] = {};
  using Counts = std::vector<uint32_t>;  // braced: asked in this order
  EXPECT_EQ((Counts{file->Read(buffer, 4), file->Read(buffer, 16)}), (Counts{4, 6}));
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(file->LastError().kind, IoErrorKind::kEnd) << "the end of the file is no system error";
  EXPECT_EQ((Counts{file->Read(buffer, 16), file->Seek(0, kFromBegin), file->Read(buffer, 3)}), (Counts{0, 0, 3}));
  EXPECT_FALSE(file->LastError().failed()) << "a complete read forgets the failure before it";
  EXPECT_TRUE(file->Write("x", 1) == 0u && file->LastError().failed()) << "writing a file opened for reading";

#ifndef _WIN32
  // /dev/full answers every write with ENOSPC, as a full disk does.
  std::unique_ptr<SystemFile> full = os.OpenFile("/dev/full", File::Mode::kCreateWrite, nullptr, &error);
  ASSERT_NE(full, nullptr);
  EXPECT_TRUE(full->Write("x", 1) == 0u && full->LastError().kind == IoErrorKind::kDiskFull);
#endif
}

// --- file-system questions ----------------------------------------------------

// Folders only have a modified time; the current time brackets a new file's.
TEST_F(Platform, NamesTellFilesFromFoldersAndTheirSizesAndTimes) {
  const int64_t before = os.CurrentWallClockTime();
  WriteFileBytes(dir.File("file"), "12345");
  const int64_t stamped = os.FileWallClockTime(dir.File("file"));
  ASSERT_NE(before, kNoWallClock);
  // The file system stamps from a coarse clock that may lag the current time
  // by a tick, so at a second boundary a new file can read a second early.
  EXPECT_LE(before - 1, stamped);
  EXPECT_LE(stamped, os.CurrentWallClockTime());
  // A file, a folder, its size and 64-bit size, a file time, a modified time.
  using Answers = std::tuple<bool, bool, uint32_t, int64_t, bool, bool>;
  const std::pair<std::string, Answers> names[] = {{dir.File("file"), {true, false, 5, 5, true, true}},
                                                   {dir.path(), {false, true, 0, -1, false, true}},
                                                   {dir.File("missing"), {false, false, 0, -1, false, false}}};
  for (const auto& [path, answers] : names) {
    EXPECT_EQ(Answers(os.FileExists(path), os.DirectoryExists(path), os.FileSizeByName(path), os.FileSize64(path),
                      os.FileWallClockTime(path) != kNoWallClock, os.ModifiedWallClockTime(path) != kNoWallClock),
              answers)
        << path;
  }
}

TEST_F(Platform, FileTimeIsTheLocalWallClockWhateverTheYear) {
  WriteFileBytes(dir.File("file"), "x");
  using Date = std::tuple<int, int, int, int, int, int>;
  // January and July: standard and daylight-saving time where a zone has both.
  for (const auto& [year, month, day, hour, minute, second] :
       {Date{2005, 6, 15, 12, 0, 0}, Date{2005, 1, 15, 12, 0, 0}, Date{1979, 12, 31, 23, 59, 58},
        Date{1969, 7, 20, 20, 17, 40}, Date{2039, 1, 1, 0, 0, 0}, Date{2107, 12, 31, 23, 59, 58}}) {
    ASSERT_TRUE(SetLocalModifiedTime(dir.File("file"), year, month, day, hour, minute, second));
    const int64_t expected = SecondsFromCivil(year, month, day, hour, minute, second);
    EXPECT_EQ(std::make_pair(os.FileWallClockTime(dir.File("file")), os.ModifiedWallClockTime(dir.File("file"))),
              std::make_pair(expected, expected)) << year << "-" << month;
  }
}

TEST_F(Platform, TemporaryFilesAreNewAndEmptyInTheirFolder) {
  const std::string temp = os.TempDirectory();
  EXPECT_TRUE(!temp.empty() && temp.back() == kPathSeparator && os.DirectoryExists(temp)) << temp;

  const std::string first = os.CreateTempFile(dir.path(), "tvxabc").path;
  const std::string second = os.CreateTempFile(dir.path(), "tvxabc").path;
  EXPECT_TRUE(!first.empty() && first != second) << first;
  EXPECT_EQ(std::make_tuple(os.FileExists(first), os.FileSizeByName(first), first.substr(0, dir.path().size() + 4)),
            std::make_tuple(true, 0u, dir.File("tvx")));

  const PathResult made = os.CreateTempFile(dir.File("missing"), "tvx");
  EXPECT_TRUE(made.path.empty() && made.failed()) << made.path;
#ifndef _WIN32
  EXPECT_EQ(made.error.kind, IoErrorKind::kNotFound);  // the folder is missing, not the disk full
#endif
}

// --- drives --------------------------------------------------------------------

TEST_F(Platform, SameDriveNeedsTwoPaths) {
  EXPECT_EQ((std::vector<bool>{os.SameDrive("", dir.path()), os.SameDrive(dir.path(), ""),
                               os.SameDrive(dir.File("a"), dir.File("not") + kPathSeparator + "yet")}),
            (std::vector<bool>{false, false, true}));
}

#ifdef _WIN32
// A share is the volume of a network path: its free space is asked of
// \\server\share\, and a rename works only within the one share.
TEST_F(Platform, WindowsDrivesAreTheirLettersOrShares) {
  const std::pair<const char*, const char*> roots[] = {
      {"C:\\x\\y", "C:\\"}, {"C:", "C:"}, {"\\\\server\\share\\dir\\a.tvx", "\\\\server\\share\\"},
      {"\\\\server\\share\\a.tvx", "\\\\server\\share\\"}, {"\\\\server\\share", "\\\\server\\share\\"},
      {"//server/share/dir/a.tvx", "//server/share/"},
  };
  for (const auto& [path, root] : roots) EXPECT_EQ(os.DriveRoot(path), root) << path;

  const char* const share = "\\\\server\\share\\a.tvx";
  const std::tuple<const char*, const char*, bool> pairs[] = {
      {"c:\\one", "C:\\two", true}, {"C:\\one", "D:\\one", false}, {share, "\\\\SERVER\\Share\\dir\\a___", true},
      {share, "//server/share/a.tvxnew", true}, {share, "\\\\server\\other\\a.tvx", false},
      {share, "\\\\elsewhere\\share\\a.tvx", false}, {share, "C:\\Temp\\tvx1.tmp", false},
      {share, "\\Temp\\tvx1.tmp", false},
  };
  for (const auto& [a, b, same] : pairs) {  // asked both ways
    EXPECT_EQ(std::make_pair(os.SameDrive(a, b), os.SameDrive(b, a)), std::make_pair(same, same)) << a << " and " << b;
  }
}

// Where MoveFileExA does not work (Windows 95/98/ME) the old file goes aside
// first, and comes back when the new one cannot take its name.
TEST_F(Platform, WindowsReplacingWithoutMoveFileExKeepsTheOldFileOnFailure) {
  ASSERT_TRUE(WriteFileBytes(dir.File("old"), "old"));
  ASSERT_TRUE(WriteFileBytes(dir.File("new"), "new"));
  ASSERT_TRUE(WriteFileBytes(dir.File("newer"), "newer"));
  // Braced: moved, then looked at, in this order.
  using Seen = std::tuple<bool, std::string, bool, std::string, bool, bool, bool, std::string>;
  const auto move = [&](const char* from, const char* to) {
    return MoveReplacingWithoutMoveFileEx(dir.File(from), dir.File(to));
  };
  const auto bytes = [&](const char* name) { return ReadFileBytes(dir.File(name)); };
  EXPECT_EQ((Seen{move("missing", "old"), bytes("old"), move("new", "old"), bytes("old"), PathExists(dir.File("new")),
                  PathExists(dir.File("old.tvxold")), move("newer", "fresh"), bytes("fresh")}),
            (Seen{false, "old", true, "new", false, false, true, "newer"}));
}
#else
TEST_F(Platform, PosixDriveRootIsTheNearestExistingFolder) {
  WriteFileBytes(dir.File("file"), "x");
  const std::pair<std::string, std::string> roots[] = {
      {dir.path(), dir.path()},           {dir.File("file"), dir.path()}, {dir.File("missing/deeper/"), dir.path()},
      {"/no_such_tvx_folder/x", "/"},     {"no_such_tvx_folder/x", "."},  {"", ""},
  };
  for (const auto& r : roots) EXPECT_EQ(os.DriveRoot(r.first), r.second) << r.first;
  EXPECT_FALSE(os.SameDrive(dir.path(), "/proc"));
  EXPECT_FALSE(os.IsRemovableDrive("/proc"));
}
#endif

TEST_F(Platform, FreeBytesAreTheVolumesTotalFreeSpace) {
  const int64_t reported = os.VolumeFreeBytes(dir.path() + kPathSeparator);
  const auto expected = static_cast<int64_t>(fs::space(dir.path()).free);
  EXPECT_GT(reported, 0);
  // Other processes write meanwhile; a wrong unit or a 32-bit overflow is far off.
  EXPECT_NEAR(static_cast<double>(reported), static_cast<double>(expected), 1e9);
}

// On POSIX a backslash and a colon are valid name characters.
TEST(PlatformText, SeparatorsOfThePlatform) {
  std::string separators;
  for (char c : {'/', '\\', ':', 'a'}) separators += IsPathSeparator(c) ? std::string(1, c) : "";
  EXPECT_EQ(separators, kPathSeparator == '/' ? "/" : "/\\:");
}

// --- changes to the file system -------------------------------------------------

// Made twice, a folder is there; a file, a missing parent, a folder to remove
// and a file removed before are refused (the answers in the order asked). A
// move replaces its target; one from a missing file leaves it.
TEST_F(Platform, MakeAndRemoveRefuseTheWrongKindAndMoveReplacingReplacesTheTargetOrLeavesIt) {
  WriteFileBytes(dir.File("new"), "new");
  WriteFileBytes(dir.File("old"), "old contents");
  using Seen = std::tuple<MoveOutcome, std::string, bool, MoveOutcome, std::string>;  // braced: in this order
  EXPECT_EQ((Seen{os.MoveReplacing(dir.File("new"), dir.File("old")), ReadFileBytes(dir.File("old")),
                  os.FileExists(dir.File("new")), os.MoveReplacing(dir.File("missing"), dir.File("old")),
                  ReadFileBytes(dir.File("old"))}),
            (Seen{MoveOutcome::kMoved, "new", false, MoveOutcome::kFailed, "new"}));
  WriteFileBytes(dir.File("file"), "x");
  const std::string sub = dir.File("sub"), file = dir.File("file"), orphan = dir.File("none") + kPathSeparator + "sub";
  const std::vector<bool> answers = {os.MakeDirectory(sub),    os.DirectoryExists(sub), os.MakeDirectory(sub),
                                     os.MakeDirectory(file),   os.MakeDirectory(orphan), os.RemoveFile(sub),
                                     os.RemoveFile(file),      os.RemoveFile(file)};
  EXPECT_EQ(answers, (std::vector<bool>{true, true, true, false, false, false, true, false}));
}

// --- one update at a time ---------------------------------------------------------

// A second holder is another thread, as another process would be (a mutex
// lets its owner in again, and only its owner lets it go).
TEST_F(Platform, ASecondHolderWaitsThenHoldsTheFileThatTookTheFirstOnesPlace) {
  using Outcome = UpdateLock::Outcome;
  const std::string path = dir.File("a.tvx");
  ASSERT_TRUE(WriteFileBytes(path, "old"));
  Outcome outcome = Outcome::kUnavailable;
  std::unique_ptr<SystemLock> first = os.LockForUpdate(path, 0, &outcome);
  ASSERT_EQ(outcome, Outcome::kHeld);
  EXPECT_TRUE(first->identity() == os.FileIdentityOf(path));
  // What a lock taken on another thread gets.
  const auto onAnotherThread = [](const std::function<void(Outcome*)>& lock) {
    Outcome seen = Outcome::kHeld;
    test::OnThreads(2, [&](int other) { if (other) lock(&seen); });
    return seen;
  };
  EXPECT_EQ(onAnotherThread([&](Outcome* busy) { os.LockForUpdate(path, 50, busy); }), Outcome::kBusy);

  Outcome later = Outcome::kUnavailable;
  FileIdentity held;
  bool replaced = false;
  test::OnThreads(2, [&](int waiter) {
    if (waiter) {
      held = os.LockForUpdate(path, 5000, &later)->identity();
      return;
    }
#ifdef _WIN32
    ::Sleep(150);  // the waiter waits for the old file by now
#else
    ::usleep(150 * 1000);
#endif
    replaced = WriteFileBytes(dir.File("new"), "the new archive") &&
               os.MoveReplacing(dir.File("new"), path) == MoveOutcome::kMoved;
    first.reset();
  });
  ASSERT_TRUE(replaced) << "a held archive could not be replaced";
  EXPECT_EQ(later, Outcome::kHeld);
  EXPECT_TRUE(held == os.FileIdentityOf(path)) << "the waiter holds the replaced file, not the new one";

  // A name not made yet: a second creation waits as well.
  std::unique_ptr<SystemLock> name = os.LockNameForCreation(dir.File("b.tvx"), 0, &outcome);
  ASSERT_EQ(outcome, Outcome::kHeld);
  EXPECT_EQ(onAnotherThread([&](Outcome* busy) { os.LockNameForCreation(dir.File("b.tvx"), 50, busy); }),
            Outcome::kBusy);
  // Another new archive in the same folder does not wait for it.
  os.LockNameForCreation(dir.File("c.tvx"), 0, &outcome);
  EXPECT_EQ(outcome, Outcome::kHeld) << "a long creation keeps others in its folder from being made";
}

#ifndef _WIN32
// A drop folder (write and search, no read): a file can be renamed into it
// although the folder itself cannot be opened to sync it.
TEST_F(Platform, AFolderThatCannotBeReadStillSyncsWhatWasRenamedIntoIt) {
  const std::string folder = dir.File("drop");
  fs::create_directories(folder);
  ASSERT_TRUE(WriteFileBytes(folder + "/a.tvx", "archive"));
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0333), 0);
  const test::ChildOutcome child = test::RunInChild([&] {  // root reads any folder: the check runs as nobody
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
    if (access(folder.c_str(), W_OK | X_OK) != 0) return 2;  // the temporary folder is private
    return os.SyncFolderOf(folder + "/a.tvx") ? 0 : 1;
  });
  chmod(folder.c_str(), 0755);
  ASSERT_TRUE(child.exited);
  if (child.exitCode == 2) GTEST_SKIP() << "no other user can reach a temporary folder here";
  EXPECT_EQ(child.exitCode, 0) << "an update into a drop folder would be reported as failed";
}
#endif

// --- the fault-injecting system of the tests -------------------------------------
// The fault sweeps rely on which calls it counts and fails, over this
// machine's system.

class SystemFaults : public ::testing::Test {
 protected:
  std::unique_ptr<SystemFile> Open(const std::string& name, File::Mode mode, const test::FaultPlan& plan) {
    std::unique_ptr<SystemFile> file = faults_.OpenFile(dir_.File(name), mode, nullptr, nullptr);
    faults_.SetPlan(plan);
    return file;
  }
  test::FaultySystem faults_;
  TempDir dir_;
};

std::vector<uint64_t> g_observed;

TEST_F(SystemFaults, FailOnceFailsExactlyTheNthWrite) {
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kCreateWrite, test::FaultPlan());
  ASSERT_TRUE(f);
  f->Write("-", 1);  // before the plan: not part of its count
  ASSERT_EQ(f->Seek(0, kFromBegin), 0u);  // "a" overwrites it
  faults_.SetPlan({3, 0, true});
  EXPECT_EQ(faults_.MutatingCalls(), 0u);
  for (const char* c : {"a", "b", "c", "d"}) EXPECT_EQ(f->Write(c, 1), *c == 'c' ? 0u : 1u) << c;
  f.reset();
  EXPECT_EQ(ReadFileBytes(dir_.File("a")), "abd");
}

// The observer sees each mutating call before it happens, the failed ones too.
TEST_F(SystemFaults, EveryMutatingCallFailsFromTheNthOnAndIsObserved) {
  WriteFileBytes(dir_.File("from"), "from");
  WriteFileBytes(dir_.File("to"), "to");
  g_observed.clear();
  std::unique_ptr<SystemFile> f =
      Open("a", File::Mode::kReadWrite, {2, 0, false, [](uint64_t index) { g_observed.push_back(index); }});
  ASSERT_TRUE(f);
  // Braced: called in this order; seeks are not counted.
  using Answers = std::tuple<uint32_t, uint32_t, bool, IoErrorKind, MoveOutcome, bool, bool, uint32_t, IoErrorKind>;
  EXPECT_EQ((Answers{f->Write("abc", 3), f->Seek(1, kFromBegin), f->SetEndHere(), f->LastError().kind,
                     faults_.MoveReplacing(dir_.File("from"), dir_.File("to")),
                     faults_.MoveToFreeName(dir_.File("from"), dir_.File("free")), f->Flush(), f->Write("x", 1),
                     f->LastError().kind}),
            (Answers{3, 1, false, IoErrorKind::kIo, MoveOutcome::kFailed, false, false, 0, IoErrorKind::kDiskFull}));
  EXPECT_EQ(g_observed, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6}));
  // Counted, and nothing reached the disk: the calls, the reads, the size, the move's target, the free name.
  EXPECT_EQ(std::make_tuple(faults_.MutatingCalls(), faults_.ReadCalls(), f->Size(), ReadFileBytes(dir_.File("to")),
                            PathExists(dir_.File("free"))),
            std::make_tuple(uint64_t{6}, uint64_t{0}, 3u, std::string("to"), false));
  faults_.ClearPlan();
  EXPECT_TRUE(f->SetEndHere());
  EXPECT_EQ(f->Size(), 1u);
}

TEST_F(SystemFaults, ReadsAreCountedAndTheNthFails) {
  WriteFileBytes(dir_.File("a"), "0123456789");
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kRead, {0, 2, true});
  ASSERT_TRUE(f);
  char buf[4] = {};
  // Braced: in this order; the failed read consumed nothing.
  using Answers = std::tuple<uint32_t, uint32_t, IoErrorKind, uint32_t, std::string>;
  EXPECT_EQ((Answers{f->Read(buf, 2), f->Read(buf, 2), f->LastError().kind, f->Read(buf, 2), std::string(buf, 2)}),
            (Answers{2, 0, IoErrorKind::kIo, 2, "23"}));
  EXPECT_EQ(std::make_pair(faults_.ReadCalls(), faults_.MutatingCalls()), std::make_pair(uint64_t{3}, uint64_t{0}));
}

}  // namespace
}  // namespace tvx::platform
