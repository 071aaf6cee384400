// The tool's commands. Each returns the process exit status (ExitStatus).
#ifndef TOLVEX_CLI_COMMANDS_H
#define TOLVEX_CLI_COMMANDS_H

#include "arguments.h"
#include "plugin_module.h"

namespace tvx::cli {

int RunList(const Options& options, const PluginModule& module);
int RunTest(const Options& options, const PluginModule& module);
int RunExtract(const Options& options, const PluginModule& module);
int RunAdd(const Options& options, const PluginModule& module);
int RunDelete(const Options& options, const PluginModule& module);

// True when the progress bar should be drawn for these options.
bool ProgressWanted(const Options& options);

}  // namespace tvx::cli

#endif
