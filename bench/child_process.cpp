#include "child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "stopwatch.h"

namespace tvx::bench {

ChildCost RunChild(const std::vector<std::string>& argv, const std::string& cwd) {
  ChildCost cost;
  if (argv.empty()) return cost;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const double start = Seconds(CLOCK_MONOTONIC);
  const pid_t pid = fork();
  if (pid < 0) return cost;
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return cost;
  cost.wall = Seconds(CLOCK_MONOTONIC) - start;
  cost.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  cost.maxRssKib = usage.ru_maxrss;
  cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  cost.ok = cost.exitCode == 0;
  return cost;
}

}  // namespace tvx::bench
