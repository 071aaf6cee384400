// Runs the built tolvex executable as a user would, capturing its exit status,
// stdout and stderr.
#ifndef TOLVEX_TESTS_SUPPORT_CLI_RUNNER_H
#define TOLVEX_TESTS_SUPPORT_CLI_RUNNER_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_support.h"

namespace tvx::test {

struct CliRun {
  int exit_code = -1;  // 128 + the signal when the program was killed
  std::string out;
  std::string err;
};

// Full path of the built tolvex executable, with native separators.
std::string CliPath();

// Runs tolvex with the module under test (never the one a PATH might find) in
// folder cwd (the current one when empty); stdout and stderr are captured
// through files and given back with plain "\n" lines; with environment
// ("NAME=value", POSIX) and, where output names a file, stdout there instead.
CliRun RunTolvex(const std::vector<std::string>& args, const std::string& cwd = std::string(),
                 const std::vector<std::string>& environment = {}, const std::string& output = {});

#ifndef _WIN32
// Starts tolvex with the module under test without waiting for it: its
// process id, or -1 (see StartChildProgram).
int StartTolvex(const std::vector<std::string>& args, const ProgramIo& io);
#endif

// True when part occurs in text.
bool Contains(const std::string& text, const std::string& part);

// The fixture of the command-line tests: a folder of sources and one of work,
// the archive in the latter.
class CliTest : public ::testing::Test {
 protected:
  std::string Archive() const { return work_.File("a.tvx"); }
  TempDir src_;
  TempDir work_;
};

}  // namespace tvx::test

#endif
