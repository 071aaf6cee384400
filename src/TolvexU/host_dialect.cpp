#include "TolvexU/host_dialect.h"

#include <cstdint>
#include <ctime>

#include "commonsU/entry_time.h"
#include "iwcxhead/wcxhead.h"
#include "packU/entry_name.h"

namespace tvx::host {
namespace {

// The host's FileName is a 260-byte array.
constexpr size_t kMaxFileName = 259;

}  // namespace

#ifdef _WIN32

const char kSeparator = '\\';

bool IsListSeparator(char c) { return c == '\\' || c == '/'; }

std::string ReportedName(const ArchiveEntry& entry) {
  const std::string safe = SafeEntryName(entry.name, NameSafetyRules{true});
  return TruncateName(EntryHostName(safe, true, '\\'), kMaxFileName, '\\');
}

int FileTimeOf(const ArchiveEntry& entry) { return static_cast<int>(EntryTimeToDosTime(entry.time)); }

int FileAttrOf(const ArchiveEntry& entry) { return entry.IsDirectory() ? WCX_FILE_ATTRIBUTE_DIRECTORY : 0; }

#else

const char kSeparator = '/';

bool IsListSeparator(char c) { return c == '/'; }

std::string ReportedName(const ArchiveEntry& entry) {
  const std::string safe = SafeEntryName(entry.name, NameSafetyRules{false});
  return TruncateName(safe, kMaxFileName, '/');
}

// mktime consults the time-zone files on every call; listings of many
// entries from the same hour ask for the same offset again and again.
int64_t LocalTimeOfHour(int64_t wallClockHourStart) {
  static int64_t cachedHour = INT64_MIN;
  static int64_t cachedResult = 0;
  if (wallClockHourStart == cachedHour) return cachedResult;
  const CivilTime t = CivilFromSeconds(wallClockHourStart);
  std::tm local{};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_isdst = -1;
  cachedResult = static_cast<int64_t>(std::mktime(&local));
  cachedHour = wallClockHourStart;
  return cachedResult;
}

int FileTimeOf(const ArchiveEntry& entry) {
  const int64_t seconds = entry.time;
  const int64_t hourStart = seconds - ((seconds % 3600) + 3600) % 3600;
  const int64_t local = LocalTimeOfHour(hourStart) + (seconds - hourStart);
  // Wall-clock times near the ends of the 32-bit range can fall outside it
  // once read as local time: report the nearest time FileTime can hold.
  if (local < INT32_MIN) return INT32_MIN;
  if (local > INT32_MAX) return INT32_MAX;
  return static_cast<int>(local);
}

int FileAttrOf(const ArchiveEntry& entry) {
  constexpr int kDirectoryMode = 0040000 | 0755;
  constexpr int kFileMode = 0100000 | 0644;
  return entry.IsDirectory() ? kDirectoryMode : kFileMode;
}

#endif

std::string ListItemToEntryName(const std::string& item) {
  std::string name = item;
  for (char& c : name) {
    if (IsListSeparator(c)) c = '/';
  }
  return name;
}

}  // namespace tvx::host
