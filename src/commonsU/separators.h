// Which characters separate the components of a name. Header-only and free of
// dependencies, so the platform layer and the command-line host share it.
//
// Two rules, apart on purpose: a ':' separates only where a drive may stand.
// - A path: '/', and on Windows also '\' and ':' ("C:a.txt" is a.txt on C:).
//   A stored entry name is read as a path of the system that extracts it.
// - A name in a host's list or header, always relative to a folder the host
//   chose: '/', and '\' where Windows hosts write it; a ':' is part of a name.
#ifndef TOLVEX_COMMONSU_SEPARATORS_H
#define TOLVEX_COMMONSU_SEPARATORS_H

namespace tvx {

constexpr bool IsPathSeparatorOf(char c, bool windows) {
  return c == '/' || (windows && (c == '\\' || c == ':'));
}

constexpr bool IsListSeparatorOf(char c, bool windows) { return c == '/' || (windows && c == '\\'); }

}  // namespace tvx

#endif
