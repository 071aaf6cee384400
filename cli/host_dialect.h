// How the module on this platform spells names, times and attributes in
// tHeaderData and in the pack and delete lists. Both dialects are compiled on
// every platform so each can be checked anywhere; the tool uses NativeDialect().
#ifndef TOLVEX_CLI_HOST_DIALECT_H
#define TOLVEX_CLI_HOST_DIALECT_H

#include <cstdint>
#include <string>

namespace tvx::cli {

struct HostDialect {
  char separator;            // between folders in names and lists
  bool leadingSeparator;     // header names start with one separator
  bool dosTime;              // FileTime is a DOS date/time, else a Unix time
  bool caseInsensitive;      // names compare without regard to case
  bool backslashSeparates;   // '\' in a user's name is a separator too
};

extern const HostDialect kWindowsDialect;
extern const HostDialect kPosixDialect;
const HostDialect& NativeDialect();

// Broken-down local wall-clock time of an entry.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool valid = false;
};

// True for the characters that separate folders in this dialect.
bool IsSeparator(const HostDialect& d, char c);

// The reported header name without its leading separator (when the dialect
// has one); separators stay as reported.
std::string DisplayName(const HostDialect& d, const std::string& reported);

// A name reduced to compare with: '/' between components, no leading or
// trailing separators, empty and "." components dropped.
std::string CanonicalKey(const HostDialect& d, const std::string& name);

// A canonical key written with the dialect's separator, as lists expect it.
std::string ToHostForm(const HostDialect& d, const std::string& key);

// True when two canonical keys name the same entry.
bool SameKey(const HostDialect& d, const std::string& a, const std::string& b);
// The key in the form that compares equal exactly when SameKey says so, for
// hashing: lower case when the dialect ignores case.
std::string MatchKey(const HostDialect& d, const std::string& key);
// True when key lies below folder (both canonical).
bool KeyIsBelow(const HostDialect& d, const std::string& key, const std::string& folder);

// True when the entry is a folder, judged by the attribute or a trailing separator.
bool IsDirectoryEntry(const HostDialect& d, const std::string& reported, int fileAttr);

// The entry's time as local wall-clock fields.
LocalTime EntryTime(const HostDialect& d, int fileTime);

}  // namespace tvx::cli

#endif
