#include "os/os.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <io.h>
#include <windows.h>
#include <sys/stat.h>

namespace tvx::cli::os {

std::string FolderWriteProblem(const std::string& folder) {
  // Folder permissions on Windows are ACLs; the read-only attribute of a
  // folder does not stop writing into it. The module's answer tells.
  (void)folder;
  return std::string();
}

bool FileWritable(const std::string& file) {
  const DWORD attributes = GetFileAttributesA(file.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool InUseByAnotherProgram(const std::string& file) {
  // Everything the module needs of the archive, sharing all of it: only a
  // program that keeps others from writing or deleting makes this fail.
  const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

PathLook LookAt(const std::string& path, bool follow) {
  // As std::filesystem looks there: _wstat64 follows links, and the read
  // check stays an open (another program may hold the file shut).
  (void)follow;
  PathLook look;
  struct _stat64 st;
  if (::_wstat64(std::filesystem::path(path).c_str(), &st) != 0) {
    look.error = errno;
    return look;
  }
  look.modified = static_cast<int64_t>(st.st_mtime);
  look.directory = (st.st_mode & S_IFMT) == S_IFDIR;
  look.regular = (st.st_mode & S_IFMT) == S_IFREG;
  look.size = static_cast<int64_t>(st.st_size);
  return look;
}

std::string ListFolder(const std::string& folder, std::vector<FolderChild>& children) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  std::vector<fs::path> names;
  if (!ec) {
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) break;
      names.push_back(it->path().filename());
    }
  }
  if (ec) return ec.message();
  std::sort(names.begin(), names.end());
  children.reserve(names.size());
  for (const fs::path& name : names) {
    FolderChild child{name.string(), PathLook(), PathLook()};
    child.look = LookAt(folder + '\\' + child.name, false);
    child.target = child.look;
    children.push_back(std::move(child));
  }
  return std::string();
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool StderrColumns(int& columns) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return false;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  return true;
}

bool LocalTime(const std::time_t& when, std::tm& fields) { return localtime_s(&fields, &when) == 0; }

void* OpenLibrary(const std::string& path, std::string& error) {
  // A full path keeps LoadLibrary from searching elsewhere for the name.
  std::error_code ec;
  std::string full = std::filesystem::absolute(path, ec).string();
  if (ec) full = path;
  HMODULE h = LoadLibraryA(full.c_str());
  if (!h) {
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
    std::string why = text;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
      why.pop_back();
    error = "cannot load the packer module: " + path + " (error " + std::to_string(code) +
            (why.empty() ? std::string() : ": " + why) + ")";
  }
  return reinterpret_cast<void*>(h);
}
void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void* FindOrdinal(void* library, int ordinal) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), MAKEINTRESOURCEA(ordinal)));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

InterruptCalls g_calls;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // This runs on a thread of its own while the module works on.
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  const int signalNumber = interrupt ? 2 : 1;
  if (!g_calls.note(signalNumber)) {
    if (interrupt) return TRUE;
    // A closed console ends the process once this returns: the main thread
    // gets a few seconds to stop the module's work and exit first.
    Sleep(4000);
  }
  // A file the module holds open cannot be deleted yet; it stays in
  // tolvex's own folder, where it is easy to find.
  ExitProcess(g_calls.cleanUp());
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers(const InterruptCalls& calls) {
  g_calls = calls;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
void RemoveInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

// A file the module works on is open and cannot be deleted: the finished new
// archive it copies over the old one stays.
FileSnapshot SnapshotFile(const char*) { return FileSnapshot(); }
bool FileChangedSince(const char*, const FileSnapshot&) { return false; }

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

void RemoveFolder(const char* folder) { RemoveDirectoryA(folder); }
void RemoveFile(const char* file) { DeleteFileA(file); }
void RemoveFileLinkFree(const char* file) { RemoveFile(file); }
bool ResolvesWithoutLinks(const std::string&) { return false; }
bool MakeFoldersLinkFree(const std::string&, const std::string&) { return false; }

std::string MakeTempFolder() {
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

void PointTempAt(const std::string& folder) {
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
}

}  // namespace tvx::cli::os
