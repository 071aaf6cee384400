#include "interrupt_cleanup.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "iwcxhead/wcxhead.h"

namespace tvx::cli {

namespace {

// Fixed buffers: the handler may not allocate.
constexpr size_t kPathCapacity = 4096;
constexpr int kSideFiles = 9;  // <archive>.tvxnew, .tvxnew2 ... .tvxnew9
char g_folder[kPathCapacity];
char g_side_files[kSideFiles][kPathCapacity];
// The archive a PackFiles or DeleteFiles call changes, as it was before.
char g_archive[kPathCapacity];
#ifndef _WIN32
struct stat g_archive_before;
bool g_archive_existed = false;
#endif
// The file an extraction writes (the target or its partial file) while the
// module writes it.
char g_extracted_file[kPathCapacity];
std::atomic<bool> g_cleaning{false};
// The first signal's number: the work stops at the module's next report.
std::atomic<int> g_signal{0};

// Notes the first signal; true when one was noted before (the second asks
// not to wait).
bool NoteSignal(int signalNumber) {
  int none = 0;
  return !g_signal.compare_exchange_strong(none, signalNumber);
}

// The first character goes last: a handler that runs in between sees an empty
// path, never a new start on an old end (which could name another file).
bool CopyPath(char* to, const std::string& from) {
  if (from.empty() || from.size() + 1 > kPathCapacity) return false;
  std::memcpy(to + 1, from.c_str() + 1, from.size());
  std::atomic_thread_fence(std::memory_order_seq_cst);
  to[0] = from[0];
  return true;
}

#ifdef _WIN32
void RemoveFolderContents(const char* folder) {
  char pattern[kPathCapacity + 4];
  std::snprintf(pattern, sizeof pattern, "%s\\*", folder);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    char path[kPathCapacity + MAX_PATH + 2];
    std::snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(path);
  } while (FindNextFileA(h, &found));
  FindClose(h);
}

void CleanUp() {
  if (g_cleaning.exchange(true)) return;
  if (g_folder[0]) {
    RemoveFolderContents(g_folder);
    RemoveDirectoryA(g_folder);
  }
  for (char* side : g_side_files)
    if (side[0]) DeleteFileA(side);
  if (g_extracted_file[0]) DeleteFileA(g_extracted_file);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // This runs on a thread of its own while the module works on.
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  const int signalNumber = interrupt ? 2 : 1;
  if (!NoteSignal(signalNumber)) {
    if (interrupt) return TRUE;
    // A closed console ends the process once this returns: the main thread
    // gets a few seconds to stop the module's work and exit first.
    Sleep(4000);
  }
  // A file the module holds open cannot be deleted yet; it stays in
  // tolvex's own folder, where it is easy to find.
  CleanUp();
  ExitProcess(128 + g_signal.load());
  return TRUE;
}

// A file the module works on is open and cannot be deleted: the finished new
// archive it copies over the old one stays.
void RecordArchive(const std::string&) {}

void RemoveFolderIfEmpty(const char* folder) { RemoveDirectoryA(folder); }

void InstallHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
void RemoveHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

std::string MakeFolder() {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return std::string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("tolvex-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(candidate, ec) && !ec) return candidate.string();
  }
  return std::string();
}

void PointEnvironmentAt(const std::string& folder) {
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
}
#else
// Only async-signal-safe calls from here on (opendir and readdir are safe on
// glibc in practice; nothing here allocates after the folder is opened).
void RemoveFolderContents(const char* folder) {
  DIR* dir = ::opendir(folder);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    char path[kPathCapacity + 256];
    const size_t folderLength = std::strlen(folder);
    const size_t nameLength = std::strlen(entry->d_name);
    if (folderLength + nameLength + 2 > sizeof path) continue;
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, entry->d_name, nameLength + 1);
    ::unlink(path);
  }
  ::closedir(dir);
}

// Once the archive is no longer what it was, the module is putting the new
// one in its place: overwritten in place (the last resort), the finished new
// archive in the temporary folder may be the only whole copy.
bool ArchiveChanged() {
  if (!g_archive[0]) return false;
  struct stat now {};
  if (::stat(g_archive, &now) != 0) return g_archive_existed;
  const struct stat& was = g_archive_before;
  return !g_archive_existed || now.st_dev != was.st_dev || now.st_ino != was.st_ino ||
         now.st_size != was.st_size || now.st_mtim.tv_sec != was.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != was.st_mtim.tv_nsec;
}

void CleanUp() {
  if (g_cleaning.exchange(true)) return;
  if (g_folder[0]) {
    if (!ArchiveChanged()) RemoveFolderContents(g_folder);
    ::rmdir(g_folder);
  }
  for (char* side : g_side_files)
    if (side[0]) ::unlink(side);
  if (g_extracted_file[0]) ::unlink(g_extracted_file);
}

void RecordArchive(const std::string& archive) {
  g_archive[0] = '\0';
  g_archive_existed = ::stat(archive.c_str(), &g_archive_before) == 0;
  CopyPath(g_archive, archive);
}

void RemoveFolderIfEmpty(const char* folder) { ::rmdir(folder); }

void OnSignal(int signalNumber) {
  if (!NoteSignal(signalNumber)) return;
  CleanUp();
  ::_exit(128 + g_signal.load());
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void InstallHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigfillset(&action.sa_mask);  // one handler at a time
  for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

void RemoveHandlers() {
  for (int s : kSignals) std::signal(s, SIG_DFL);
}

std::string MakeFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string pattern = env && env[0] ? env : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "tolvex-XXXXXX";
  if (!::mkdtemp(pattern.data())) return std::string();
  return pattern;
}

void PointEnvironmentAt(const std::string& folder) { ::setenv("TMPDIR", folder.c_str(), 1); }
#endif

}  // namespace

InterruptCleanup::InterruptCleanup() {
  std::memset(g_side_files, 0, sizeof g_side_files);
  g_extracted_file[0] = '\0';
  g_archive[0] = '\0';
  g_folder[0] = '\0';
  folder_ = MakeFolder();
  if (!folder_.empty() && CopyPath(g_folder, folder_)) {
    PointEnvironmentAt(folder_);
  } else {
    folder_.clear();
  }
  InstallHandlers();
}

int InterruptCleanup::Signal() { return g_signal.load(); }

bool InterruptCleanup::StoppedTheCall(int result) {
  if (g_signal.load() == 0) return false;
  if (result == E_EABORTED) return true;
  g_signal.store(0);
  return false;
}

int InterruptExitStatus(int status) {
  const int signalNumber = g_signal.load();
  return signalNumber != 0 ? 128 + signalNumber : status;
}

InterruptCleanup::~InterruptCleanup() {
  // What the command said goes out first: a signal after the handlers are
  // gone ends the process the default way, without flushing stdio.
  std::fflush(stdout);
  RemoveHandlers();
  // Side files of a finished call are the module's business, and so is what
  // it left in the folder: only a finished new archive it could not put in
  // the old one's place (KeptFiles).
  std::memset(g_side_files, 0, sizeof g_side_files);
  g_extracted_file[0] = '\0';
  g_archive[0] = '\0';
  if (g_folder[0]) RemoveFolderIfEmpty(g_folder);
}

std::vector<std::string> InterruptCleanup::KeptFiles() const {
  std::vector<std::string> kept;
  std::error_code ec;
  if (folder_.empty()) return kept;
  for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    kept.push_back(it->path().string());
  }
  return kept;
}

void InterruptCleanup::WatchSideFilesOf(const std::string& archive) {
  RecordArchive(archive);
  std::error_code ec;
  for (int n = 0; n < kSideFiles; ++n) {
    const std::string side = archive + ".tvxnew" + (n == 0 ? std::string() : std::to_string(n + 1));
    g_side_files[n][0] = '\0';
    if (!std::filesystem::exists(std::filesystem::symlink_status(side, ec))) CopyPath(g_side_files[n], side);
  }
}

void InterruptCleanup::WatchExtractionTo(const std::string& target, bool absent) {
  ExtractionDone();
  if (absent) {
    CopyPath(g_extracted_file, target);
    return;
  }
  // A new name is written in place; an existing one is replaced through the
  // first free partial name, as the module picks it.
  std::error_code ec;
  for (int n = 0; n <= kSideFiles; ++n) {
    const std::string file =
        n == 0 ? target : target + ".tvxpart" + (n == 1 ? std::string() : std::to_string(n));
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
      CopyPath(g_extracted_file, file);
      return;
    }
  }
}

void InterruptCleanup::ExtractionDone() { g_extracted_file[0] = '\0'; }

}  // namespace tvx::cli
