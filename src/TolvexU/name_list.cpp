#include "TolvexU/name_list.h"

#include <cstring>

namespace tvx::host {

std::vector<std::string> ParseNameList(const char* list) {
  std::vector<std::string> names;
  if (list == nullptr) return names;
  size_t count = 0;
  for (const char* name = list; *name != '\0'; name += std::strlen(name) + 1) ++count;
  names.reserve(count);
  while (*list != '\0') {
    names.emplace_back(list);
    list += names.back().size() + 1;
  }
  return names;
}

}  // namespace tvx::host
