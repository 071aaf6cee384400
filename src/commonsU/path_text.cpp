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

std::string JoinPath(const std::string& folder, const std::string& name, char separator,
                     bool (*isSeparator)(char)) {
  // Built in place: a pack joins one path per file.
  const bool between = !(folder.empty() || name.empty() || isSeparator(folder.back()) || isSeparator(name.front()));
  std::string joined;
  joined.reserve(folder.size() + (between ? 1 : 0) + name.size());
  joined += folder;
  if (between) joined += separator;
  joined += name;
  return joined;
}

std::string WithoutTrailingSeparators(std::string path, bool (*isSeparator)(char)) {
  const bool drives = isSeparator(':');
  auto endsInSeparator = [&] { return path.back() != ':' && isSeparator(path.back()); };
  while (path.size() > 1 && endsInSeparator() && !(drives && path[path.size() - 2] == ':')) path.pop_back();
  return path;
}

}  // namespace tvx
