// The progress bar on stderr, driven by the module's progress callback. The
// callback carries no context, so the state lives in this file.
#ifndef TOLVEX_CLI_PROGRESS_H
#define TOLVEX_CLI_PROGRESS_H

#include <cstdint>
#include <string>

#include "iwcxhead/wcxhead.h"

namespace tvx::cli {

// Starts counting towards total bytes; draws only when enabled.
void ProgressBegin(int64_t total, bool enabled);
// Erases the bar and stops drawing.
void ProgressEnd();
// Erases the bar for a moment so a message can be printed; the next callback
// draws it again.
void ProgressClearLine();
// Bytes reported so far since ProgressBegin.
int64_t ProgressDone();

// Given to SetProcessDataProc: counts size bytes done after name (or, for
// -1000..-1100, sets the share of the whole done). Answers 0, which stops the
// module's work, once a signal asked to stop (InterruptCleanup).
int WCX_API ProgressCallback(char* name, int size);

// One line of the bar fitting width columns, e.g.
// "[#####     ]  50%  1.0 MiB/2.0 MiB  512 KiB/s  docs/a.txt".
std::string FormatProgressLine(int64_t done, int64_t total, double seconds,
                               const std::string& name, int width);

// "0 B", "12.5 KiB", "3.0 MiB", ...
std::string FormatBytes(int64_t bytes);

}  // namespace tvx::cli

#endif
