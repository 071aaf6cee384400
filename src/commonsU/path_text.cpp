#include "commonsU/path_text.h"

namespace tvx {

std::string ReplaceExtension(const std::string& path, const std::string& tail) {
  const size_t dot = path.rfind('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + tail;
}

std::string FileNamePart(const std::string& path, bool (*isSeparator)(char)) {
  for (size_t i = path.size(); i > 0; --i) {
    if (isSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

}  // namespace tvx
