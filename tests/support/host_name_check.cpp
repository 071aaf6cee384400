#include "support/host_name_check.h"

#include <cstring>
#include <string>

namespace tvx::test {

bool HostNameIsSafe(const char* fileName, size_t capacity) {
  if (std::memchr(fileName, '\0', capacity) == nullptr) return false;
  std::string name(fileName);
#ifdef _WIN32
  if (name.size() < 2 || name[0] != '\\') return false;
  name.erase(0, 1);
  if (name.find(':') != std::string::npos) return false;
  for (char& c : name) if (c == '\\') c = '/';
#endif
  if (name.empty() || name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    if (component == "." || component == "..") return false;
    if (component.empty() && end != name.size()) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace tvx::test
