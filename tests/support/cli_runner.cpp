#include "support/cli_runner.h"

namespace tvx::test {
namespace {

// Text-mode output on Windows ends lines with CR LF; the tests compare plain lines.
std::string PlainLines(const std::string& text) {
#ifdef _WIN32
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  }
  return plain;
#else
  return text;
#endif
}

}  // namespace

std::string CliPath() { return NativePath(TOLVEX_CLI_PATH); }

CliRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
  CliRun run;
  TempDir scratch;
  ProgramIo io;
  io.cwd = cwd;
  io.stdoutPath = scratch.File("stdout.txt");
  io.stderrPath = scratch.File("stderr.txt");
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const ChildOutcome outcome = RunChildProgram(argv, io);
  if (!outcome.started) {
    run.err = "the program could not be started: " + program;
    return run;
  }
  run.exit_code = outcome.exited ? outcome.exitCode : 128 + outcome.signal;
  run.out = PlainLines(ReadFileBytes(io.stdoutPath));
  run.err = PlainLines(ReadFileBytes(io.stderrPath));
  return run;
}

CliRun RunTolvex(std::vector<std::string> args, const std::string& cwd) {
  args.insert(args.begin(), {"--plugin", ModulePath()});
  return RunProgram(CliPath(), args, cwd);
}

#ifndef _WIN32
int StartTolvex(const std::vector<std::string>& args, const ProgramIo& io) {
  std::vector<std::string> argv{CliPath(), "--plugin", ModulePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return StartChildProgram(argv, io);
}
#endif

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace tvx::test
