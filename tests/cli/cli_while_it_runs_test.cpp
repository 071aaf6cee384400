// tolvex while something happens to its files: a source edited during a
// move, a signal in the middle of the work (an add, a move, a delete, an
// extraction, a test). Each case runs the built tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "interrupt_cleanup.h"
#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// Bytes the process has read so far (its rchar); -1 when that cannot be read.
long long BytesRead(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  for (long long value = 0; in >> key >> value;)
    if (key == "rchar:") return value;
  return -1;
}

// Starts tolvex and holds it stopped (SIGSTOP) in the middle of its work: once
// it has read more than `from` bytes and, counted while it stands still, fewer
// than `before`. The rest of the work is then ahead of it however late this
// process came to stop it. -1 when it ended or ran past `before` first (it is
// gone then).
pid_t StopMidWork(const std::vector<std::string>& args, const ProgramIo& io, long long from, long long before) {
  const pid_t pid = StartTolvex(args, io);
  if (pid <= 0) return -1;
  for (long long read = 0; read <= from; read = BytesRead(pid)) {
    if (waitpid(pid, nullptr, WNOHANG) != 0) return -1;
    usleep(100);
  }
  int status = 0;
  if (kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
    const long long read = BytesRead(pid);
    if (read > from && read < before) return pid;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return -1;
}

// The exit code of a child let go on, or 128 + the signal that ended it.
int ExitCodeAfterContinuing(pid_t pid) {
  kill(pid, SIGCONT);
  const ChildOutcome end = WaitForChild(pid);
  return end.exited ? end.exitCode : 128 + end.signal;
}

// Everything in folder and below, as paths relative to it.
std::vector<std::string> Contents(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& item : fs::recursive_directory_iterator(folder)) found.push_back(fs::relative(item.path(), folder).string());
  std::sort(found.begin(), found.end());
  return found;
}

class CliWhileItRuns : public CliTest {
 protected:
  // Catches tolvex in the middle of its work (StopMidWork) on sources of 16
  // MiB, and where it slipped through, of 32 and then 64 MiB. prepare(size)
  // sets up the sources in the emptied folders and gives the arguments. -1
  // when it never was caught.
  pid_t CatchMidWork(const std::function<std::vector<std::string>(size_t)>& prepare) {
    ProgramIo io;
    io.stdoutPath = logs_.File("out.txt");
    io.stderrPath = logs_.File("err.txt");
    io.environment = {"TMPDIR=" + temp_.path()};
    for (size_t size = 16 << 20; size <= 64 << 20; size *= 2) {
      for (const std::string& folder : {work_.path(), temp_.path()})
        for (const auto& item : fs::directory_iterator(folder)) fs::remove_all(item.path());
      const std::vector<std::string> args = prepare(size);
      if (const pid_t pid = StopMidWork(args, io, 1 << 20, static_cast<long long>(size / 2)); pid > 0) return pid;
    }
    return -1;
  }
  std::string Err() const { return ReadFileBytes(logs_.File("err.txt")); }
  TempDir temp_;
  TempDir logs_;
};

TEST_F(CliWhileItRuns, MoveKeepsASourceEditedAfterItWasRead) {
  // a.txt is read first; tolvex is stopped while it reads b.bin, a.txt edited
  // and tolvex let go on: nothing races with the edit.
  const std::string edited = src_.File("a.txt");
  const pid_t pid = CatchMidWork([&](size_t size) {
    EXPECT_TRUE(WriteFileBytes(edited, "old") && WriteFileBytes(src_.File("b.bin"), NoiseBytes(size, 5)));
    return std::vector<std::string>{"add", Archive(), edited, src_.File("b.bin"), "--move"};
  });
  ASSERT_GT(pid, 0) << "tolvex was never caught in the middle of its work";
  std::ofstream(edited, std::ios::app) << " and new";
  EXPECT_EQ(ExitCodeAfterContinuing(pid), 1);
  EXPECT_EQ(ReadFileBytes(edited), "old and new");
  EXPECT_FALSE(PathExists(src_.File("b.bin")));
  const std::string out = work_.File("out");
  ASSERT_EQ(RunTolvex({"extract", Archive(), "-C", out}).exit_code, 0);
  EXPECT_EQ(ReadFileBytes(out + "/a.txt"), "old");
  EXPECT_TRUE(Contains(Err(), "kept " + edited + ": it changed after it was read")) << Err();
}

// A command interrupted: @a is the archive, made first unless the command
// names @new instead; @big the large source, @out the extraction's folder.
struct Interrupted {
  const char* command;
  int signalNumber;
  int second_signal = 0;  // one more, handled before the work could stop for the first
};

// A signal in the middle of a large entry stops the work as the file
// manager's Cancel does, and the exit status still names the signal: the
// archive stays byte for byte as it was (an add of a new one leaves none, and
// the next add works), every source stays, nothing is left in the temporary
// folder or beside the archive; an extraction leaves no cut file and no
// partial one, and the folder it made has its stored date. A second signal
// does not wait for the work, and still leaves nothing cut.
TEST_F(CliWhileItRuns, ASignalStopsTheWorkAsCancelDoes) {
  constexpr std::time_t kFolderTime = 1600000000;
  const Interrupted cases[] = {{"add @a @big", SIGINT},       {"add @new @big", SIGTERM},
                               {"add @a @big --move", SIGTERM}, {"delete @a small.txt", SIGHUP},
                               {"extract @a -C @out", SIGINT},  {"extract @a -C @out --overwrite", SIGTERM},
                               {"test @a", SIGHUP},             {"extract @a -C @out", SIGINT, SIGTERM},
                               {"extract @a -C @out --overwrite", SIGINT, SIGTERM}};
  std::string big, archive_bytes;
  const std::string out = work_.File("out");
  for (const Interrupted& c : cases) {
    const std::string command = c.command;
    SCOPED_TRACE(command + (c.second_signal ? ", two signals" : ""));
    const bool addNew = Contains(command, "@new"), over = Contains(command, "--overwrite");
    const bool extract = command.rfind("extract", 0) == 0 && !over;
    const pid_t pid = CatchMidWork([&](size_t size) {
      if (big.size() != size) {
        big = NoiseBytes(size, 7);
        archive_bytes = ArchiveBytes({{"tree/", "", -1, kFolderTime}, Stored("tree/big.bin", big),
                                      Stored("small.txt", "small")});
      }
      EXPECT_TRUE(WriteFileBytes(src_.File("big.bin"), big));
      EXPECT_TRUE(addNew || WriteFileBytes(Archive(), archive_bytes));
      if (over) {
        fs::create_directories(out + "/tree");
        EXPECT_TRUE(WriteFileBytes(out + "/tree/big.bin", "there before"));
      }
      const std::map<std::string, std::string> marks = {
          {"@a", Archive()}, {"@new", Archive()}, {"@big", src_.File("big.bin")}, {"@out", out}};
      std::vector<std::string> args;
      std::istringstream words(command);
      for (std::string word; words >> word;) args.push_back(marks.count(word) ? marks.at(word) : word);
      return args;
    });
    ASSERT_GT(pid, 0) << "tolvex was never caught in the middle of its work";
    // Both signals while it stands still: both handlers run before the work goes on.
    kill(pid, c.signalNumber);
    if (c.second_signal != 0) kill(pid, c.second_signal);
    EXPECT_EQ(ExitCodeAfterContinuing(pid), 128 + c.signalNumber) << Err();
    if (addNew) {
      EXPECT_FALSE(PathExists(Archive()));
    } else {
      EXPECT_TRUE(ReadFileBytes(Archive()) == archive_bytes) << "the archive changed";
    }
    EXPECT_TRUE(ReadFileBytes(src_.File("big.bin")) == big) << "the source changed or went";
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "debris left in the temporary folder";
    if (extract) {
      EXPECT_EQ(Contents(out), std::vector<std::string>{"tree"}) << "a cut or partial file";
      // Stored as a wall-clock time, set as local time: within a day of it.
      if (c.second_signal == 0) { EXPECT_LT(std::abs(UtcModifiedTime(out + "/tree") - kFolderTime), 86400); }
    } else if (over) {
      EXPECT_EQ(Contents(out), (std::vector<std::string>{"tree", "tree/big.bin"})) << "a cut or partial file";
      EXPECT_EQ(ReadFileBytes(out + "/tree/big.bin"), "there before");
    } else {
      EXPECT_EQ(Contents(work_.path()), std::vector<std::string>(addNew ? 0 : 1, "a.tvx"));
    }
    if (addNew) {
      ASSERT_TRUE(WriteFileBytes(src_.File("small.txt"), "small"));
      EXPECT_EQ(RunTolvex({"add", Archive(), src_.File("small.txt")}).exit_code, 0) << "the next add";
      EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " small.txt\n"));
    }
  }
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
    const ChildOutcome end = RunInChild([&] {
      setenv("TMPDIR", temp.c_str(), 1);
      cli::InterruptCleanup cleanup;
      cleanup.WatchSideFilesOf(Archive());
      const std::string kept = cleanup.Folder() + "/tvxKEPT";
      WriteFileBytes(kept, "new archive");
      WriteFileBytes(Archive(), "overwrit");
      if (signalled) {
        raise(SIGINT);
        raise(SIGTERM);
      }
      return cleanup.KeptFiles() == std::vector<std::string>{kept} ? 0 : 3;
    });
    EXPECT_TRUE(end.exited && end.exitCode == (signalled ? 128 + SIGINT : 0)) << end.exitCode << " " << end.signal;
    EXPECT_EQ(Contents(temp).size(), 2u) << "the kept archive went";
  }
}
#endif

}  // namespace
}  // namespace tvx::test
