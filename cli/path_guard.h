// Keeps extraction inside the destination folder whatever names the module
// reports: a name becomes a relative path below the folder or is refused.
#ifndef TOLVEX_CLI_PATH_GUARD_H
#define TOLVEX_CLI_PATH_GUARD_H

#include <string>

#include "host_dialect.h"

namespace tvx::cli {

struct GuardedName {
  bool ok = false;
  std::string relative;  // components joined with '/', no leading or trailing separator
  std::string reason;    // why the name was refused
};

// Accepts a reported header name only when it stays below the destination:
// no ".." component, not absolute, no drive or stream prefix (':'), and on
// Windows no component that the system would shorten to ".." or turn into a
// device. The dialect's single leading separator is allowed.
GuardedName GuardEntryName(const HostDialect& d, const std::string& reported);

// The full target path: base joined with the guarded relative path in the
// platform's own separators.
std::string TargetPath(const std::string& base, const std::string& relative);

}  // namespace tvx::cli

#endif
