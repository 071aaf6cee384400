// The tool's help pages.
#ifndef TOLVEX_CLI_HELP_TEXT_H
#define TOLVEX_CLI_HELP_TEXT_H

#include <string>

namespace tvx::cli {

// The page for a command ("add", "list", ...), or the overview for "".
// Empty for an unknown topic.
std::string HelpText(const std::string& topic);

}  // namespace tvx::cli

#endif
