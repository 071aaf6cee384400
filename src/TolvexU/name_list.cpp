#include "TolvexU/name_list.h"

namespace tvx::host {

std::vector<std::string> ParseNameList(const char* list) {
  std::vector<std::string> names;
  if (list == nullptr) return names;
  while (*list != '\0') {
    names.emplace_back(list);
    list += names.back().size() + 1;
  }
  return names;
}

}  // namespace tvx::host
