// Plain sentences for the module's result codes, and the tool's exit statuses.
#ifndef TOLVEX_CLI_RESULT_TEXT_H
#define TOLVEX_CLI_RESULT_TEXT_H

#include <string>

namespace tvx::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitSomeFailed = 1,  // the archive was usable, but some entries failed
  kExitUnusable = 2,    // bad usage, or no usable archive or module
};

// One sentence naming what went wrong and the path it concerns,
// e.g. "archive is damaged: x.tvx".
std::string DescribeResult(int code, const std::string& path);

// "1 entry", "3 entries": counts in the summaries.
std::string CountOf(long long n, const char* one, const char* many);

// True for codes that say the archive as a whole cannot be used.
bool IsArchiveLevelFailure(int code);

// The exit status for a failed PackFiles or DeleteFiles call.
ExitStatus ExitStatusForArchiveCall(int code);

}  // namespace tvx::cli

#endif
