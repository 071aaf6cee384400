// The pure conversions every archive passes through: DOS times to entry times
// and back, and stored names to names safe to join to a folder.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commonsU/entry_time.h"
#include "fuzz_scratch.h"
#include "packU/entry_name.h"

namespace {

using tvx::fuzz::Fail;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Years 1980..2037 (entry times are 32-bit), every field in its range.
bool IsValidDosTime(uint32_t dos) {
  const tvx::CivilTime t = tvx::UnpackDosTime(dos);
  return t.year <= 2037 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
         t.hour < 24 && t.minute < 60 && t.second < 60;
}

void CheckTimes(uint32_t value) {
  // Any value converts without undefined behaviour (UBSan watches).
  const int32_t entry = tvx::DosTimeToEntryTime(value);
  (void)tvx::EntryTimeToDosTime(static_cast<int32_t>(value));
  if (IsValidDosTime(value) && tvx::EntryTimeToDosTime(entry) != value) Fail("DOS time does not round trip");

  static const int64_t kFirst = tvx::SecondsFromCivil(1980, 1, 1, 0, 0, 0);
  static const int64_t kLast = tvx::SecondsFromCivil(2037, 12, 31, 23, 59, 58);
  const auto seconds = static_cast<int32_t>(value);
  if (seconds >= kFirst && seconds <= kLast && seconds % 2 == 0) {
    if (tvx::DosTimeToEntryTime(tvx::EntryTimeToDosTime(seconds)) != seconds) Fail("entry time does not round trip");
  }
}

bool IsSeparator(char c, bool windows) { return c == '/' || (windows && (c == '\\' || c == ':')); }

bool HasDrivePrefix(const std::string& name) {
  return name.size() >= 2 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
         name[1] == ':';
}

// The form this system writes: '/'-separated non-empty components other than
// "." and "..", without NUL, an optional trailing '/' (a folder). For the
// Windows rules also no '\', ':' or control character.
// Windows opens these as devices in every folder, whatever follows the
// first dot and however many spaces stand before it.
bool NamesADevice(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  for (const char* device : kDevices) {
    if (stem == device) return true;
  }
  return false;
}

bool IsWrittenForm(const std::string& name, bool windows) {
  if (name.empty()) return false;
  const size_t end = name.back() == '/' ? name.size() - 1 : name.size();
  if (end == 0) return false;
  size_t start = 0;
  while (start <= end) {
    size_t stop = name.find('/', start);
    if (stop == std::string::npos || stop > end) stop = end;
    const std::string component = name.substr(start, stop - start);
    if (component.empty() || component == "." || component == "..") return false;
    if (component.find('\0') != std::string::npos) return false;  // file names never hold one
    if (windows) {
      for (char c : component) {
        if (c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
        if (std::strchr("<>\"|?*", c) != nullptr) return false;  // Windows forbids them in names
      }
      if (component.back() == '.' || component.back() == ' ' || NamesADevice(component)) return false;
    }
    start = stop + 1;
  }
  return true;
}

void CheckSafeName(const std::string& name, bool windows) {
  const tvx::NameSafetyRules rules{windows};
  const std::string safe = tvx::SafeEntryName(name, rules);
  if (!IsWrittenForm(safe, windows)) Fail("SafeEntryName left an unsafe name", safe);
  // The host reads names up to the first NUL: "..\0x" would read as "..".
  if (safe.find('\0') != std::string::npos) Fail("SafeEntryName kept a NUL byte");
  if (tvx::SafeEntryName(safe, rules) != safe) Fail("SafeEntryName is not idempotent", safe);
  if (IsWrittenForm(name, windows) && safe != name) {
    Fail("SafeEntryName changed a well-formed name", name);
  }
  // A folder stays a folder, a file a file (a bare drive prefix names nothing).
  const std::string rest = windows && HasDrivePrefix(name) ? name.substr(2) : name;
  const bool folder = !rest.empty() && IsSeparator(rest.back(), windows);
  if ((safe.back() == '/') != folder) Fail("SafeEntryName changed the kind of entry", name);
}

void CheckTruncate(const std::string& name, size_t limit, char separator) {
  const std::string cut = tvx::TruncateName(name, limit, separator);
  if (cut.size() > limit) Fail("TruncateName exceeded its limit");
  if (name.compare(0, cut.size(), cut) != 0) Fail("TruncateName is not a prefix");
  if (name.size() <= limit && cut != name) Fail("TruncateName cut a name that fitted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 4) CheckTimes(Le32(data));
  if (size < 2) return 0;
  const size_t limit = data[0] | (data[1] & 1) << 8;  // 0..511, around the host's 259
  const std::string name(reinterpret_cast<const char*>(data + 2), size - 2);
  CheckSafeName(name, false);
  CheckSafeName(name, true);
  CheckTruncate(name, limit, '/');
  CheckTruncate(name, limit, '\\');
  return 0;
}
