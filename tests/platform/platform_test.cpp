// Tests of the platform layer. They run natively on Linux and, for the Windows
// build, under Wine; expectations that differ between the two are marked.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"
#include "support/test_system.h"

#ifdef _WIN32
#include "support/windows_headers.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utime.h>

#include <thread>
#endif

namespace tvx::platform {
namespace {

namespace fs = std::filesystem;
using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// Sets the file's last-write time to the given local date and time.
bool SetLocalModifiedTime(const std::string& path, int year, int month, int day, int hour,
                          int minute, int second) {
#ifdef _WIN32
  // The inverse of what FileDosDateTime does (FileTimeToLocalFileTime).
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  FILETIME localTime, utc;
  if (!SystemTimeToFileTime(&local, &localTime) || !LocalFileTimeToFileTime(&localTime, &utc)) {
    return false;
  }
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
  CloseHandle(h);
  return ok;
#else
  const std::time_t t = test::LocalTime(year, month, day, hour, minute, second);
  const struct utimbuf times = {t, t};
  return t != static_cast<std::time_t>(-1) && utime(path.c_str(), &times) == 0;
#endif
}

// Whether the native handle of a file once open has been released.
bool HandleReleased(intptr_t handle, const std::string& path) {
#ifdef _WIN32
  (void)handle;
  return RemoveFile(path);  // an open handle without FILE_SHARE_DELETE blocks deletion
#else
  (void)path;
  return fcntl(static_cast<int>(handle), F_GETFD) == -1;
#endif
}

// --- File ---------------------------------------------------------------------

TEST(PlatformFileOpen, CreateWriteEmptiesAnExistingFile) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "old contents");
  File f = File::Open(dir.File("a"), File::Mode::kCreateWrite);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Size(), 0u);
  EXPECT_EQ(f.Write("new", 3), 3u);
  f = File();
  EXPECT_EQ(ReadFileBytes(dir.File("a")), "new");
}

TEST(PlatformFileOpen, ReadWriteKeepsAnExistingFile) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "0123456789");
  File f = File::Open(dir.File("a"), File::Mode::kReadWrite);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Size(), 10u);
  EXPECT_EQ(f.Seek(4, kFromBegin), 4u);
  EXPECT_EQ(f.Write("ab", 2), 2u);
  char buf[4] = {};
  EXPECT_EQ(f.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "6789");
  f = File();
  EXPECT_EQ(ReadFileBytes(dir.File("a")), "0123ab6789");
}

TEST(PlatformFileOpen, ReadWriteCreatesAMissingFile) {
  TempDir dir;
  File f = File::Open(dir.File("new"), File::Mode::kReadWrite);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_TRUE(FileExists(dir.File("new")));
  EXPECT_EQ(f.Size(), 0u);
}

TEST(PlatformFileOpen, NoModeOpensADirectory) {
  TempDir dir;
  EXPECT_FALSE(File::Open(dir.path(), File::Mode::kRead).IsOpen());
  EXPECT_FALSE(File::Open(dir.path(), File::Mode::kCreateWrite).IsOpen());
  EXPECT_FALSE(File::Open(dir.path(), File::Mode::kReadWrite).IsOpen());
  EXPECT_TRUE(DirectoryExists(dir.path()));
}

TEST(PlatformFileOpen, MissingFileIsNotOpenAndEveryCallFails) {
  TempDir dir;
  File f = File::Open(dir.File("missing"), File::Mode::kRead);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.NativeHandle(), -1);
  char buf[4] = {};
  EXPECT_EQ(f.Read(buf, 4), 0u);
  EXPECT_EQ(f.Write("x", 1), 0u);
  EXPECT_EQ(f.Seek(0, kFromBegin), kAllBits);
  EXPECT_EQ(f.Size(), 0u);
  EXPECT_FALSE(f.SetEndHere());
  EXPECT_FALSE(FileExists(dir.File("missing")));
}

TEST(PlatformFileOpen, ModesRefuseTheOtherDirection) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "abc");
  File reader = File::Open(dir.File("a"), File::Mode::kRead);
  EXPECT_EQ(reader.Write("x", 1), 0u);
  reader = File();
  File writer = File::Open(dir.File("a"), File::Mode::kCreateWrite);
  char buf[4] = {};
  EXPECT_EQ(writer.Read(buf, 4), 0u);
}

#ifdef _WIN32
TEST(PlatformFileOpen, WindowsSharesReadingOnly) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "abc");
  File first = File::Open(dir.File("a"), File::Mode::kRead);
  EXPECT_TRUE(File::Open(dir.File("a"), File::Mode::kRead).IsOpen());
  EXPECT_FALSE(File::Open(dir.File("a"), File::Mode::kCreateWrite).IsOpen());
  first = File();  // our own reader would block the writer, too
  first = File::Open(dir.File("a"), File::Mode::kReadWrite);
  ASSERT_TRUE(first.IsOpen());
  EXPECT_FALSE(File::Open(dir.File("a"), File::Mode::kRead).IsOpen());
}
#endif

TEST(PlatformFileOwnership, ReplacedAndDestroyedFilesAreClosed) {
  TempDir dir;
  File a = File::Open(dir.File("a"), File::Mode::kCreateWrite);
  File b = File::Open(dir.File("b"), File::Mode::kCreateWrite);
  ASSERT_TRUE(a.IsOpen());
  const intptr_t old = a.NativeHandle();
  const intptr_t moved = b.NativeHandle();
  a = std::move(b);
  EXPECT_FALSE(b.IsOpen());
  EXPECT_EQ(a.NativeHandle(), moved);
  EXPECT_TRUE(HandleReleased(old, dir.File("a")));
  {
    File c(std::move(a));
    EXPECT_FALSE(a.IsOpen());
  }
  EXPECT_TRUE(HandleReleased(moved, dir.File("b")));
}

TEST(PlatformFileIo, ReadIsShortOnlyAtTheEnd) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "0123456789");
  File f = File::Open(dir.File("a"), File::Mode::kRead);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 4), 4u);
  EXPECT_EQ(f.Read(buf, 16), 6u);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(f.Read(buf, 16), 0u);
}

TEST(PlatformFileIo, SeekBeforeTheStartFailsAndKeepsThePosition) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "0123456789");
  File f = File::Open(dir.File("a"), File::Mode::kRead);
  EXPECT_EQ(f.Seek(-10, kFromEnd), 0u);
  EXPECT_EQ(f.Seek(20, kFromBegin), 20u);  // beyond the end is allowed
  ASSERT_EQ(f.Seek(2, kFromBegin), 2u);
  ASSERT_EQ(f.Seek(2, kFromCurrent), 4u);
  EXPECT_EQ(f.Seek(-1, kFromBegin), kAllBits);
  EXPECT_EQ(f.Seek(-5, kFromCurrent), kAllBits);
  EXPECT_EQ(f.Seek(-11, kFromEnd), kAllBits);
  EXPECT_EQ(f.Seek(0, kFromCurrent), 4u);
}

TEST(PlatformFileIo, SeekBeyond32BitsFailsAndKeepsThePosition) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "0123456789");
  File f = File::Open(dir.File("a"), File::Mode::kRead);
  ASSERT_EQ(f.Seek(0x7FFFFFFF, kFromBegin), 0x7FFFFFFFu);
  EXPECT_EQ(f.Seek(0x7FFFFFFF, kFromCurrent), 0xFFFFFFFEu);  // the last valid position
  EXPECT_EQ(f.Seek(1, kFromCurrent), kAllBits);               // would be the failure value
  EXPECT_EQ(f.Seek(0x7FFFFFFF, kFromCurrent), kAllBits);
  EXPECT_EQ(f.Seek(0, kFromCurrent), 0xFFFFFFFEu);
}

TEST(PlatformFileIo, SetEndHereCutsAndExtends) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "0123456789");
  File f = File::Open(dir.File("a"), File::Mode::kReadWrite);
  ASSERT_EQ(f.Seek(4, kFromBegin), 4u);
  EXPECT_TRUE(f.SetEndHere());
  EXPECT_EQ(f.Size(), 4u);
  ASSERT_EQ(f.Seek(100, kFromBegin), 100u);
  EXPECT_TRUE(f.SetEndHere());
  EXPECT_EQ(f.Size(), 100u);
  f = File();
  EXPECT_EQ(ReadFileBytes(dir.File("a")).substr(0, 5), std::string("0123\0", 5));
}

#ifndef _WIN32
TEST(PlatformFileIo, WriteToAFullDiskReportsNothingWritten) {
  File f = File::Open("/dev/full", File::Mode::kCreateWrite);
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Write("abc", 3), 0u);
}

TEST(PlatformFileIo, WriteStoppedByTheFileSizeLimitReportsTheBytesThatMadeIt) {
  TempDir dir;
  File f = File::Open(dir.File("a"), File::Mode::kCreateWrite);
  ASSERT_TRUE(f.IsOpen());
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 100;
  void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::vector<char> data(300, 'x');
  const uint32_t written = f.Write(data.data(), 300);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedHandler);
  EXPECT_EQ(written, 100u);
  EXPECT_EQ(f.Size(), 100u);
}
#endif

// --- file-system questions ----------------------------------------------------

TEST(PlatformNames, ExistenceTellsFilesFromDirectories) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  EXPECT_TRUE(FileExists(dir.File("file")));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.File("missing")));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(DirectoryExists(dir.File("file")));
  EXPECT_FALSE(DirectoryExists(dir.File("missing")));
}

TEST(PlatformNames, SizesByName) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "12345");
  EXPECT_EQ(FileSizeByName(dir.File("file")), 5u);
  EXPECT_EQ(FileSizeByName(dir.File("missing")), 0u);
  EXPECT_EQ(FileSizeByName(dir.path()), 0u);
  EXPECT_EQ(FileSize64(dir.File("file")), 5);
  EXPECT_EQ(FileSize64(dir.File("missing")), -1);
  EXPECT_EQ(FileSize64(dir.path()), -1);
}

TEST(PlatformDosTime, FileTimeIsLocalTimeInDosLayout) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  ASSERT_TRUE(SetLocalModifiedTime(dir.File("file"), 2005, 6, 15, 12, 0, 0));
  EXPECT_EQ(FileDosDateTime(dir.File("file")), 0x32CF6000u);
  EXPECT_EQ(ModifiedDosDateTime(dir.File("file")), 0x32CF6000u);
}

TEST(PlatformDosTime, DirectoriesOnlyHaveAModifiedTime) {
  TempDir dir;
  EXPECT_EQ(FileDosDateTime(dir.path()), kAllBits);
  EXPECT_NE(ModifiedDosDateTime(dir.path()), kAllBits);
  EXPECT_EQ(FileDosDateTime(dir.File("missing")), kAllBits);
  EXPECT_EQ(ModifiedDosDateTime(dir.File("missing")), kAllBits);
}

TEST(PlatformDosTime, YearsOutsideTheDosRangeFail) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  ASSERT_TRUE(SetLocalModifiedTime(dir.File("file"), 1979, 12, 31, 23, 59, 58));
  EXPECT_EQ(FileDosDateTime(dir.File("file")), kAllBits);
  ASSERT_TRUE(SetLocalModifiedTime(dir.File("file"), 1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(FileDosDateTime(dir.File("file")), 0x00210000u);  // month 1, day 1
}

TEST(PlatformDosTime, CurrentTimeBracketsANewFile) {
  TempDir dir;
  const uint32_t before = CurrentDosDateTime();
  WriteFileBytes(dir.File("file"), "x");
  const uint32_t stamped = FileDosDateTime(dir.File("file"));
  const uint32_t after = CurrentDosDateTime();
  ASSERT_NE(before, kAllBits);
  EXPECT_LE(before, stamped);
  EXPECT_LE(stamped, after);
}

TEST(PlatformTemp, TempDirectoryEndsWithTheSeparatorAndExists) {
  const std::string temp = TempDirectory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), kPathSeparator);
  EXPECT_TRUE(DirectoryExists(temp));
}

TEST(PlatformTemp, CreateTempFileMakesANewEmptyFileWithThePrefix) {
  TempDir dir;
  const std::string first = CreateTempFile(dir.path(), "tvxabc").path;
  const std::string second = CreateTempFile(dir.path(), "tvxabc").path;
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(FileExists(first));
  EXPECT_EQ(FileSizeByName(first), 0u);
  EXPECT_EQ(first.substr(0, dir.path().size() + 4), dir.File("tvx"));
}

TEST(PlatformTemp, CreateTempFileInAMissingFolderFails) {
  TempDir dir;
  const PathResult made = CreateTempFile(dir.File("missing"), "tvx");
  EXPECT_EQ(made.path, "");
  EXPECT_TRUE(made.failed());
#ifndef _WIN32
  EXPECT_EQ(made.error.kind, IoErrorKind::kNotFound);  // the folder is missing, not the disk full
#endif
}

// --- drives --------------------------------------------------------------------

TEST(PlatformDrive, SameDriveNeedsTwoPaths) {
  TempDir dir;
  EXPECT_FALSE(SameDrive("", dir.path()));
  EXPECT_FALSE(SameDrive(dir.path(), ""));
  EXPECT_TRUE(SameDrive(dir.File("a"), dir.File("not") + kPathSeparator + "yet"));
}

#ifdef _WIN32
TEST(PlatformDrive, WindowsDrivesAreTheirLetters) {
  EXPECT_TRUE(SameDrive("c:\\one", "C:\\two"));
  EXPECT_FALSE(SameDrive("C:\\one", "D:\\one"));
  EXPECT_EQ(DriveRoot("C:\\x\\y"), "C:\\");
  EXPECT_EQ(DriveRoot("C:"), "C:");
}

// A share is the volume of a network path: its free space is asked of
// \\server\share\, and a rename works only within the one share.
TEST(PlatformDrive, WindowsNetworkPathsAreOnTheirShare) {
  const struct {
    const char* path;
    const char* root;
  } roots[] = {
      {"\\\\server\\share\\dir\\a.tvx", "\\\\server\\share\\"},
      {"\\\\server\\share\\a.tvx", "\\\\server\\share\\"},
      {"\\\\server\\share", "\\\\server\\share\\"},
      {"//server/share/dir/a.tvx", "//server/share/"},
  };
  for (const auto& r : roots) EXPECT_EQ(DriveRoot(r.path), r.root) << r.path;

  const struct {
    const char* a;
    const char* b;
    bool same;
  } pairs[] = {
      {"\\\\server\\share\\a.tvx", "\\\\SERVER\\Share\\dir\\a___", true},
      {"\\\\server\\share\\a.tvx", "//server/share/a.tvxnew", true},
      {"\\\\server\\share\\a.tvx", "\\\\server\\other\\a.tvx", false},
      {"\\\\server\\share\\a.tvx", "\\\\elsewhere\\share\\a.tvx", false},
      {"\\\\server\\share\\a.tvx", "C:\\Temp\\tvx1.tmp", false},
      {"\\\\server\\share\\a.tvx", "\\Temp\\tvx1.tmp", false},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(SameDrive(p.a, p.b), p.same) << p.a << " and " << p.b;
    EXPECT_EQ(SameDrive(p.b, p.a), p.same) << p.b << " and " << p.a;
  }
}

// Where MoveFileExA does not work (Windows 95/98/ME) the old file goes aside
// first, and comes back when the new one cannot take its name.
TEST(PlatformChanges, WindowsReplacingWithoutMoveFileExKeepsTheOldFileOnFailure) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("old"), "old"));
  ASSERT_TRUE(WriteFileBytes(dir.File("new"), "new"));
  EXPECT_FALSE(MoveReplacingWithoutMoveFileEx(dir.File("missing"), dir.File("old")));
  EXPECT_EQ(ReadFileBytes(dir.File("old")), "old");
  EXPECT_TRUE(MoveReplacingWithoutMoveFileEx(dir.File("new"), dir.File("old")));
  EXPECT_EQ(ReadFileBytes(dir.File("old")), "new");
  EXPECT_FALSE(PathExists(dir.File("new")));
  EXPECT_FALSE(PathExists(dir.File("old.tvxold")));
  ASSERT_TRUE(WriteFileBytes(dir.File("newer"), "newer"));
  EXPECT_TRUE(MoveReplacingWithoutMoveFileEx(dir.File("newer"), dir.File("fresh")));
  EXPECT_EQ(ReadFileBytes(dir.File("fresh")), "newer");
}
#else
TEST(PlatformDrive, PosixDriveRootIsTheNearestExistingFolder) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  EXPECT_EQ(DriveRoot(dir.path()), dir.path());
  EXPECT_EQ(DriveRoot(dir.File("file")), dir.path());
  EXPECT_EQ(DriveRoot(dir.File("missing/deeper/")), dir.path());
  EXPECT_EQ(DriveRoot("/no_such_tvx_folder/x"), "/");
  EXPECT_EQ(DriveRoot("no_such_tvx_folder/x"), ".");
  EXPECT_EQ(DriveRoot(""), "");
}

TEST(PlatformDrive, PosixSameDriveComparesDevices) {
  TempDir dir;
  EXPECT_FALSE(SameDrive(dir.path(), "/proc"));
  EXPECT_FALSE(IsRemovableDrive("/proc"));
}
#endif

TEST(PlatformDrive, FreeBytesAreTheVolumesTotalFreeSpace) {
  TempDir dir;
  const int64_t reported = VolumeFreeBytes(dir.path() + kPathSeparator);
  const auto expected = static_cast<int64_t>(fs::space(dir.path()).free);
  EXPECT_GT(reported, 0);
  // Other processes write meanwhile; a wrong unit or a 32-bit overflow is far off.
  EXPECT_NEAR(static_cast<double>(reported), static_cast<double>(expected), 1e9);
}

TEST(PlatformText, CompareTextNoCaseIgnoresCaseAndOrders) {
  EXPECT_EQ(CompareTextNoCase("Readme.TXT", "README.txt"), 0);
  EXPECT_LT(CompareTextNoCase("apple", "Banana"), 0);
  EXPECT_GT(CompareTextNoCase("Banana", "apple"), 0);
  EXPECT_LT(CompareTextNoCase("abc", "ABCD"), 0);
}

TEST(PlatformText, SeparatorsOfThePlatform) {
  EXPECT_TRUE(IsPathSeparator('/'));
  EXPECT_TRUE(IsPathSeparator(kPathSeparator));
#ifdef _WIN32
  EXPECT_TRUE(IsPathSeparator(':'));
#else
  EXPECT_FALSE(IsPathSeparator('\\'));  // a valid name character here
  EXPECT_FALSE(IsPathSeparator(':'));
#endif
}

// --- changes to the file system -------------------------------------------------

TEST(PlatformChanges, MoveReplacingReplacesTheTarget) {
  TempDir dir;
  WriteFileBytes(dir.File("new"), "new");
  WriteFileBytes(dir.File("old"), "old contents");
  EXPECT_TRUE(MoveReplacing(dir.File("new"), dir.File("old")));
  EXPECT_EQ(ReadFileBytes(dir.File("old")), "new");
  EXPECT_FALSE(FileExists(dir.File("new")));
}

TEST(PlatformChanges, FailedMoveLeavesTheTarget) {
  TempDir dir;
  WriteFileBytes(dir.File("old"), "old");
  EXPECT_FALSE(MoveReplacing(dir.File("missing"), dir.File("old")));
  EXPECT_EQ(ReadFileBytes(dir.File("old")), "old");
}

TEST(PlatformChanges, MakeDirectoryAcceptsAnExistingDirectoryOnly) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  EXPECT_TRUE(MakeDirectory(dir.File("sub")));
  EXPECT_TRUE(DirectoryExists(dir.File("sub")));
  EXPECT_TRUE(MakeDirectory(dir.File("sub")));
  EXPECT_FALSE(MakeDirectory(dir.File("file")));
  EXPECT_FALSE(MakeDirectory(dir.File("missing") + kPathSeparator + "sub"));
}

TEST(PlatformChanges, RemovalsRefuseTheWrongKind) {
  TempDir dir;
  WriteFileBytes(dir.File("file"), "x");
  ASSERT_TRUE(MakeDirectory(dir.File("sub")));
  WriteFileBytes(dir.File("sub") + kPathSeparator + "inner", "x");
  EXPECT_FALSE(RemoveFile(dir.File("sub")));
  EXPECT_FALSE(RemoveEmptyDirectory(dir.File("sub")));  // not empty
  EXPECT_FALSE(RemoveEmptyDirectory(dir.File("file")));
  EXPECT_TRUE(RemoveFile(dir.File("sub") + kPathSeparator + "inner"));
  EXPECT_TRUE(RemoveEmptyDirectory(dir.File("sub")));
  EXPECT_TRUE(RemoveFile(dir.File("file")));
  EXPECT_FALSE(RemoveFile(dir.File("file")));
}

// --- why a file operation failed ------------------------------------------------

// The kinds decide between "damaged" and "read error" further up, so each
// must come from what the system said, not from a guess.
// A second holder, as another process would be: a thread of its own (the
// Win32-thread compilers have no std::thread; a mutex lets its owner in again).
class OtherThread {
 public:
  explicit OtherThread(std::function<void()> body) : body_(std::move(body)) {
#ifdef _WIN32
    handle_ = ::CreateThread(nullptr, 0, &OtherThread::Run, this, 0, nullptr);
#else
    thread_ = std::thread(body_);
#endif
  }
  ~OtherThread() {
#ifdef _WIN32
    ::WaitForSingleObject(handle_, INFINITE);
    ::CloseHandle(handle_);
#else
    thread_.join();
#endif
  }

 private:
#ifdef _WIN32
  static DWORD WINAPI Run(void* self) {
    static_cast<OtherThread*>(self)->body_();
    return 0;
  }
  HANDLE handle_ = nullptr;
#else
  std::thread thread_;
#endif
  std::function<void()> body_;
};

void SleepBriefly() {
#ifdef _WIN32
  ::Sleep(150);
#else
  ::usleep(150 * 1000);
#endif
}

TEST(PlatformUpdateLock, ASecondHolderWaitsThenHoldsTheFileThatTookTheFirstOnesPlace) {
  TempDir dir;
  const std::string path = dir.File("a.tvx");
  ASSERT_TRUE(WriteFileBytes(path, "old"));
  UpdateLock::Outcome outcome = UpdateLock::Outcome::kUnavailable;
  UpdateLock first = UpdateLock::Acquire(path, 0, &outcome);
  ASSERT_EQ(outcome, UpdateLock::Outcome::kHeld);
  EXPECT_TRUE(first.identity() == FileIdentityOf(path));
  UpdateLock::Outcome busy = UpdateLock::Outcome::kHeld;
  { OtherThread other([&] { UpdateLock::Acquire(path, 50, &busy); }); }
  EXPECT_EQ(busy, UpdateLock::Outcome::kBusy);

  UpdateLock::Outcome later = UpdateLock::Outcome::kUnavailable;
  FileIdentity held;
  {
    OtherThread waiter([&] { held = UpdateLock::Acquire(path, 5000, &later).identity(); });
    SleepBriefly();  // the waiter waits for the old file by now
    ASSERT_TRUE(WriteFileBytes(dir.File("new"), "the new archive"));
    ASSERT_TRUE(MoveReplacing(dir.File("new"), path)) << "a held archive could not be replaced";
    first = UpdateLock();
  }
  EXPECT_EQ(later, UpdateLock::Outcome::kHeld);
  EXPECT_TRUE(held == FileIdentityOf(path)) << "the waiter holds the replaced file, not the new one";

  // A name not made yet: a second creation waits as well.
  UpdateLock name = UpdateLock::AcquireName(dir.File("b.tvx"), 0, &outcome);
  ASSERT_EQ(outcome, UpdateLock::Outcome::kHeld);
  { OtherThread other([&] { UpdateLock::AcquireName(dir.File("b.tvx"), 50, &busy); }); }
  EXPECT_EQ(busy, UpdateLock::Outcome::kBusy);
}

TEST(OsSystemErrors, EachFailureSaysWhatFailed) {
  TempDir dir;
  System& os = OsSystem();
  IoError error;
  EXPECT_EQ(os.OpenFile(dir.File("missing"), File::Mode::kRead, nullptr, &error), nullptr);
  EXPECT_EQ(error.kind, IoErrorKind::kNotFound);
  EXPECT_NE(error.osCode, 0);

  ASSERT_TRUE(WriteFileBytes(dir.File("short"), "abc"));
  std::unique_ptr<SystemFile> file = os.OpenFile(dir.File("short"), File::Mode::kRead, nullptr, &error);
  ASSERT_NE(file, nullptr);
  char buffer[8];
  EXPECT_EQ(file->Read(buffer, 8), 3u);
  EXPECT_EQ(file->LastError().kind, IoErrorKind::kEnd) << "the end of the file is no system error";
  ASSERT_EQ(file->Seek(0, kFromBegin), 0u);
  EXPECT_EQ(file->Read(buffer, 3), 3u);
  EXPECT_FALSE(file->LastError().failed()) << "a complete read forgets the failure before it";
  EXPECT_EQ(file->Write("x", 1), 0u);
  EXPECT_TRUE(file->LastError().failed()) << "writing a file opened for reading";

#ifndef _WIN32
  // /dev/full answers every write with ENOSPC, as a full disk does.
  std::unique_ptr<SystemFile> full = os.OpenFile("/dev/full", File::Mode::kCreateWrite, nullptr, &error);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->Write("x", 1), 0u);
  EXPECT_EQ(full->LastError().kind, IoErrorKind::kDiskFull);
#endif
}

// --- the fault-injecting system of the tests -------------------------------------
// The fault sweeps rely on which calls it counts and fails, over this
// machine's system.

class SystemFaults : public ::testing::Test {
 protected:
  std::unique_ptr<SystemFile> Open(const std::string& name, File::Mode mode) {
    return faults_.OpenFile(dir_.File(name), mode, nullptr, nullptr);
  }
  test::FaultySystem faults_;
  TempDir dir_;
};

std::vector<uint64_t> g_observed;

TEST_F(SystemFaults, FailOnceFailsExactlyTheNthWrite) {
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kCreateWrite);
  ASSERT_TRUE(f);
  f->Write("-", 1);  // before the plan: not part of its count
  ASSERT_EQ(f->Seek(0, kFromBegin), 0u);  // "a" overwrites it
  test::FaultPlan plan;
  plan.failWriteAt = 3;
  plan.failOnce = true;
  faults_.SetPlan(plan);
  EXPECT_EQ(faults_.MutatingCalls(), 0u);
  EXPECT_EQ(f->Write("a", 1), 1u);
  EXPECT_EQ(f->Write("b", 1), 1u);
  EXPECT_EQ(f->Write("c", 1), 0u);
  EXPECT_EQ(f->Write("d", 1), 1u);
  f.reset();
  EXPECT_EQ(ReadFileBytes(dir_.File("a")), "abd");
}

TEST_F(SystemFaults, EveryMutatingCallFailsFromTheNthOn) {
  WriteFileBytes(dir_.File("from"), "from");
  WriteFileBytes(dir_.File("to"), "to");
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kReadWrite);
  ASSERT_TRUE(f);
  test::FaultPlan plan;
  plan.failWriteAt = 2;
  faults_.SetPlan(plan);
  EXPECT_EQ(f->Write("abc", 3), 3u);
  EXPECT_EQ(f->Seek(1, kFromBegin), 1u);  // seeks are not counted
  EXPECT_FALSE(f->SetEndHere());
  EXPECT_FALSE(faults_.MoveReplacing(dir_.File("from"), dir_.File("to")));
  EXPECT_EQ(faults_.MoveReplacingOnVolume(dir_.File("from"), dir_.File("to")), MoveOutcome::kFailed);
  EXPECT_FALSE(f->Flush());
  EXPECT_EQ(f->Write("x", 1), 0u);
  EXPECT_EQ(faults_.MutatingCalls(), 6u);
  EXPECT_EQ(f->Size(), 3u);
  EXPECT_EQ(ReadFileBytes(dir_.File("to")), "to");
  faults_.ClearPlan();
  EXPECT_TRUE(f->SetEndHere());
  EXPECT_EQ(f->Size(), 1u);
}

TEST_F(SystemFaults, ObserverSeesEachMutatingCallBeforeItHappens) {
  WriteFileBytes(dir_.File("from"), "from");
  g_observed.clear();
  test::FaultPlan plan;
  plan.beforeWrite = [](uint64_t index) { g_observed.push_back(index); };
  faults_.SetPlan(plan);
  {
    std::unique_ptr<SystemFile> f = Open("a", File::Mode::kReadWrite);
    ASSERT_TRUE(f);
    f->Write("abc", 3);
    f->SetEndHere();
  }
  faults_.MoveReplacing(dir_.File("from"), dir_.File("to"));
  EXPECT_EQ(g_observed, (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(faults_.ReadCalls(), 0u);
}

TEST_F(SystemFaults, ReadsAreCountedAndTheNthFails) {
  WriteFileBytes(dir_.File("a"), "0123456789");
  std::unique_ptr<SystemFile> f = Open("a", File::Mode::kRead);
  ASSERT_TRUE(f);
  test::FaultPlan plan;
  plan.failReadAt = 2;
  plan.failOnce = true;
  faults_.SetPlan(plan);
  char buf[4] = {};
  EXPECT_EQ(f->Read(buf, 2), 2u);
  EXPECT_EQ(f->Read(buf, 2), 0u);
  EXPECT_EQ(f->Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "23");  // the failed read consumed nothing
  EXPECT_EQ(faults_.ReadCalls(), 3u);
  EXPECT_EQ(faults_.MutatingCalls(), 0u);
}

}  // namespace
}  // namespace tvx::platform
