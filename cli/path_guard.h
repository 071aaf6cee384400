// Keeps extraction inside the destination folder whatever names the module
// reports: a name becomes a relative path below the folder or is refused.
#ifndef TOLVEX_CLI_PATH_GUARD_H
#define TOLVEX_CLI_PATH_GUARD_H

#include <string>
#include <unordered_set>

#include "host_dialect.h"
#include "os/os.h"

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

using os::kNativeSeparator;

// The guarded relative path in the platform's own separators.
std::string NativeRelative(const std::string& relative);

// The full target path: base joined with the guarded relative path in the
// platform's own separators.
std::string TargetPath(const std::string& base, const std::string& relative);

// The first symbolic link that already exists on the way from base down to
// base/relative (the last component only when includeLast); empty when
// there is none. Writing through such a link could land outside base, so
// an entry below one is refused. Links above base are the user's choice.
// Folders named in verified (relative, as found to be real folders earlier
// in the same run) are not asked again.
std::string LinkOnTheWay(const std::string& base, const std::string& relative, bool includeLast,
                         const std::unordered_set<std::string>& verified = {});

// Adds the folders on the way to relative (relative itself when includeLast)
// to verified, once they have been checked and made.
void NoteVerifiedFolders(const std::string& relative, bool includeLast, std::unordered_set<std::string>& verified);

}  // namespace tvx::cli

#endif
