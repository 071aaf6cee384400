#include "host_dialect.h"

#include <cctype>
#include <ctime>

#include "commonsU/dos_time.h"
#include "commonsU/separators.h"
#include "os/os.h"

namespace tvx::cli {

const HostDialect kWindowsDialect{'\\', true, true, true, true};
const HostDialect kPosixDialect{'/', false, false, false, false};

const HostDialect& NativeDialect() { return os::kWindows ? kWindowsDialect : kPosixDialect; }

bool IsSeparator(const HostDialect& d, char c) { return IsListSeparatorOf(c, d.backslashSeparates); }

std::string DisplayName(const HostDialect& d, const std::string& reported) {
  if (d.leadingSeparator && !reported.empty() && reported[0] == d.separator) return reported.substr(1);
  return reported;
}

std::string CanonicalKey(const HostDialect& d, const std::string& name) {
  std::string key;
  size_t i = 0;
  while (i < name.size()) {
    size_t end = i;
    while (end < name.size() && !IsSeparator(d, name[end])) ++end;
    const size_t length = end - i;
    if (length != 0 && !(length == 1 && name[i] == '.')) {
      if (!key.empty()) key += '/';
      key.append(name, i, length);
    }
    i = end + 1;
  }
  return key;
}

std::string ToHostForm(const HostDialect& d, const std::string& key) {
  std::string out = key;
  for (char& c : out)
    if (c == '/') c = d.separator;
  return out;
}

namespace {

bool CharsEqual(const HostDialect& d, char a, char b) {
  if (!d.caseInsensitive) return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool PrefixEquals(const HostDialect& d, const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (!CharsEqual(d, s[i], prefix[i])) return false;
  return true;
}

}  // namespace

bool SameKey(const HostDialect& d, const std::string& a, const std::string& b) {
  return a.size() == b.size() && PrefixEquals(d, a, b);
}

std::string MatchKey(const HostDialect& d, const std::string& key) {
  if (!d.caseInsensitive) return key;
  std::string folded = key;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

bool KeyIsBelow(const HostDialect& d, const std::string& key, const std::string& folder) {
  if (folder.empty()) return !key.empty();
  return key.size() > folder.size() && key[folder.size()] == '/' && PrefixEquals(d, key, folder);
}

bool IsDirectoryEntry(const HostDialect& d, const std::string& reported, int fileAttr) {
  if (!reported.empty() && IsSeparator(d, reported.back())) return true;
  if (d.dosTime) return (fileAttr & 0x10) != 0;
  return (static_cast<unsigned>(fileAttr) & 0170000u) == 0040000u;
}

LocalTime EntryTime(const HostDialect& d, int fileTime) {
  LocalTime t;
  if (d.dosTime) {
    const CivilTime dos = UnpackDosTime(static_cast<uint32_t>(fileTime));
    t.year = dos.year;
    t.month = dos.month;
    t.day = dos.day;
    t.hour = dos.hour;
    t.minute = dos.minute;
    t.second = dos.second;
    t.valid = t.month >= 1 && t.month <= 12 && t.day >= 1 && t.hour < 24 && t.minute < 60;
    return t;
  }
  const std::time_t when = static_cast<std::time_t>(fileTime);
  std::tm fields{};
  if (!os::LocalTime(when, fields)) return t;
  t.year = fields.tm_year + 1900;
  t.month = fields.tm_mon + 1;
  t.day = fields.tm_mday;
  t.hour = fields.tm_hour;
  t.minute = fields.tm_min;
  t.second = fields.tm_sec;
  t.valid = true;
  return t;
}

}  // namespace tvx::cli
