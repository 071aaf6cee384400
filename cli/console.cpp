#include "console.h"

#include <cstdio>
#include <cstdlib>

#include "progress.h"
#include "terminal_text.h"

namespace tvx::cli {

int TerminalColumns() {
  if (int columns = 0; os::StderrColumns(columns)) return columns;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int n = std::atoi(columns);
    if (n > 0) return n;
  }
  return 80;
}

void ReportError(const std::string& message) {
  ProgressClearLine();
  // Messages carry names from archives and the disk.
  std::fprintf(stderr, "tolvex: %s\n", TerminalSafe(message).c_str());
  std::fflush(stderr);
}

}  // namespace tvx::cli
