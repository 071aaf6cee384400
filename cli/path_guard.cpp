#include "path_guard.h"

#include <cctype>
#include <filesystem>
#include <string_view>

namespace tvx::cli {

namespace {

GuardedName Refuse(const char* reason) {
  GuardedName g;
  g.reason = reason;
  return g;
}

// Windows drops trailing dots and spaces from a component, so "..." or ".. "
// would climb a level there.
bool OnlyDotsAndSpaces(std::string_view part) {
  for (char c : part)
    if (c != '.' && c != ' ') return false;
  return true;
}

bool IsDeviceName(std::string_view view) {
  std::string part(view);
  const size_t dot = part.find('.');
  if (dot != std::string::npos) part.resize(dot);
  while (!part.empty() && part.back() == ' ') part.pop_back();
  for (char& c : part) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (part == "CON" || part == "PRN" || part == "AUX" || part == "NUL" || part == "CONIN$" ||
      part == "CONOUT$")
    return true;
  return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
         part[3] >= '1' && part[3] <= '9';
}

}  // namespace

GuardedName GuardEntryName(const HostDialect& d, const std::string& reported) {
  std::string name = reported;
  if (d.leadingSeparator && !name.empty() && name[0] == d.separator) name.erase(0, 1);
  if (name.empty()) return Refuse("empty name");
  if (IsSeparator(d, name[0]) || name[0] == '/' || name[0] == '\\')
    return Refuse("absolute path");
  if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
    return Refuse("drive prefix");
  if (name.find('\0') != std::string::npos) return Refuse("NUL in name");

  GuardedName g;
  size_t i = 0;
  while (i <= name.size()) {
    size_t end = i;
    while (end < name.size() && !IsSeparator(d, name[end])) ++end;
    const std::string_view part = std::string_view(name).substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return Refuse("parent folder (..)");
    if (d.backslashSeparates) {
      if (part.find(':') != std::string::npos) return Refuse("drive or stream prefix (:)");
      if (OnlyDotsAndSpaces(part)) return Refuse("parent folder (..)");
      if (IsDeviceName(part)) return Refuse("device name");
    }
    if (!g.relative.empty()) g.relative += '/';
    g.relative += part;
  }
  if (g.relative.empty()) return Refuse("empty name");
  g.ok = true;
  return g;
}

std::string NativeRelative(const std::string& relative) {
  std::string native = relative;
  for (char& c : native)
    if (c == '/') c = kNativeSeparator;
  return native;
}

std::string TargetPath(const std::string& base, const std::string& relative) {
  std::string target = base;
  if (!target.empty() && target.back() != '/' && target.back() != kNativeSeparator) target += kNativeSeparator;
  return target + NativeRelative(relative);
}

std::string LinkOnTheWay(const std::string& base, const std::string& relative, bool includeLast,
                         const std::unordered_set<std::string>& verified) {
  // A verified folder's own folders were verified with it.
  const size_t deepest = includeLast ? relative.size() : relative.rfind('/');
  if (deepest == std::string::npos) return std::string();
  if (verified.count(relative.substr(0, deepest)) != 0) return std::string();
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const bool last = end == relative.size();
    if (last && !includeLast) break;
    start = end + 1;
    if (verified.count(relative.substr(0, end)) != 0) continue;
    const std::string at = TargetPath(base, relative.substr(0, end));
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(at, ec);
    if (ec || !std::filesystem::exists(status)) break;  // nothing below exists either
    if (std::filesystem::is_symlink(status)) return at;
  }
  return std::string();
}

void NoteVerifiedFolders(const std::string& relative, bool includeLast, std::unordered_set<std::string>& verified) {
  size_t end = includeLast ? relative.size() : relative.rfind('/');
  while (end != std::string::npos && end > 0 && verified.insert(relative.substr(0, end)).second) {
    end = relative.rfind('/', end - 1);
  }
}

}  // namespace tvx::cli
