// Runs the built tolvex executable as a user would, capturing its exit status,
// stdout and stderr. Header-only: the test program is built from *_test.cpp
// files alone.
#ifndef TOLVEX_TESTS_CLI_CLI_RUNNER_H
#define TOLVEX_TESTS_CLI_CLI_RUNNER_H

#include <string>
#include <vector>

#include "support/test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tvx::test {

struct CliRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string CliPath() {
#ifdef TOLVEX_CLI_PATH
  std::string path = TOLVEX_CLI_PATH;
#else
  std::string path;
#endif
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

#ifdef _WIN32
// Quotes one argument so that the C runtime's parser gives it back unchanged.
inline std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}
#endif

// Runs program with args in folder cwd (the current one when empty); stdout
// and stderr go to files in scratch, read back afterwards.
inline CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd = std::string()) {
  CliRun run;
  TempDir scratch;
  const std::string out_path = scratch.File("stdout.txt");
  const std::string err_path = scratch.File("stderr.txt");
#ifdef _WIN32
  std::string command_line = QuoteWindowsArgument(program);
  for (const std::string& arg : args) command_line += " " + QuoteWindowsArgument(arg);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  // Wine now and then fails to start a process under load; a second try tells
  // that apart from a program that cannot start at all.
  BOOL started = FALSE;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
    if (!started) start_error = GetLastError();
  }
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(in);
  if (!started) {
    run.err = "CreateProcessA failed with error " + std::to_string(start_error);
    return run;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  run.exit_code = static_cast<int>(code);
#else
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) _exit(126);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  run.out = ReadFileBytes(out_path);
  run.err = ReadFileBytes(err_path);
#ifdef _WIN32
  // Text-mode output ends lines with CR LF; the tests compare plain lines.
  for (std::string* text : {&run.out, &run.err}) {
    std::string plain;
    for (size_t i = 0; i < text->size(); ++i)
      if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) plain += (*text)[i];
    *text = plain;
  }
#endif
  return run;
}

// Runs tolvex with the module under test (never the one a PATH might find).
inline CliRun RunTolvex(std::vector<std::string> args, const std::string& cwd = std::string()) {
  args.insert(args.begin(), {"--plugin", ModulePath()});
  return RunProgram(CliPath(), args, cwd);
}

}  // namespace tvx::test

#endif
