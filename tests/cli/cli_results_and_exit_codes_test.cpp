// tolvex tells what it did not do: paths left out of an add, sources a move
// kept, entries whose only check is their size, names a terminal or a script
// would trip over, refusals named before the module is asked. Each case runs
// the built tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/plugin_test.h"
#include "support/test_support.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

const std::string kSep = NativeSeparator();

// "a/" -> "612f", as name_hex spells it.
std::string PlainHex(const std::string& bytes) {
  std::string hex = Hex(bytes);
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  return hex;
}

using CliResults = CliTest;

TEST_F(CliResults, TestSummaryAndJsonCountStoredEntriesWhoseSizeAloneWasChecked) {
  ASSERT_TRUE(WriteFileBytes(src_.File("text.txt"), std::string(5000, 'a')));
  ASSERT_TRUE(WriteFileBytes(src_.File("noise.bin"), NoiseBytes(3000, 1)));
  ASSERT_EQ(RunTolvex({"add", Archive(), src_.File("text.txt"), src_.File("noise.bin")}).exit_code, 0);

  const CliRun test = RunTolvex({"t", Archive()});
  EXPECT_EQ(test.exit_code, 0) << test.err;
  EXPECT_EQ(test.out, "2 entries tested, all OK; 1 stored entry has no checksum: its size was checked\n");
  const CliRun json = RunTolvex({"test", Archive(), "--json"});
  EXPECT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(Contains(json.out, "\"tested\": 2, \"damaged\": 0, \"stored_size_checked\": 1")) << json.out;
  const CliRun list = RunTolvex({"l", Archive(), "--json"});
  EXPECT_TRUE(Contains(list.out, "\"stored\": true, \"name_hex\": \"6e6f6973652e62696e\"")) << list.out;
}

TEST_F(CliResults, HostileNamesAreEscapedInTheTableAndValidInJson) {
  const std::string escape = "red\x1b[31m.txt";
  // An encoded surrogate, an overlong '/', a code point above U+10FFFF.
  const std::string broken[] = {"s\xED\xA0\x80.txt", "o\xE0\x80\xAF.txt", "b\xF4\x90\x80\x80.txt"};
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{escape, "x"}, {broken[0], "x"}, {broken[1], "x"},
                                                      {broken[2], "x"}})));
  const CliRun table = RunTolvex({"list", Archive()});
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_FALSE(Contains(table.out, "\x1b")) << table.out;
#ifndef _WIN32
  // The Windows module reports control characters as '_' already.
  EXPECT_TRUE(Contains(table.out, "red\\x1b[31m.txt\n")) << table.out;
#endif

  const CliRun json = RunTolvex({"list", Archive(), "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  for (const std::string& name : broken) {
    EXPECT_FALSE(Contains(json.out, name.substr(1, 2))) << Hex(name);
    EXPECT_TRUE(Contains(json.out, "\"name_hex\": \"" + PlainHex(name) + "\"")) << json.out;
  }
#ifndef _WIN32
  // The exact bytes select the entry again.
  const CliRun extract = RunTolvex({"x", Archive(), "-C", work_.File("out"), broken[0]});
  EXPECT_EQ(extract.exit_code, 0) << extract.err;
#endif
}

TEST_F(CliResults, DeleteOfManyNamesLooksThemUp) {
  if (RunningUnderWine()) GTEST_SKIP() << "times under Wine say nothing about the tool";
  // 5,000 names against 100,000 entries: comparing each name with each entry
  // takes about 5 s; looking them up, a fraction of a second.
  std::vector<RawEntry> entries;
  std::vector<std::string> names;
  for (int i = 0; i < 100000; ++i) {
    entries.push_back({"d/f" + std::to_string(i), "x"});
    if (i % 20 == 0) names.push_back("d/f" + std::to_string(i));
  }
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes(entries)));
  std::vector<std::string> args{"delete", Archive()};
  args.insert(args.end(), names.begin(), names.end());
  const auto start = std::chrono::steady_clock::now();
  const CliRun del = RunTolvex(args);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(del.exit_code, 0) << del.err;
  EXPECT_TRUE(Contains(del.out, "5000 items deleted")) << del.out;
  EXPECT_LT(seconds, 2.0) << "delete of 5,000 names took " << seconds << " s";
}

#ifndef _WIN32
bool RunningAsRoot() { return geteuid() == 0; }

TEST_F(CliResults, AnythingLeftOutOfAnAddIsNamedAndExitsOne) {
  const std::string tree = src_.File("tree");
  fs::create_directories(tree);
  ASSERT_TRUE(WriteFileBytes(tree + "/good.txt", "good"));
  fs::create_symlink(tree + "/missing", tree + "/dangling");
  ASSERT_EQ(mkfifo((tree + "/pipe").c_str(), 0644), 0);
  std::vector<std::string> expected{"broken symbolic link, left out: " + tree + "/dangling",
                                    "left out: " + tree + "/pipe"};
  if (!RunningAsRoot()) {
    ASSERT_TRUE(WriteFileBytes(tree + "/secret.txt", "secret"));
    chmod((tree + "/secret.txt").c_str(), 0);
    expected.push_back("cannot read, left out: " + tree + "/secret.txt (Permission denied)");
  }
  const CliRun add = RunTolvex({"add", Archive(), tree});
  EXPECT_EQ(add.exit_code, 1) << add.err;
  for (const std::string& message : expected) EXPECT_TRUE(Contains(add.err, message)) << add.err;
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_TRUE(Contains(list.out, " tree/good.txt\n")) << list.out;
}

// A folder whose files cannot be deleted: read-only for a user, a read-only
// mount for root (which may delete anything else).
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& path) : path_(path) { fs::create_directories(path); }
  ~ReadOnlyFolder() {
    if (mounted_) umount(path_.c_str());
    chmod(path_.c_str(), 0755);
  }
  // Creates the file in the folder, then makes the folder read-only.
  std::string Seal(const std::string& name, const std::string& bytes) {
    if (RunningAsRoot()) {
      if (mount("tolvex-test", path_.c_str(), "tmpfs", 0, "size=1m") != 0) return "cannot mount a tmpfs";
      mounted_ = true;
    }
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

TEST_F(CliResults, MoveNamesTheSourceItCouldNotDeleteAndExitsOne) {
  ReadOnlyFolder folder(src_.File("locked"));
  const std::string why = folder.Seal("kept.txt", "keep me");
  if (!why.empty()) GTEST_SKIP() << "no read-only folder here: " << why;
  const std::string file = src_.File("locked") + "/kept.txt";
  const CliRun add = RunTolvex({"add", Archive(), file, "--move"});
  EXPECT_EQ(add.exit_code, 1) << add.err;
  EXPECT_TRUE(Contains(add.err, "kept " + file + ": could not be deleted")) << add.err;
  EXPECT_EQ(ReadFileBytes(file), "keep me");
  EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " kept.txt\n"));
}

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

TEST_F(CliResults, ArchiveInAFolderWithoutWritePermissionIsNamedBeforePacking) {
  ReadOnlyFolder folder(work_.File("locked"));
  const std::string why = folder.Seal("placeholder", "");
  if (!why.empty()) GTEST_SKIP() << "no read-only folder here: " << why;
  ASSERT_TRUE(WriteFileBytes(src_.File("f.txt"), "f"));
  const CliRun add = RunTolvex({"add", work_.File("locked") + "/a.tvx", src_.File("f.txt")});
  EXPECT_EQ(add.exit_code, 2);
  EXPECT_TRUE(Contains(add.err, "its folder is not writable")) << add.err;
  EXPECT_FALSE(Contains(add.err, "disk full")) << add.err;
}

TEST_F(CliResults, ExtractNeverWritesThroughALinkBelowTheDestination) {
  const LinkScene scene(work_.path());
  ASSERT_TRUE(scene.ready);
  ASSERT_TRUE(WriteFileBytes(Archive(), scene.ArchiveBytesOf()));
  const CliRun extract = RunTolvex({"extract", Archive(), "-C", scene.out});
  EXPECT_EQ(extract.exit_code, 1);
  EXPECT_TRUE(Contains(extract.err, scene.out + "/sub is a symbolic link")) << extract.err;
  EXPECT_TRUE(scene.Untouched());
  EXPECT_EQ(ReadFileBytes(scene.out + "/ok.txt"), "fine");
}

// tolvex with its stdout and stderr sent to files, TMPDIR set when given.
ChildOutcome RunTolvexInto(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                           const std::string& tmpdir = std::string()) {
  ProgramIo io;
  io.stdoutPath = out;
  io.stderrPath = err;
  if (!tmpdir.empty()) io.environment = {"TMPDIR=" + tmpdir};
  std::vector<std::string> argv = {CliPath(), "--plugin", ModulePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunChildProgram(argv, io);
}

TEST_F(CliResults, OutputThatCannotBeWrittenIsAnError) {
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{"a.txt", "alpha"}, {"b.txt", "bravo"}})));
  const std::string err = work_.File("err.txt");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", Archive()}, {"list", "--json", Archive()}, {"test", Archive()}}) {
    const ChildOutcome run = RunTolvexInto(args, "/dev/full", err);
    EXPECT_TRUE(run.exited && run.exitCode == 2) << args[0] << " " << args[1] << ": " << run.exitCode;
    EXPECT_TRUE(Contains(ReadFileBytes(err), "cannot write the output: ")) << ReadFileBytes(err);
  }
}

TEST_F(CliResults, ATemporaryFolderThatIsMissingOrAFileIsNamed) {
  ASSERT_TRUE(WriteFileBytes(src_.File("f.txt"), "f"));
  ASSERT_EQ(RunTolvex({"add", Archive(), src_.File("f.txt")}).exit_code, 0);
  ASSERT_TRUE(WriteFileBytes(work_.File("plain"), "a file"));
  const std::string err = work_.File("err.txt");
  struct Case {
    std::string tmpdir;
    std::string why;
  };
  for (const Case& c : {Case{work_.File("missing"), "TMPDIR names a folder that does not exist: "},
                        Case{work_.File("plain"), "TMPDIR names a file, not a folder: "}}) {
    const ChildOutcome run = RunTolvexInto({"add", Archive(), src_.File("f.txt")}, std::string(), err, c.tmpdir);
    EXPECT_NE(run.exitCode, 0) << c.tmpdir;
    EXPECT_TRUE(Contains(ReadFileBytes(err), c.why + c.tmpdir)) << ReadFileBytes(err);
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
