// The command line: a command, its operands and options.
#ifndef TOLVEX_CLI_ARGUMENTS_H
#define TOLVEX_CLI_ARGUMENTS_H

#include <string>
#include <vector>

namespace tvx::cli {

enum class Command { kNone, kHelp, kVersion, kList, kTest, kExtract, kAdd, kDelete };

struct Options {
  Command command = Command::kNone;
  std::vector<std::string> operands;  // the archive first, then names or paths
  std::string helpTopic;              // for `help CMD` and `CMD --help`
  std::string plugin;                 // --plugin PATH; empty: beside the tool
  std::string directory;              // extract -C DIR
  std::string into;                   // add --into FOLDER
  bool quiet = false;
  bool json = false;
  bool overwrite = false;
  bool move = false;
};

struct ParsedArguments {
  Options options;
  std::string error;  // non-empty: a usage error to show
};

// Parses argv[1..]. Options may stand before or after the command; "--" ends
// them. `CMD --help` turns into the help command for CMD.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// "list", "add", ... for a command; "" for kNone.
const char* CommandName(Command command);

}  // namespace tvx::cli

#endif
