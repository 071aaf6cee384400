// tolvex while something happens to its files: a source edited during a
// move, an add interrupted while it writes a new archive, and the dates an
// extraction gives back. Each case runs the built tool.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "archive_reader.h"
#include "plugin_module.h"
#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// tolvex in the background with TMPDIR pointing at temp; stderr goes to
// errFile, stdout nowhere.
ProgramIo InTemp(const std::string& temp, const std::string& errFile) {
  ProgramIo io;
  io.stderrPath = errFile;
  io.environment = {"TMPDIR=" + temp};
  return io;
}

// Waits until path holds more than bytes, or the process has ended.
bool GrowsPast(const std::string& path, pid_t pid, off_t bytes) {
  for (int i = 0; i < 5000; ++i) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size > bytes) return true;
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    usleep(1000);
  }
  return false;
}

class CliWhileItRuns : public CliTest {
 protected:
  TempDir temp_;
};

TEST_F(CliWhileItRuns, MoveKeepsASourceEditedAfterItWasRead) {
  // a.txt is packed first; once the archive is past it, tolvex is stopped,
  // a.txt edited and tolvex let go on: nothing races with the edit.
  const std::string edited = src_.File("a.txt");
  ASSERT_TRUE(WriteFileBytes(edited, "old"));
  ASSERT_TRUE(WriteFileBytes(src_.File("b.bin"), NoiseBytes(24 << 20, 5)));
  const pid_t pid = StartTolvex({"add", Archive(), edited, src_.File("b.bin"), "--move"},
                                InTemp(temp_.path(), work_.File("err.txt")));
  ASSERT_GT(pid, 0);
  const bool caught = GrowsPast(Archive() + ".tvxnew", pid, 1 << 20) && kill(pid, SIGSTOP) == 0;
  const bool still_there = caught && PathExists(edited);
  if (still_there) {
    std::ofstream(edited, std::ios::app) << " and new";
    kill(pid, SIGCONT);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!still_there) GTEST_SKIP() << "the add finished before it could be stopped";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(ReadFileBytes(edited), "old and new");
  EXPECT_FALSE(PathExists(src_.File("b.bin")));
  const std::string out = work_.File("out");
  ASSERT_EQ(RunTolvex({"extract", Archive(), "-C", out}).exit_code, 0);
  EXPECT_EQ(ReadFileBytes(out + "/a.txt"), "old");
  const std::string err = ReadFileBytes(work_.File("err.txt"));
  EXPECT_TRUE(Contains(err, "kept " + edited + ": it changed after it was read")) << err;
}

TEST_F(CliWhileItRuns, InterruptedAddOfANewArchiveLeavesNothingAndTheNextAddWorks) {
  ASSERT_TRUE(WriteFileBytes(src_.File("big.bin"), NoiseBytes(48 << 20, 6)));
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    const pid_t pid = StartTolvex({"add", Archive(), src_.File("big.bin")}, InTemp(temp_.path(), "/dev/null"));
    ASSERT_GT(pid, 0);
    const bool caught = GrowsPast(Archive() + ".tvxnew", pid, 1 << 20);
    kill(pid, signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!caught) GTEST_SKIP() << "the add finished before the signal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal_number) << status;
    EXPECT_FALSE(PathExists(Archive()));
    EXPECT_FALSE(PathExists(Archive() + ".tvxnew"));
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "debris left in the temporary folder";
  }
  ASSERT_TRUE(WriteFileBytes(src_.File("small.txt"), "small"));
  const CliRun add = RunTolvex({"add", Archive(), src_.File("small.txt")});
  EXPECT_EQ(add.exit_code, 0) << add.err;
  EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " small.txt\n"));
}

std::time_t ModifiedAt(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

TEST_F(CliWhileItRuns, ExtractGivesFilesAndFoldersTheirStoredTimes) {
  const std::string tree = src_.File("tree");
  fs::create_directories(tree + "/docs/empty");
  ASSERT_TRUE(WriteFileBytes(tree + "/docs/a.txt", "a"));
  ASSERT_TRUE(WriteFileBytes(tree + "/b.txt", "b"));
  // Even seconds: the format keeps two-second steps. Folders last, as
  // writing their files changes their times.
  const std::pair<std::string, std::time_t> times[] = {
      {"docs/a.txt", LocalTime(2019, 3, 4, 5, 6, 8)},  {"b.txt", LocalTime(2020, 7, 8, 9, 10, 12)},
      {"docs/empty", LocalTime(2018, 1, 2, 3, 4, 6)},  {"docs", LocalTime(2017, 11, 12, 13, 14, 16)},
      {"", LocalTime(2016, 5, 6, 7, 8, 10)}};
  for (const auto& [name, when] : times) {
    struct utimbuf both{when, when};
    ASSERT_EQ(utime((tree + "/" + name).c_str(), &both), 0) << name;
  }
  ASSERT_EQ(RunTolvex({"add", Archive(), tree}).exit_code, 0);
  const std::string out = work_.File("out");
  const CliRun extract = RunTolvex({"extract", Archive(), "-C", out});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  for (const auto& [name, when] : times)
    EXPECT_EQ(ModifiedAt(out + "/tree/" + name), when) << "tree/" << name;
}

// extract names the destination folder as DestPath, so a link planted below
// it after tolvex looked (here: before the module writes) is refused by the
// module as well.
TEST_F(CliWhileItRuns, ExtractionBelowTheDestinationRefusesALinkOnTheWay) {
  const cli::PluginModule::LoadResult loaded = cli::PluginModule::Load(ModulePath());
  ASSERT_TRUE(loaded.module) << loaded.error;
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{"sub/f.txt", "outside"}})));
  const std::string out = work_.File("out"), elsewhere = work_.File("elsewhere");
  fs::create_directories(out);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, out + "/sub");
  cli::OpenedArchive opened(*loaded.module, Archive(), PK_OM_EXTRACT);
  ASSERT_TRUE(opened.IsOpen());
  tHeaderData header{};
  ASSERT_EQ(opened.ReadHeader(header), 0);
  EXPECT_NE(opened.ProcessFile(PK_EXTRACT, out + "/", "sub/f.txt"), 0);
  EXPECT_FALSE(PathExists(elsewhere + "/f.txt"));
}
#endif

}  // namespace
}  // namespace tvx::test
