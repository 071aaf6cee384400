// Text from archives shown to people and scripts: names may hold any bytes,
// and none of them may steer the terminal.
#ifndef TOLVEX_CLI_TERMINAL_TEXT_H
#define TOLVEX_CLI_TERMINAL_TEXT_H

#include <cstddef>
#include <string>

namespace tvx::cli {

// Length of the well-formed UTF-8 sequence of two or more bytes that starts
// at s[i]; 0 for ASCII and for anything ill-formed (overlong forms,
// surrogates, code points above U+10FFFF, cut sequences).
size_t Utf8SequenceLength(const std::string& s, size_t i);

// text with control characters escaped as \xNN: C0 controls, DEL and the C1
// controls (encoded in UTF-8, and on POSIX also as single bytes), so escape
// sequences in a name are shown rather than obeyed.
std::string TerminalSafe(const std::string& text);

// The inverse of TerminalSafe: text as TerminalSafe shows some name gives that
// name (each \xNN it wrote becomes its byte); any other text is returned as
// it is.
std::string FromTerminalSafe(const std::string& text);

}  // namespace tvx::cli

#endif
