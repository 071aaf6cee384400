#include "os/os.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define TOLVEX_OPENAT2 1
#endif

namespace tvx::cli::os {

namespace {

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

// error: errno of the failed stat, or 0 when st holds what it saw.
PathLook LookFrom(int error, const struct stat& st) {
  PathLook look;
  if (error != 0) {
    look.error = error;
    return look;
  }
  look.link = S_ISLNK(st.st_mode);
  look.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  static const uid_t kUser = ::geteuid();  // asked once: it is a call per file otherwise
  look.readable = st.st_uid == kUser && (st.st_mode & S_IRUSR) != 0;
  look.directory = S_ISDIR(st.st_mode);
  look.regular = S_ISREG(st.st_mode);
  look.size = static_cast<int64_t>(st.st_size);
  look.device = static_cast<uint64_t>(st.st_dev);
  look.inode = static_cast<uint64_t>(st.st_ino);
  return look;
}

// The folder opened refusing a symbolic link anywhere on its path (openat2,
// Linux 5.6 on); -1 with ENOSYS where the system has no such call.
int OpenFolderLinkFree(const char* folder) {
#if defined(TOLVEX_OPENAT2) && defined(SYS_openat2)
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, folder, &how, sizeof how));
#else
  (void)folder;
  errno = ENOSYS;
  return -1;
#endif
}

PathLook LookAtIn(int folder, const char* name, int flags) {
  struct stat st;
  return LookFrom(::fstatat(folder, name, &st, flags) == 0 ? 0 : errno, st);
}

}  // namespace

std::string FolderWriteProblem(const std::string& folder) {
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return std::string();
  return std::error_code(errno, std::generic_category()).message();
}

bool FileWritable(const std::string& file) {
  // No write bits is read-only to the module even for root, whom access() lets write.
  struct stat st;
  if (::stat(file.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return false;
  return ::access(file.c_str(), W_OK) == 0;
}

bool InUseByAnotherProgram(const std::string& file) {
  (void)file;
  return false;
}

PathLook LookAt(const std::string& path, bool follow) {
  return LookAtIn(AT_FDCWD, path.c_str(), follow ? 0 : AT_SYMLINK_NOFOLLOW);
}

std::string ListFolder(const std::string& folder, std::vector<FolderChild>& children) {
  DIR* const dir = ::opendir(folder.c_str());
  if (dir == nullptr) return ErrorText(errno);
  std::vector<std::string> names;
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* const entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const char* const name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    names.emplace_back(name);
  }
  if (error == 0) {
    // Byte order, as paths of one component compare.
    std::sort(names.begin(), names.end());
    const int fd = ::dirfd(dir);
    children.reserve(names.size());
    for (std::string& name : names) {
      // A child whose path is too long for the system is seen as the look by
      // its path sees it: the module and a move name it by that path.
      const bool fits = folder.size() + 1 + name.size() < PATH_MAX;
      struct stat unused {};
      const PathLook look = fits ? LookAtIn(fd, name.c_str(), AT_SYMLINK_NOFOLLOW) : LookFrom(ENAMETOOLONG, unused);
      const PathLook target = look.link ? LookAtIn(fd, name.c_str(), 0) : look;
      children.push_back(FolderChild{std::move(name), look, target});
    }
  }
  ::closedir(dir);
  return error == 0 ? std::string() : ErrorText(error);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool StderrColumns(int& columns) {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    columns = size.ws_col;
    return true;
  }
  return false;
}

bool LocalTime(const std::time_t& when, std::tm& fields) { return localtime_r(&when, &fields) != nullptr; }

void* OpenLibrary(const std::string& path, std::string& error) {
  // dlopen searches the library path for names without a slash.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* text = dlerror();
    std::string why = text ? text : "";
    // dlerror() repeats the name first; the message names it already.
    if (why.compare(0, name.size() + 2, name + ": ") == 0) why.erase(0, name.size() + 2);
    error = "cannot load the packer module: " + path + (why.empty() ? "" : " (" + why + ")");
  }
  return h;
}
void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(n));
}

namespace {

InterruptCalls g_calls;

void OnSignal(int signalNumber) {
  if (!g_calls.note(signalNumber)) return;
  ::_exit(g_calls.cleanUp());
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void InstallInterruptHandlers(const InterruptCalls& calls) {
  g_calls = calls;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigfillset(&action.sa_mask);  // one handler at a time
  for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

void RemoveInterruptHandlers() {
  for (int s : kSignals) std::signal(s, SIG_DFL);
}

FileSnapshot SnapshotFile(const char* path) {
  FileSnapshot snapshot;
  struct stat st;
  snapshot.existed = ::stat(path, &st) == 0;
  if (snapshot.existed) {
    snapshot.device = static_cast<uint64_t>(st.st_dev);
    snapshot.inode = static_cast<uint64_t>(st.st_ino);
    snapshot.size = static_cast<int64_t>(st.st_size);
    snapshot.seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    snapshot.nanoseconds = static_cast<int64_t>(st.st_mtim.tv_nsec);
  }
  return snapshot;
}

// The next four run in a signal handler: only async-signal-safe calls, and
// nothing that allocates (the handler may have stopped the process inside
// malloc: opendir's buffer from the heap then aborts it).
bool FileChangedSince(const char* path, const FileSnapshot& was) {
  struct stat now {};
  if (::stat(path, &now) != 0) return was.existed;
  return !was.existed || static_cast<uint64_t>(now.st_dev) != was.device ||
         static_cast<uint64_t>(now.st_ino) != was.inode || now.st_size != was.size ||
         now.st_mtim.tv_sec != was.seconds || now.st_mtim.tv_nsec != was.nanoseconds;
}

void RemoveFolderContents(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The folder is listed into a buffer of its own, by the system call itself.
  alignas(8) static char buffer[8192];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      ::unlinkat(fd, name, 0);
    }
  }
  ::close(fd);
}

void RemoveFolder(const char* folder) { ::rmdir(folder); }
void RemoveFile(const char* file) { ::unlink(file); }

void RemoveFileLinkFree(const char* file) {
  const char* const slash = std::strrchr(file, '/');
  char folder[kPathCapacity];
  const size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - file) + 1;
  if (length == 0 || length >= sizeof folder) return RemoveFile(file);
  std::memcpy(folder, file, length);
  folder[length] = '\0';
  const int fd = OpenFolderLinkFree(folder);
  if (fd < 0) {
    if (errno == ENOSYS) RemoveFile(file);
    return;
  }
  ::unlinkat(fd, slash + 1, 0);
  ::close(fd);
}

bool MakeFoldersLinkFree(const std::string& base, const std::string& relative) {
  int at = OpenFolderLinkFree(base.c_str());
  for (size_t start = 0; at >= 0 && start < relative.size();) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    // O_NOFOLLOW with O_DIRECTORY: a link in the folder's place is refused.
    const int next = ::mkdirat(at, name.c_str(), 0777) == 0 || errno == EEXIST
                         ? ::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    ::close(at);
    at = next;
  }
  if (at < 0) return false;
  ::close(at);
  return true;
}

bool ResolvesWithoutLinks(const std::string& folder) {
  const int fd = OpenFolderLinkFree(folder.c_str());
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

std::string MakeTempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string pattern = env && env[0] ? env : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "tolvex-XXXXXX";
  if (!::mkdtemp(pattern.data())) return std::string();
  return pattern;
}

void PointTempAt(const std::string& folder) { ::setenv("TMPDIR", folder.c_str(), 1); }

}  // namespace tvx::cli::os
