// Running work in another process: a program with its output sent to files
// (the command-line tests, the benchmark's rival archivers), or a piece of this
// program in a forked child that can be killed part-way, starved of disk or
// measured on its own. No GoogleTest here: the benchmark links it too.
#ifndef TOLVEX_TESTS_SUPPORT_CHILD_PROCESS_H
#define TOLVEX_TESTS_SUPPORT_CHILD_PROCESS_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tvx::test {

struct ChildOutcome {
  bool started = false;
  bool exited = false;    // ended through exit (on Windows: ended at all)
  int exitCode = -1;      // when exited
  int signal = 0;         // when killed (POSIX)
  long maxRssKiB = 0;     // the child's peak resident set (POSIX)
  double cpuSeconds = 0;  // user plus system time of the child (POSIX)
};

// Where the program runs and where its output goes. Standard input is always
// the null device.
struct ProgramIo {
  std::string cwd;         // empty: ours
  std::string stdoutPath;  // empty: discarded
  std::string stderrPath;  // empty: ours (POSIX), discarded (Windows)
  std::vector<std::string> environment;  // "NAME=value", set for the child (POSIX)
};

// Runs argv[0] (a path, or on POSIX a name looked up in PATH) with the rest
// of argv as its arguments, and waits for it.
ChildOutcome RunChildProgram(const std::vector<std::string>& argv, const ProgramIo& io = ProgramIo());

#ifndef _WIN32
// Starts argv as RunChildProgram does but does not wait: the child's process
// id, or -1. WaitForChild collects it.
int StartChildProgram(const std::vector<std::string>& argv, const ProgramIo& io = ProgramIo());
ChildOutcome WaitForChild(int pid);

// Runs body in a forked child; its result (0..255) becomes the exit code. The
// child never returns into the caller's code.
ChildOutcome RunInChild(const std::function<int()>& body);
// As RunInChild, but does not wait: the child's process id, or -1 (collect it
// with WaitForChild).
int StartInChild(const std::function<int()>& body);
// As RunInChild, but the parent kills the child with SIGKILL after delay
// (when it is still running).
ChildOutcome RunInChildAndKillAfter(const std::function<int()>& body, std::chrono::microseconds delay);
#endif

}  // namespace tvx::test

#endif
