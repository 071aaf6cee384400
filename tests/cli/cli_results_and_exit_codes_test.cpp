// tolvex tells what it did not do: paths left out of an add, sources a move
// kept, refusals named before the module is asked. Each case runs the built
// tool.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/test_support.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

using CliResults = CliTest;

TEST_F(CliResults, DeleteOfManyNamesLooksThemUp) {
  if (RunningUnderWine()) GTEST_SKIP() << "times under Wine say nothing about the tool";
  // 5,000 names against 100,000 entries: comparing each name with each entry
  // takes about 5 s; looking them up, a fraction of a second.
  std::vector<RawEntry> entries;
  std::vector<std::string> args{"delete", Archive()};
  for (int i = 0; i < 100000; ++i) {
    entries.push_back({"d/f" + std::to_string(i), "x"});
    if (i % 20 == 0) args.push_back(entries.back().name);
  }
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes(entries)));
  const auto start = std::chrono::steady_clock::now();
  const CliRun del = RunTolvex(args);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(del.exit_code, 0) << del.err;
  EXPECT_TRUE(Contains(del.out, "5000 items deleted")) << del.out;
  EXPECT_LT(seconds, 2.0) << "delete of 5,000 names took " << seconds << " s";
}

#ifndef _WIN32
bool RunningAsRoot() { return geteuid() == 0; }

// A folder whose files cannot be deleted: read-only for a user, a read-only
// mount for root (which may delete anything else).
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& path) : path_(path) { fs::create_directories(path); }
  ~ReadOnlyFolder() {
    if (mounted_) umount(path_.c_str());
    chmod(path_.c_str(), 0755);
  }
  // Creates the files (name, bytes) in the folder, then makes the folder read-only.
  std::string Seal(std::initializer_list<std::pair<std::string, std::string>> files) {
    if (RunningAsRoot()) {
      if (mount("tolvex-test", path_.c_str(), "tmpfs", 0, "size=1m") != 0) return "cannot mount a tmpfs";
      mounted_ = true;
    }
    for (const auto& [name, bytes] : files)
      if (!WriteFileBytes(path_ + "/" + name, bytes)) return "cannot write the file";
    if (RunningAsRoot()) {
      if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return "cannot remount";
    } else if (chmod(path_.c_str(), 0555) != 0) {
      return "cannot chmod";
    }
    return std::string();
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST_F(CliResults, NoRoomOnTheArchivesDriveIsNamedBeforePacking) {
  if (!RunningAsRoot()) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string small = work_.File("small");
  fs::create_directories(small);
  if (mount("tolvex-test", small.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  ASSERT_TRUE(WriteFileBytes(src_.File("big.bin"), NoiseBytes(1 << 20, 2)));
  const CliRun add = RunTolvex({"add", small + "/a.tvx", src_.File("big.bin")});
  umount(small.c_str());
  EXPECT_EQ(add.exit_code, 2);
  EXPECT_TRUE(Contains(add.err, "not enough free space on its drive")) << add.err;
}

// An archive there cannot be written, and a source moved from there stays.
TEST_F(CliResults, AFolderWithoutWritePermissionIsNamedBeforePackingAndAMoveNamesTheSourceItKept) {
  const std::string locked = src_.File("locked"), file = locked + "/kept.txt";
  ReadOnlyFolder folder(locked);
  const std::string why = folder.Seal({{"kept.txt", "keep me"}, {"b.tvx", ArchiveBytes({{"a.txt", "alpha"}})}});
  if (!why.empty()) GTEST_SKIP() << "no read-only folder here: " << why;
  const CliRun into = RunTolvex({"add", locked + "/a.tvx", file});
  EXPECT_EQ(into.exit_code, 2);
  EXPECT_TRUE(Contains(into.err, "its folder is not writable") && !Contains(into.err, "disk full")) << into.err;
  // Delete asks the module first, and names the folder once it failed.
  const CliRun del = RunTolvex({"delete", locked + "/b.tvx", "a.txt"});
  EXPECT_EQ(del.exit_code, 1);
  EXPECT_TRUE(Contains(del.err, "its folder is not writable")) << del.err;
  const CliRun move = RunTolvex({"add", Archive(), file, "--move"});
  EXPECT_EQ(move.exit_code, 1) << move.err;
  EXPECT_TRUE(Contains(move.err, "kept " + file + ": could not be deleted")) << move.err;
  EXPECT_EQ(ReadFileBytes(file), "keep me");
  EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " kept.txt\n"));
}

// Output that cannot be written, a temporary folder that is missing or a file.
TEST_F(CliResults, OutputThatCannotBeWrittenAndAWrongTemporaryFolderAreErrors) {
  ASSERT_TRUE(WriteFileBytes(src_.File("f.txt"), "f") && WriteFileBytes(work_.File("plain"), "a file"));
  ASSERT_EQ(RunTolvex({"add", Archive(), src_.File("f.txt")}).exit_code, 0);
  const std::string err = work_.File("err.txt"), missing = work_.File("missing"), plain = work_.File("plain");
  struct Row {
    std::vector<std::string> args;
    std::string out, tmpdir, says;
    int exitCode;
  };
  const Row rows[] = {
      {{"list", Archive()}, "/dev/full", "", "cannot write the output: ", 2},
      {{"list", "--json", Archive()}, "/dev/full", "", "cannot write the output: ", 2},
      {{"test", Archive()}, "/dev/full", "", "cannot write the output: ", 2},
      {{"add", Archive(), src_.File("f.txt")}, "", missing, "TMPDIR names a folder that does not exist: " + missing, 1},
      {{"add", Archive(), src_.File("f.txt")}, "", plain, "TMPDIR names a file, not a folder: " + plain, 1}};
  for (const Row& row : rows) {
    ProgramIo io;
    io.stdoutPath = row.out;
    io.stderrPath = err;
    if (!row.tmpdir.empty()) io.environment = {"TMPDIR=" + row.tmpdir};
    const int pid = StartTolvex(row.args, io);
    ASSERT_GT(pid, 0);
    const ChildOutcome run = WaitForChild(pid);
    EXPECT_TRUE(run.exited && run.exitCode == row.exitCode) << row.says << ": " << run.exitCode;
    EXPECT_TRUE(Contains(ReadFileBytes(err), row.says)) << ReadFileBytes(err);
  }
}
#endif

#ifdef _WIN32
// Another program holding the archive open, sharing nothing or only reading:
// add and delete say so, instead of calling it no archive or a failing disk.
TEST_F(CliResults, AnArchiveInUseByAnotherProgramIsNamedSo) {
  ASSERT_TRUE(WriteFileBytes(src_.File("f.txt"), "f"));
  ASSERT_EQ(RunTolvex({"add", Archive(), src_.File("f.txt")}).exit_code, 0);
  const std::string before = ReadFileBytes(Archive());
  for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
    const HANDLE held = CreateFileA(Archive().c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const CliRun add = RunTolvex({"add", Archive(), src_.File("f.txt")});
    const CliRun del = RunTolvex({"delete", Archive(), "f.txt"});
    CloseHandle(held);
    for (const CliRun& run : {add, del}) {
      EXPECT_NE(run.exit_code, 0) << sharing;
      EXPECT_TRUE(Contains(run.err, "in use by another program")) << sharing << ": " << run.err;
    }
  }
  EXPECT_EQ(ReadFileBytes(Archive()), before);
}
#endif

}  // namespace
}  // namespace tvx::test
