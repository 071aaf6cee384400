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

// The program under test with the module under test, then args.
std::vector<std::string> TolvexArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{CliPath(), "--plugin", ModulePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

std::string CliPath() { return NativePath(TOLVEX_CLI_PATH); }

CliRun RunTolvex(const std::vector<std::string>& args, const std::string& cwd,
                 const std::vector<std::string>& environment, const std::string& output) {
  CliRun run;
  TempDir scratch;
  const ProgramIo io{cwd, output.empty() ? scratch.File("stdout.txt") : output, scratch.File("stderr.txt"), environment};
  const ChildOutcome outcome = RunChildProgram(TolvexArgv(args), io);
  if (!outcome.started) {
    run.err = "the program could not be started: " + CliPath();
    return run;
  }
  run.exit_code = outcome.exited ? outcome.exitCode : 128 + outcome.signal;
  run.out = output.empty() ? PlainLines(ReadFileBytes(io.stdoutPath)) : "";
  run.err = PlainLines(ReadFileBytes(io.stderrPath));
  return run;
}

#ifndef _WIN32
int StartTolvex(const std::vector<std::string>& args, const ProgramIo& io) {
  return StartChildProgram(TolvexArgv(args), io);
}
#endif

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace tvx::test
