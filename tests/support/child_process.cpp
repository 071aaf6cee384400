#include "support/child_process.h"

#ifdef _WIN32
#include "support/windows_headers.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#endif

namespace tvx::test {

#ifdef _WIN32
namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

HANDLE OpenInherited(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::string name = path.empty() ? "NUL" : path;
  return CreateFileA(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | (path.empty() ? FILE_SHARE_WRITE : 0), &inherit,
                     write && !path.empty() ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildOutcome RunChildProgram(const std::vector<std::string>& argv, const ProgramIo& io) {
  ChildOutcome outcome;
  if (argv.empty()) return outcome;
  std::string commandLine;
  for (const std::string& arg : argv) commandLine += (commandLine.empty() ? "" : " ") + QuoteWindowsArgument(arg);
  HANDLE out = OpenInherited(io.stdoutPath, true);
  HANDLE err = OpenInherited(io.stderrPath, true);
  HANDLE in = OpenInherited(std::string(), false);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  // Wine now and then fails to start a process under load; a second try tells
  // that apart from a program that cannot start at all.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             io.cwd.empty() ? nullptr : io.cwd.c_str(), &startup, &process);
  }
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(in);
  if (!started) return outcome;
  outcome.started = true;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  outcome.exited = true;
  outcome.exitCode = static_cast<int>(code);
  return outcome;
}

#else
namespace {

ChildOutcome Wait(pid_t pid) {
  ChildOutcome outcome;
  outcome.started = true;
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  outcome.exited = WIFEXITED(status);
  outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  outcome.maxRssKiB = usage.ru_maxrss;
  outcome.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return outcome;
}

// In the child: the descriptor for path (the null device when empty) becomes fd.
bool Redirect(const std::string& path, int fd, int flags) {
  const int opened = ::open(path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
  return opened >= 0 && ::dup2(opened, fd) >= 0;
}

}  // namespace

int StartChildProgram(const std::vector<std::string>& argv, const ProgramIo& io) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid < 0 ? -1 : static_cast<int>(pid);
  const int write = O_WRONLY | O_CREAT | O_TRUNC;
  if (!Redirect(std::string(), STDIN_FILENO, O_RDONLY) || !Redirect(io.stdoutPath, STDOUT_FILENO, write) ||
      (!io.stderrPath.empty() && !Redirect(io.stderrPath, STDERR_FILENO, write))) {
    ::_exit(126);
  }
  if (!io.cwd.empty() && ::chdir(io.cwd.c_str()) != 0) ::_exit(126);
  for (const std::string& setting : io.environment) {
    const size_t equals = setting.find('=');
    if (equals == std::string::npos) ::_exit(126);
    ::setenv(setting.substr(0, equals).c_str(), setting.c_str() + equals + 1, 1);
  }
  ::execvp(args[0], args.data());
  ::_exit(127);
}

ChildOutcome WaitForChild(int pid) { return Wait(static_cast<pid_t>(pid)); }

ChildOutcome RunChildProgram(const std::vector<std::string>& argv, const ProgramIo& io) {
  const int pid = StartChildProgram(argv, io);
  return pid < 0 ? ChildOutcome{} : Wait(static_cast<pid_t>(pid));
}

int StartInChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() & 0xFF);
  return pid < 0 ? -1 : static_cast<int>(pid);
}

ChildOutcome RunInChild(const std::function<int()>& body) {
  const int pid = StartInChild(body);
  return pid < 0 ? ChildOutcome{} : Wait(static_cast<pid_t>(pid));
}

ChildOutcome RunInChildAndKillAfter(const std::function<int()>& body, std::chrono::microseconds delay) {
  const int pid = StartInChild(body);
  if (pid < 0) return ChildOutcome{};
  std::this_thread::sleep_for(delay);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  return Wait(static_cast<pid_t>(pid));
}
#endif

}  // namespace tvx::test
