#include "TolvexU/host_dialect.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <unordered_set>

#include "commonsU/entry_time.h"
#include "commonsU/separators.h"
#include "iwcxhead/wcxhead.h"
#include "packU/entry_name.h"

namespace tvx::host {
namespace {

// The host's FileName is a 260-byte array.
constexpr size_t kMaxFileName = 259;

// The whole name in host form, made safe, however long (dialect below).
std::string FullHostForm(const std::string& name);

// 64-bit FNV-1a: two different stored names practically never share it.
uint64_t NameHash(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// A name that fits the host's FileName and still tells this entry from every
// other long one: its leading part (cut at a separator when one lies in the
// second half), then "~" and the hash of the whole stored name (and "-n" on
// the n-th try), and a folder's trailing separator, so the kind stays visible.
std::string ShortenedHostForm(const std::string& fullForm, const ArchiveEntry& entry, unsigned attempt) {
  static const char kHex[] = "0123456789abcdef";
  std::string suffix = "~";
  const uint64_t hash = NameHash(entry.name);
  for (int shift = 60; shift >= 0; shift -= 4) suffix.push_back(kHex[(hash >> shift) & 0xF]);
  if (attempt > 0) suffix += "-" + std::to_string(attempt);
  const bool folder = entry.IsDirectory();
  std::string body = fullForm;
  if (folder && !body.empty() && body.back() == kSeparator) body.pop_back();
  const size_t room = kMaxFileName - suffix.size() - (folder ? 1 : 0);
  std::string shown = TruncateName(body, room, kSeparator);
  // File systems take 255 bytes per name: the suffix must not push the last
  // component beyond that.
  constexpr size_t kMaxComponent = 255;
  const size_t lastSeparator = shown.rfind(kSeparator);
  const size_t componentStart = lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
  if (shown.size() - componentStart + suffix.size() > kMaxComponent) {
    shown.resize(componentStart + kMaxComponent - suffix.size());
  }
  shown += suffix;
  if (folder) shown.push_back(kSeparator);
  return shown;
}

}  // namespace

// The names of the archive's entries whose host form fits unshortened.
struct ShownNameIndex {
  std::unordered_set<std::string> fitting;
};

namespace {

// True when an entry whose name fits shows exactly as `shown`. The index is
// made once per archive, so a listing of many long names stays linear.
bool ShownByAnotherEntry(ArchiveHandle& handle, const std::string& shown) {
  if (!handle.shownNames) {
    auto index = std::make_shared<ShownNameIndex>();
    for (const ArchiveEntry& entry : handle.archive->entries()) {
      std::string form = FullHostForm(entry.name);
      if (form.size() <= kMaxFileName) index->fitting.insert(std::move(form));
    }
    handle.shownNames = std::move(index);
  }
  return handle.shownNames->fitting.count(shown) != 0;
}

}  // namespace

#ifdef _WIN32

const char kSeparator = '\\';
const bool kCaseBlindNames = true;

bool IsListSeparator(char c) { return IsListSeparatorOf(c, true); }

namespace {
std::string FullHostForm(const std::string& name) {
  return EntryHostName(SafeEntryName(name, NameSafetyRules{true}), true, '\\');
}
}  // namespace

// A safe name has no '\', so the leading separator and the '\' of its host
// form are all that ShownEntryForm undoes.
bool ShownAsStored(const std::string& entryName) {
  return entryName.size() + 1 <= kMaxFileName && AlreadySafe(entryName, NameSafetyRules{true});
}

// The host reads only DOS dates: a time outside them is shown as the nearest.
int FileTimeOf(ArchiveHandle&, const ArchiveEntry& entry) { return static_cast<int>(NearestDosTime(entry.time)); }

int FileAttrOf(const ArchiveEntry& entry) { return entry.IsDirectory() ? WCX_FILE_ATTRIBUTE_DIRECTORY : 0; }

#else

const char kSeparator = '/';
const bool kCaseBlindNames = false;

bool IsListSeparator(char c) { return IsListSeparatorOf(c, false); }

namespace {
std::string FullHostForm(const std::string& name) { return SafeEntryName(name, NameSafetyRules{false}); }
}  // namespace

// A safe name has no leading '/': its host form is itself.
bool ShownAsStored(const std::string& entryName) {
  return entryName.size() <= kMaxFileName && AlreadySafe(entryName, NameSafetyRules{false});
}

// mktime consults the time-zone files on every call; listings of many
// entries from the same hour ask for the same offset again and again, so the
// archive remembers the last answer.
int64_t LocalTimeOfHour(ArchiveHandle::LocalHour& cache, int64_t wallClockHourStart) {
  if (wallClockHourStart == cache.wallClock) return cache.local;
  const CivilTime t = CivilFromSeconds(wallClockHourStart);
  std::tm local{};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_isdst = -1;
  cache.local = static_cast<int64_t>(std::mktime(&local));
  cache.wallClock = wallClockHourStart;
  return cache.local;
}

int FileTimeOf(ArchiveHandle& handle, const ArchiveEntry& entry) {
  const int64_t seconds = entry.time;
  const int64_t hourStart = seconds - ((seconds % 3600) + 3600) % 3600;
  const int64_t local = LocalTimeOfHour(handle.localHour, hourStart) + (seconds - hourStart);
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

std::string ReportedName(const ArchiveEntry& entry) {
  std::string shown = FullHostForm(entry.name);
  return shown.size() <= kMaxFileName ? shown : ShortenedHostForm(shown, entry, 0);
}

std::string ShownName(ArchiveHandle& handle, size_t index) {
  const ArchiveEntry& entry = handle.archive->entries()[index];
  const std::string full = FullHostForm(entry.name);
  if (full.size() <= kMaxFileName) return full;
  // Only a name written to collide (another entry named like this one's
  // shortened form) makes a second try necessary.
  for (unsigned attempt = 0;; ++attempt) {
    std::string shown = ShortenedHostForm(full, entry, attempt);
    if (!ShownByAnotherEntry(handle, shown)) return shown;
  }
}

std::string ShownEntryForm(ArchiveHandle& handle, size_t index) {
  std::string shown = ShownName(handle, index);
  if (!shown.empty() && shown.front() == kSeparator) shown.erase(0, 1);
  return ListItemToEntryName(shown);
}

bool NameFitsHost(const std::string& entryName) { return FullHostForm(entryName).size() <= kMaxFileName; }

std::string ListItemToEntryName(const std::string& item) {
  std::string name = item;
  for (char& c : name) {
    if (IsListSeparator(c)) c = '/';
  }
  return name;
}

}  // namespace tvx::host
