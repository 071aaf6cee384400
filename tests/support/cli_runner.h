// Runs the built tolvex executable as a user would, capturing its exit status,
// stdout and stderr.
#ifndef TOLVEX_TESTS_SUPPORT_CLI_RUNNER_H
#define TOLVEX_TESTS_SUPPORT_CLI_RUNNER_H

#include <string>
#include <vector>

namespace tvx::test {

struct CliRun {
  int exit_code = -1;  // 128 + the signal when the program was killed
  std::string out;
  std::string err;
};

// Full path of the built tolvex executable; empty when it is not built.
std::string CliPath();

// Runs program with args in folder cwd (the current one when empty); stdout
// and stderr are captured through files and given back with plain "\n" lines.
CliRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& cwd = std::string());

// Runs tolvex with the module under test (never the one a PATH might find).
CliRun RunTolvex(std::vector<std::string> args, const std::string& cwd = std::string());

}  // namespace tvx::test

#endif
