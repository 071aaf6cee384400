#include "file_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "iwcxhead/wcxhead.h"
#include "result_text.h"

#ifdef _WIN32
#include <windows.h>
#include <sys/stat.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::cli {

std::string FolderWriteProblem(const std::string& folder) {
#ifdef _WIN32
  // Folder permissions on Windows are ACLs; the read-only attribute of a
  // folder does not stop writing into it. The module's answer tells.
  (void)folder;
  return std::string();
#else
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return std::string();
  return std::error_code(errno, std::generic_category()).message();
#endif
}

bool FileWritable(const std::string& file) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(file.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
#else
  // No write bits is read-only to the module even for root, whom access() lets write.
  struct stat st;
  if (::stat(file.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return false;
  return ::access(file.c_str(), W_OK) == 0;
#endif
}

int64_t FreeBytes(const std::string& path) {
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(path, ec);
  if (ec || space.available == static_cast<std::uintmax_t>(-1)) return -1;
  return static_cast<int64_t>(space.available);
}

bool InUseByAnotherProgram(const std::string& file) {
#ifdef _WIN32
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
#else
  (void)file;
  return false;
#endif
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string WriteRefusal(const std::string& archive, const std::string& shown) {
  const std::string folder = FolderOf(archive);
  if (const std::string why = FolderWriteProblem(folder); !why.empty())
    return "cannot write " + shown + ": its folder is not writable (" + why + "): " + folder +
           " (the archive is rewritten beside itself: allow writing there, or work on a copy elsewhere)";
  std::error_code ec;
  if (std::filesystem::exists(archive, ec) && !FileWritable(archive))
    return "cannot write " + shown + ": the archive is read-only";
  return std::string();
}

std::string ArchiveFailureText(int code, const std::string& archive, const std::string& shown) {
  const std::string& name = shown.empty() ? archive : shown;
  if (InUseByAnotherProgram(archive)) return "in use by another program (close it and try again): " + name;
  if (code == E_EWRITE || code == E_ECREATE) {
    if (const std::string why = WriteRefusal(archive, name); !why.empty()) return why;
  }
  // An update that waited its time for another one, or found the archive
  // rewritten meanwhile, answers as a failed write does.
  if (code == E_EWRITE)
    return "write failed: " + name + " (the archive may be being changed by another program, or the disk is full or failing)";
  return DescribeResult(code, name);
}

std::string TempFolderProblem() {
#ifdef _WIN32
  const char* const kNames[] = {"TMP", "TEMP"};
#else
  const char* const kNames[] = {"TMPDIR"};
#endif
  for (const char* name : kNames) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    std::error_code ec;
    const auto status = std::filesystem::status(value, ec);
    if (std::filesystem::is_directory(status)) return std::string();
    const std::string variable = name;
    if (!std::filesystem::exists(status)) return variable + " names a folder that does not exist: " + value;
    return variable + " names a file, not a folder: " + value;
  }
  return std::string();
}

#ifdef _WIN32
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
#else
namespace {

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

PathLook LookAtIn(int folder, const char* name, int flags) {
  struct stat st;
  return LookFrom(::fstatat(folder, name, &st, flags) == 0 ? 0 : errno, st);
}

}  // namespace

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
#endif

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace tvx::cli
