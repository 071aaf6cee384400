// The host's lists of names: NUL-terminated strings back to back, ended by an
// empty string.
#ifndef TOLVEX_TOLVEXU_NAME_LIST_H
#define TOLVEX_TOLVEXU_NAME_LIST_H

#include <string>
#include <vector>

namespace tvx::host {

// The names in list order. A null list, or one that begins with a NUL, is empty.
std::vector<std::string> ParseNameList(const char* list);

}  // namespace tvx::host

#endif
