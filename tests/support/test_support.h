// Helpers shared by all Tolvex tests: scratch folders, whole-file I/O, readable
// byte dumps and where the built module lives.
//
// Paths are 8-bit strings in the system's code page, the same form the module's
// interface takes. No function throws; failures come back as values.
#ifndef TOLVEX_TESTS_SUPPORT_TEST_SUPPORT_H
#define TOLVEX_TESTS_SUPPORT_TEST_SUPPORT_H

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tvx::test {

// Built with AddressSanitizer: tests that limit the address space or measure
// memory skip themselves there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A fresh, uniquely named directory under the system's temp folder, removed
// with everything in it when the object is destroyed.
// If it cannot be created, path() is empty (and the test will fail on first use).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing separator.
  const std::string& path() const { return path_; }
  // path() + NativeSeparator() + name. The file is not created.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Creates or replaces the file with exactly these bytes. False on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The file's whole content; empty when it is missing or unreadable.
std::string ReadFileBytes(const std::string& path);
// True when anything (file or directory) exists at path.
bool PathExists(const std::string& path);
// The names of the files in folder (not recursive), sorted.
std::vector<std::string> FolderListing(const std::string& folder);
// Everything below root by its name there ('/' separators): "dir" for a
// folder, "file:" + content for a file (from 16 MiB on, its size), "link:" +
// target for a link, "node:" for anything else; with `times`, "@" and the
// last-write time after each.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const std::string& root, bool times = false);
// What changed in a tree, by name: "+" what came, "-" what went, "~" what
// changed; "=" and the bytes of each file but an archive that came or changed
// (past 64 bytes, their count). Empty when nothing did.
std::string Changes(const Tree& before, const Tree& after);
// "\\" on Windows, "/" elsewhere.
std::string NativeSeparator();
// The path with every '/' turned into the native separator.
std::string NativePath(std::string path);
// The bytes as two-digit lowercase hex pairs separated by spaces, e.g. "00 7f ff".
std::string Hex(const std::string& bytes);

// Full path of the built module (Tolvex.wcx / Tolvex.wcx64) as this test
// program sees it, with native separators.
std::string ModulePath();
// True when this Windows test program runs under Wine rather than Windows.
// Use it to skip a case that depends on behaviour Wine does not reproduce:
//   if (tvx::test::RunningUnderWine()) GTEST_SKIP() << "why";
bool RunningUnderWine();

// Runs job(0) on this thread and job(1) ... job(count - 1) on threads of
// their own, all at once, and waits for them (the Win32-thread compilers have
// no std::thread).
void OnThreads(int count, const std::function<void(int)>& job);

// The local date and time as a time_t, as mktime reads it (daylight saving
// decided by the system); -1 when it cannot be represented.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second);

// A file's last-write time in seconds since 1970 UTC, set and read without
// any time-zone conversion; -1 when it cannot be read.
bool SetUtcModifiedTime(const std::string& path, int64_t utcSeconds);
int64_t UtcModifiedTime(const std::string& path);

// Sets environment variables for the object's life, for this process (and
// the module loaded into it) and the programs it starts; TZ is read again at
// once. (Windows programs under Wine take the zone they started in, whatever
// a parent sets.)
class EnvironmentGuard {
 public:
  EnvironmentGuard(std::initializer_list<const char*> names, const std::string& value);
  ~EnvironmentGuard();
  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
#ifndef _WIN32
struct TimeZoneGuard : EnvironmentGuard {
  explicit TimeZoneGuard(const char* zone) : EnvironmentGuard({"TZ"}, zone) {}
};
#endif

// "YYYY-MM-DD hh:mm:ss" of anything with the six calendar fields, so that a
// test compares a whole time at once and a failure shows all of it.
std::string ClockText(int year, int month, int day, int hour, int minute, int second);
template <typename Time>
std::string ClockText(const Time& t) {
  return ClockText(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace tvx::test

#endif
