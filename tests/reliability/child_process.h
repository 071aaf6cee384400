// Running a piece of work in a forked child (Linux only), so that it can be
// killed part-way, starved of disk or measured on its own. Header-only.
#ifndef TOLVEX_TESTS_RELIABILITY_CHILD_PROCESS_H
#define TOLVEX_TESTS_RELIABILITY_CHILD_PROCESS_H

#ifndef _WIN32

#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace tvx::test::reliability {

struct ChildOutcome {
  bool exited = false;    // ended through _exit
  int exitCode = -1;      // when exited
  int signal = 0;         // when killed
  long maxRssKiB = 0;     // the child's peak resident set
};

namespace detail {
inline ChildOutcome Wait(pid_t pid) {
  ChildOutcome outcome;
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  outcome.exited = WIFEXITED(status);
  outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  outcome.maxRssKiB = usage.ru_maxrss;
  return outcome;
}
}  // namespace detail

// Runs body in a child; its result (0..255) becomes the exit code. The child
// never returns into the test framework.
inline ChildOutcome RunInChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() & 0xFF);
  if (pid < 0) return ChildOutcome{};
  return detail::Wait(pid);
}

// As RunInChild, but the parent kills the child with SIGKILL after delay
// (when it is still running).
inline ChildOutcome RunInChildAndKillAfter(const std::function<int()>& body, std::chrono::microseconds delay) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() & 0xFF);
  if (pid < 0) return ChildOutcome{};
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGKILL);
  return detail::Wait(pid);
}

}  // namespace tvx::test::reliability

#endif  // _WIN32
#endif
