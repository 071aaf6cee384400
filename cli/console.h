// The terminal the tool writes to.
#ifndef TOLVEX_CLI_CONSOLE_H
#define TOLVEX_CLI_CONSOLE_H

#include <string>

#include "os/os.h"

namespace tvx::cli {

using os::StderrIsTerminal;
// Width of the terminal behind stderr; 80 when unknown.
int TerminalColumns();
// Prints "tolvex: message" on stderr, after erasing any progress bar.
void ReportError(const std::string& message);

}  // namespace tvx::cli

#endif
