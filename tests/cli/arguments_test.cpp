// The command line as users type it.
#include "arguments.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tvx::cli {
namespace {

// Everything the parser made of the words of line ('' is an empty word) in one line, or "! " and
// its usage error.
std::string Parsed(const std::string& line) {
  std::vector<std::string> args;
  std::istringstream words(line);
  for (std::string word; words >> word;) args.push_back(word == "''" ? std::string() : word);
  const ParsedArguments p = ParseArguments(args);
  if (!p.error.empty()) return "! " + p.error;
  const Options& o = p.options;
  std::string text = CommandName(o.command);
  for (const std::string& operand : o.operands) text += " " + operand;
  for (const auto& [key, value] : {std::pair<const char*, std::string>{" topic=", o.helpTopic}, {" plugin=", o.plugin},
                                   {" -C=", o.directory}, {" into=", o.into}})
    if (!value.empty()) text += key + value;
  for (const auto& [key, on] : {std::pair<const char*, bool>{" quiet", o.quiet}, {" json", o.json},
                                {" overwrite", o.overwrite}, {" move", o.move}})
    if (on) text += key;
  return text;
}

// Options may stand before or after the command, "--" ends them, and an
// option of another command is refused.
TEST(CliArguments, OptionsHelpAndUsageErrors) {
  const std::pair<const char*, const char*> rows[] = {
      {"--quiet extract a.tvx -C out docs --overwrite --plugin=/x/Tolvex.wcx",
       "extract a.tvx docs plugin=/x/Tolvex.wcx -C=out quiet overwrite"},
      {"add a.tvx x y --move --into sub/dir", "add a.tvx x y into=sub/dir move"},
      {"delete a.tvx -- --json", "delete a.tvx --json"}, {"--help", "help"}, {"help add", "help add topic=add"},
      {"add --help", "help topic=add"}, {"list -V", "version"}, {"test a.tvx --json", "test a.tvx json"},
      {"", "! no command given"}, {"frobnicate a.tvx", "! unknown command: frobnicate"},
      {"list", "! no archive given"}, {"list a.tvx b.tvx", "! too many operands for list: b.tvx"},
      {"add a.tvx", "! nothing to add: name files or folders after the archive"},
      {"delete a.tvx", "! nothing to delete: name entries after the archive"},
      {"list a.tvx --bogus", "! unknown option: --bogus"}, {"extract a.tvx -C", "! option -C needs a value"},
      {"list a.tvx --quiet=yes", "! option --quiet takes no value"},
      {"extract a.tvx --directory=", "! option -C needs a folder"},
      {"extract a.tvx -C=out", "! unknown option: -C=out"},
      {"test a.tvx --move", "! option --move does not apply to test"},
      {"add a.tvx x --json", "! option --json does not apply to add"},
      {"list a.tvx --move", "! option --move does not apply to list"},
      {"test a.tvx -C out", "! option -C does not apply to test"},
      {"extract a.tvx --into x", "! option --into does not apply to extract"},
      // An empty word ('') is never a name.
      {"add '' x", "! the archive name is empty"}, {"list ''", "! the archive name is empty"},
      {"add a.tvx ''", "! an empty path: name a file or folder to add"},
      {"delete a.tvx ''", "! an empty name: name an entry or folder of the archive"},
      {"extract a.tvx x ''", "! an empty name: name an entry or folder of the archive"},
      {"add a x --into=", "! option --into needs a folder"}, {"test a.tvx --plugin ''", "! option --plugin needs a module"}};
  for (const auto& [line, parsed] : rows) EXPECT_EQ(Parsed(line), parsed) << line;
}

}  // namespace
}  // namespace tvx::cli
