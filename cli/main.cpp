// tolvex: the command-line host of the Tolvex packer module.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "console.h"
#include "help_text.h"
#include "interrupt_cleanup.h"
#include "plugin_module.h"
#include "result_text.h"

#ifndef TOLVEX_CLI_VERSION
#define TOLVEX_CLI_VERSION "0.0.0"
#endif

namespace {

using namespace tvx::cli;

int Dispatch(const Options& options, const PluginModule& module) {
  switch (options.command) {
    case Command::kList: return RunList(options, module);
    case Command::kTest: return RunTest(options, module);
    case Command::kExtract: return RunExtract(options, module);
    case Command::kAdd: return RunAdd(options, module);
    case Command::kDelete: return RunDelete(options, module);
    default: return kExitUnusable;
  }
}

// Output that never reached its file (a full disk, /dev/full) is a failure
// like any other: a listing cut short must not pass for a whole one. A reader
// that went away (a closed pipe) asked for no more, and hears nothing.
int WithOutputWritten(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return status;
  if (errno == EPIPE) return status;
  ReportError(std::string("cannot write the output: ") + (errno != 0 ? std::strerror(errno) : "write error"));
  return kExitUnusable;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(HelpText("").c_str(), stderr);
    return kExitUnusable;
  }
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.error.empty()) {
    ReportError(parsed.error);
    const char* command = CommandName(parsed.options.command);
    std::fprintf(stderr, "Try 'tolvex help%s%s'.\n", *command ? " " : "", command);
    return kExitUnusable;
  }
  const Options& options = parsed.options;
  if (options.command == Command::kVersion) {
    std::printf("tolvex %s\n", TOLVEX_CLI_VERSION);
    return kExitOk;
  }
  if (options.command == Command::kHelp) {
    const std::string text = HelpText(options.helpTopic);
    if (text.empty()) {
      ReportError("no help for: " + options.helpTopic);
      return kExitUnusable;
    }
    std::fputs(text.c_str(), stdout);
    return kExitOk;
  }

  const std::string modulePath = options.plugin.empty() ? DefaultModulePath() : options.plugin;
  PluginModule::LoadResult loaded = PluginModule::Load(modulePath);
  if (!loaded.module) {
    ReportError(loaded.error);
    return kExitUnusable;
  }
  // A signal that came when no work of the module could stop for it still
  // says so in the exit status.
  return InterruptExitStatus(Dispatch(options, *loaded.module));
}

}  // namespace

int main(int argc, char** argv) { return WithOutputWritten(Run(argc, argv)); }
