#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <system_error>

#include "support/windows_headers.h"

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <utime.h>

#include <thread>
#endif

namespace fs = std::filesystem;

namespace tvx::test {
namespace {

// Random enough that parallel test processes never pick the same name; the
// create below still refuses a directory that already exists.
std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char name[64];
  std::snprintf(name, sizeof name, "tolvex-test-%08x-%04x-%08x", device(),
                counter.fetch_add(1) & 0xFFFFu, static_cast<unsigned>(ticks));
  return name;
}

// Read-only files (and on POSIX read-only directories) would stop remove_all;
// tests do make such files, e.g. when attributes are extracted.
void MakeTreeWritable(const fs::path& root) {
  std::error_code ec;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code ignored;
    // Never follow a link out of the scratch folder.
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
}

std::optional<std::string> Variable(const char* name) {
#ifdef _WIN32
  char buffer[32768];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
#else
  const char* value = getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
#endif
}

void SetVariable(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
#else
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  tzset();
#endif
}
}  // namespace

TempDir::TempDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / UniqueName();
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  MakeTreeWritable(path_);
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + NativeSeparator() + name;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string ReadFileBytes(const std::string& path) {
  // A folder opens as a stream on Linux and then throws on the first read.
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::string();
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Tree Snapshot(const std::string& root, bool times) {
  Tree tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string relative = fs::relative(it->path(), root, ec).generic_string(), path = it->path().string();
    tree[relative] = it->is_symlink()        ? "link:" + fs::read_symlink(path, ec).string()
                     : it->is_directory()    ? "dir"
                     : it->is_regular_file() ? "file:" + (it->file_size() >> 24 ? std::to_string(it->file_size())
                                                                                 : ReadFileBytes(path))
                                             : "node:";
    if (times) tree[relative] += "@" + std::to_string(UtcModifiedTime(path));
  }
  return tree;
}

std::string Changes(const Tree& before, const Tree& after) {
  std::set<std::string> names;
  for (const Tree* tree : {&before, &after})
    for (const auto& item : *tree) names.insert(item.first);
  std::string text;
  for (const std::string& name : names) {
    const auto was = before.find(name), now = after.find(name);
    if (was != before.end() && now != after.end() && was->second == now->second) continue;
    text += (text.empty() ? "" : " ") + std::string(now == after.end() ? "-" : was == before.end() ? "+" : "~") + name;
    if (now == after.end() || now->second == "dir" || fs::path(name).extension() == ".tvx") continue;
    const std::string bytes = now->second.substr(5);
    text += "=" + (bytes.size() > 64 ? std::to_string(bytes.size()) + " bytes" : bytes);
  }
  return text;
}

std::string NativeSeparator() {
#ifdef _WIN32
  return "\\";
#else
  return "/";
#endif
}

std::string NativePath(std::string path) {
#ifdef _WIN32
  for (char& c : path) if (c == '/') c = '\\';
#endif
  return path;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char pair[4];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, out.empty() ? "%02x" : " %02x", byte);
    out += pair;
  }
  return out;
}

std::string ModulePath() { return NativePath(TOLVEX_MODULE_PATH); }

bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#ifdef _WIN32
namespace {
struct ThreadTask {
  const std::function<void(int)>* job;
  int index;
};

DWORD WINAPI RunThreadTask(LPVOID parameter) {
  const ThreadTask* task = static_cast<const ThreadTask*>(parameter);
  (*task->job)(task->index);
  return 0;
}
}  // namespace
#endif

void OnThreads(int count, const std::function<void(int)>& job) {
#ifdef _WIN32
  std::vector<ThreadTask> tasks;
  for (int i = 1; i < count; ++i) tasks.push_back({&job, i});
  std::vector<HANDLE> threads;
  for (ThreadTask& task : tasks) threads.push_back(CreateThread(nullptr, 0, RunThreadTask, &task, 0, nullptr));
  if (count > 0) job(0);
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
#else
  std::vector<std::thread> threads;
  for (int i = 1; i < count; ++i) threads.emplace_back(job, i);
  if (count > 0) job(0);
  for (std::thread& thread : threads) thread.join();
#endif
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

#ifdef _WIN32
namespace {
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
}  // namespace

bool SetUtcModifiedTime(const std::string& path, int64_t utcSeconds) {
  const uint64_t ticks = static_cast<uint64_t>((utcSeconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool set = SetFileTime(h, nullptr, nullptr, &time) != 0;
  CloseHandle(h);
  return set;
}

int64_t UtcModifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  return static_cast<int64_t>(ticks) / kTicksPerSecond - kSecondsFrom1601To1970;
}

#else
bool SetUtcModifiedTime(const std::string& path, int64_t utcSeconds) {
  const struct utimbuf times = {static_cast<time_t>(utcSeconds), static_cast<time_t>(utcSeconds)};
  return utime(path.c_str(), &times) == 0;
}

int64_t UtcModifiedTime(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

#endif

EnvironmentGuard::EnvironmentGuard(std::initializer_list<const char*> names, const std::string& value) {
  for (const char* name : names) {
    saved_.emplace_back(name, Variable(name));
    SetVariable(name, value);
  }
}

EnvironmentGuard::~EnvironmentGuard() {
  for (const auto& [name, value] : saved_) SetVariable(name.c_str(), value);
}

std::string ClockText(int year, int month, int day, int hour, int minute, int second) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

}  // namespace tvx::test
