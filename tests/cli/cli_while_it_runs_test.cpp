// tolvex while something happens to its files: a source edited during a
// move, an add interrupted while it writes a new archive, and the dates an
// extraction gives back. Each case runs the built tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "archive_reader.h"
#include "interrupt_cleanup.h"
#include "plugin_module.h"
#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
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
  for (const int signalNumber : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signalNumber);
    const pid_t pid = StartTolvex({"add", Archive(), src_.File("big.bin")}, InTemp(temp_.path(), "/dev/null"));
    ASSERT_GT(pid, 0);
    const bool caught = GrowsPast(Archive() + ".tvxnew", pid, 1 << 20);
    kill(pid, signalNumber);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!caught) GTEST_SKIP() << "the add finished before the signal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signalNumber) << status;
    EXPECT_FALSE(PathExists(Archive()));
    EXPECT_FALSE(PathExists(Archive() + ".tvxnew"));
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "debris left in the temporary folder";
  }
  ASSERT_TRUE(WriteFileBytes(src_.File("small.txt"), "small"));
  const CliRun add = RunTolvex({"add", Archive(), src_.File("small.txt")});
  EXPECT_EQ(add.exit_code, 0) << add.err;
  EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " small.txt\n"));
}

// The bar is drawn on a terminal only: stderr on a pseudo-terminal, and
// every percentage shown under name.
TEST_F(CliWhileItRuns, TheProgressBarMovesWithinALargeFile) {
  ASSERT_TRUE(WriteFileBytes(src_.File("big.bin"), NoiseBytes(16 << 20, 8)));
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  const int slave = open(terminal.c_str(), O_RDWR | O_NOCTTY);  // keeps what is drawn readable
  ASSERT_GE(slave, 0);
  ProgramIo io = InTemp(temp_.path(), terminal);
  const pid_t pid = StartTolvex({"add", Archive(), src_.File("big.bin")}, io);
  ASSERT_GT(pid, 0);
  std::string drawn;
  int status = 0;
  for (bool running = true; running;) {
    running = waitpid(pid, &status, WNOHANG) == 0;
    char buffer[4096];
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) drawn.append(buffer, static_cast<size_t>(n));
    if (running) usleep(10000);
  }
  close(slave);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::vector<int> shown;
  for (size_t at = drawn.find('['); at != std::string::npos; at = drawn.find('[', at + 1)) {
    const size_t line_end = drawn.find('\r', at);
    const std::string line = drawn.substr(at, line_end == std::string::npos ? std::string::npos : line_end - at);
    const size_t percent = line.find("%");
    if (percent == std::string::npos || !Contains(line, "big.bin") || percent < 3) continue;
    const int value = std::atoi(line.substr(percent - 3, 3).c_str());
    if (shown.empty() || shown.back() != value) shown.push_back(value);
  }
  size_t between = 0;
  for (int value : shown) between += value > 0 && value < 100 ? 1 : 0;
  EXPECT_GE(between, 2u) << drawn;
}

std::time_t ModifiedAt(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Waits until the process has read more than bytes (its rchar), or has ended.
bool HasReadPast(pid_t pid, long long bytes) {
  const std::string io = "/proc/" + std::to_string(pid) + "/io";
  for (int i = 0; i < 50000; ++i) {
    std::ifstream in(io);
    std::string key;
    long long value = 0;
    while (in >> key >> value) {
      if (key == "rchar:" && value > bytes) return true;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    usleep(100);
  }
  return false;
}

// Everything in folder and below, as paths relative to it.
std::vector<std::string> Contents(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& item : fs::recursive_directory_iterator(folder)) found.push_back(fs::relative(item.path(), folder).string());
  std::sort(found.begin(), found.end());
  return found;
}

enum class Work { kAdd, kAddMove, kDelete, kExtract, kExtractOver, kTest };

struct Interrupted {
  Work work;
  int signalNumber;
  const char* what;
  int second_signal = 0;  // one more, handled before the work could stop for the first
};

// Sends both signals while pid is stopped, so that both handlers run before
// the work goes on.
bool SendTwoSignals(pid_t pid, int first, int second) {
  int status = 0;
  if (kill(pid, SIGSTOP) != 0 || waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) return false;
  return kill(pid, first) == 0 && kill(pid, second) == 0 && kill(pid, SIGCONT) == 0;
}

// A signal in the middle of a large entry stops the work as the file
// manager's Cancel does, and the exit status still names the signal: the
// archive stays byte for byte as it was, every source stays, nothing is left
// in the temporary folder or beside the archive; an extraction leaves no cut
// file and no partial one, and the folder it made has its stored date. A
// second signal does not wait for the work, and still leaves nothing cut.
TEST_F(CliWhileItRuns, ASignalStopsTheWorkAsCancelDoes) {
  constexpr std::time_t kFolderTime = 1600000000;
  const std::string big = NoiseBytes(48 << 20, 7);
  const std::string archive_bytes = ArchiveBytes({{"tree/", "", -1, kFolderTime}, Stored("tree/big.bin", big),
                                                  Stored("small.txt", "small")});
  ASSERT_TRUE(WriteFileBytes(src_.File("big.bin"), big));
  const Interrupted cases[] = {
      {Work::kAdd, SIGINT, "add"},          {Work::kAddMove, SIGTERM, "add --move"},
      {Work::kDelete, SIGHUP, "delete"},    {Work::kExtract, SIGINT, "extract"},
      {Work::kExtractOver, SIGTERM, "extract --overwrite"}, {Work::kTest, SIGHUP, "test"},
      {Work::kExtract, SIGINT, "extract, two signals", SIGTERM},
      {Work::kExtractOver, SIGINT, "extract --overwrite, two signals", SIGTERM},
  };
  std::vector<std::string> late;
  for (const Interrupted& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFileBytes(Archive(), archive_bytes));
    const std::string out = work_.File("out");
    std::error_code ec;
    fs::remove_all(out, ec);
    std::vector<std::string> args;
    switch (c.work) {
      case Work::kAdd: args = {"add", Archive(), src_.File("big.bin")}; break;
      case Work::kAddMove: args = {"add", Archive(), src_.File("big.bin"), "--move"}; break;
      case Work::kDelete: args = {"delete", Archive(), "small.txt"}; break;
      case Work::kExtract: args = {"extract", Archive(), "-C", out}; break;
      case Work::kExtractOver: args = {"extract", Archive(), "-C", out, "--overwrite"}; break;
      case Work::kTest: args = {"test", Archive()}; break;
    }
    if (c.work == Work::kExtractOver) {
      fs::create_directories(out + "/tree");
      ASSERT_TRUE(WriteFileBytes(out + "/tree/big.bin", "there before"));
    }
    ProgramIo io = InTemp(temp_.path(), work_.File("err.txt"));
    io.stdoutPath = work_.File("out.txt");
    const pid_t pid = StartTolvex(args, io);
    ASSERT_GT(pid, 0);
    const bool caught =
        HasReadPast(pid, 4 << 20) &&
        (c.second_signal != 0 ? SendTwoSignals(pid, c.signalNumber, c.second_signal) : kill(pid, c.signalNumber) == 0);
    int status = 0;
    waitpid(pid, &status, 0);
    // On a busy machine the work may be done before the signal lands: it
    // then says so on stdout, and there is nothing to check.
    const bool finished = !caught || !ReadFileBytes(work_.File("out.txt")).empty();
    if (finished) {
      late.push_back(c.what);
      fs::remove(work_.File("out.txt"));
      fs::remove(work_.File("err.txt"));
      continue;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + c.signalNumber) << status;
    EXPECT_TRUE(ReadFileBytes(Archive()) == archive_bytes) << "the archive changed";
    EXPECT_TRUE(ReadFileBytes(src_.File("big.bin")) == big) << "the source changed or went";
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "debris left in the temporary folder";
    fs::remove(work_.File("out.txt"));
    fs::remove(work_.File("err.txt"));
    if (c.work != Work::kExtract && c.work != Work::kExtractOver) {
      EXPECT_EQ(Contents(work_.path()), std::vector<std::string>{"a.tvx"});
      continue;
    }
    const std::vector<std::string> left = Contents(out);
    const std::vector<std::string> expected =
        c.work == Work::kExtract ? std::vector<std::string>{"tree"} : std::vector<std::string>{"tree", "tree/big.bin"};
    EXPECT_EQ(left, expected) << "a cut or partial file";
    if (c.work == Work::kExtractOver) {
      EXPECT_EQ(ReadFileBytes(out + "/tree/big.bin"), "there before");
    } else if (c.second_signal == 0) {
      // Stored as a wall-clock time, set as local time: within a day of it.
      EXPECT_LT(std::abs(ModifiedAt(out + "/tree") - kFolderTime), 86400);
    }
  }
  if (late.size() == std::size(cases)) GTEST_SKIP() << "every command finished before its signal";
  for (const std::string& what : late) std::printf("[ note     ] %s finished before its signal\n", what.c_str());
}

// A signal after the module's last report comes too late to stop the call:
// its work is done, and the command says so (the late-signal module raises
// SIGINT right after PackFiles and DeleteFiles return).
TEST_F(CliWhileItRuns, ASignalAfterTheWorkIsDoneReportsTheWorkAsDone) {
  ASSERT_TRUE(WriteFileBytes(src_.File("a.txt"), "a"));
  const std::string late_module = TOLVEX_LATE_SIGNAL_MODULE;
  const CliRun added = RunProgram(CliPath(), {"--plugin", late_module, "add", Archive(), src_.File("a.txt"), "--move"});
  EXPECT_EQ(added.exit_code, 0) << added.err;
  EXPECT_TRUE(Contains(added.out, "1 entry added")) << added.out;
  EXPECT_FALSE(fs::exists(src_.File("a.txt")));
  const CliRun deleted = RunProgram(CliPath(), {"--plugin", late_module, "delete", Archive(), "a.txt"});
  EXPECT_EQ(deleted.exit_code, 0) << deleted.err;
  EXPECT_TRUE(Contains(deleted.out, "1 item deleted")) << deleted.out;
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

// Where the archive's drive has no room for a copy, the module overwrites the
// archive in place from the finished new one in tolvex's temporary folder,
// and keeps that one when the overwrite fails. Neither the end of the command
// nor a second signal during the overwrite may delete that only whole copy.
TEST_F(CliWhileItRuns, TheNewArchiveInTheTemporaryFolderOutlivesAFailedOrInterruptedReplacement) {
  for (const bool signalled : {false, true}) {
    SCOPED_TRACE(signalled ? "two signals during the overwrite" : "the overwrite failed");
    ASSERT_TRUE(WriteFileBytes(Archive(), "old archive"));
    const std::string temp = work_.File(signalled ? "signalled" : "failed");
    fs::create_directories(temp);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("TMPDIR", temp.c_str(), 1);
      {
        cli::InterruptCleanup cleanup;
        cleanup.WatchSideFilesOf(Archive());
        const std::string kept = cleanup.Folder() + "/tvxKEPT";
        WriteFileBytes(kept, "new archive");
        WriteFileBytes(Archive(), "overwrit");
        if (signalled) {
          raise(SIGINT);
          raise(SIGTERM);
        }
        if (cleanup.KeptFiles() != std::vector<std::string>{kept}) _exit(3);
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (signalled ? 128 + SIGINT : 0)) << status;
    EXPECT_EQ(Contents(temp).size(), 2u) << "the kept archive went";
  }
}
#endif

}  // namespace
}  // namespace tvx::test
