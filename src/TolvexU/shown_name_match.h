// Which old entries the host means when it names entries back: it names them
// as ReadHeader showed them, which differs from the stored name for names made
// safe (an empty name, a leading '/', "..", a drive, a device name) or
// shortened to fit.
#ifndef TOLVEX_TOLVEXU_SHOWN_NAME_MATCH_H
#define TOLVEX_TOLVEXU_SHOWN_NAME_MATCH_H

#include <string>
#include <vector>

#include "packU/archive.h"

namespace tvx::host {

// One flag per entry of archive: set when the entry's shown name (in entry
// form) is one of names, or lies in one of folders (each ending in '/').
// Empty when no shown name differs from its stored name: the stored names
// then say everything.
std::vector<bool> EntriesNamedAsShown(Archive& archive, const std::vector<std::string>& names,
                                      const std::vector<std::string>& folders);

}  // namespace tvx::host

#endif
