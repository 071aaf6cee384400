// POSIX implementation of platform.h (Linux and other Unix systems).
//
// POSIX has no mandatory sharing modes: the FILE_SHARE_READ rule of the Windows
// build cannot be enforced here, so another process may still write a file
// Tolvex has open.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define TOLVEX_OPENAT2 1
#endif

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "commonsU/entry_time.h"
#include "commonsU/separators.h"
#include "platform/native.h"

namespace tvx::platform {

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return IsPathSeparatorOf(c, false); }

namespace {

// Keeps one read(2)/write(2) below SSIZE_MAX on 32-bit systems too.
constexpr uint32_t kMaxChunk = 1u << 30;

int Fd(intptr_t handle) { return static_cast<int>(handle); }

bool StatPath(const std::string& path, struct stat* st) {
  return !path.empty() && ::stat(path.c_str(), st) == 0;
}

// open(2) that refuses a symbolic link anywhere on the path (ELOOP), as
// openat2 resolves it (Linux 5.6 on); ENOSYS where the system has no such call.
int OpenLinkFree(const char* path, int flags, mode_t access) {
#if defined(TOLVEX_OPENAT2) && defined(SYS_openat2)
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) != 0 ? access : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
#else
  (void)path, (void)flags, (void)access;
  errno = ENOSYS;
  return -1;
#endif
}

// The folder that holds the last name of path ("a/b/c": "a/b/"), opened only
// to name things in it, refusing links on its way; -1 (errno set) when it
// cannot be, EINVAL when path names no folder. nameAt: where that name starts.
int OpenHoldingFolderLinkFree(const std::string& path, size_t& nameAt) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) {
    errno = EINVAL;
    return -1;
  }
  nameAt = slash + 1;
  return OpenLinkFree(path.substr(0, nameAt).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
}

// A time as the local wall clock showed it then (localtime_r applies the zone's
// rules for that date); kNoWallClock when the C library cannot tell.
int64_t WallClockOf(time_t t) {
  struct tm local {};
  if (::localtime_r(&t, &local) == nullptr) return kNoWallClock;
  return SecondsFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
}

// The folder that holds path: "a/b/c" -> "a/b", "a" -> ".", "/x" -> "/".
std::string ParentFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  path.resize(slash);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool ReadFirstChar(const std::string& path, char* c) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t got;
  do {
    got = ::read(fd, c, 1);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  return got == 1;
}

int64_t StampTimeOf(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
int64_t ChangeTimeOf(const struct stat& st) {
  return static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

File::Facts FileFactsOf(const struct stat& st) {
  File::Facts facts;
  facts.size = static_cast<int64_t>(st.st_size);
  facts.wallClock = WallClockOf(st.st_mtime);
  facts.modified = StampTimeOf(st);
  facts.changed = ChangeTimeOf(st);
  facts.volume = static_cast<uint64_t>(st.st_dev);
  facts.file = static_cast<uint64_t>(st.st_ino);
  return facts;
}

}  // namespace

// --- File ---------------------------------------------------------------------

NativeFile NativeFile::Open(const std::string& path, Mode mode, Facts* facts) {
  // O_NOCTTY: a terminal named where a file was expected never becomes the
  // host's controlling terminal by being opened (it is refused below).
  int flags = O_CLOEXEC | O_NOCTTY;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kCreateWrite:
      // A link planted at the name is refused (ELOOP), never emptied or written through.
      flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      // Like CREATE_ALWAYS: anything but an existing non-directory is created
      // anew (a directory then makes open fail with EISDIR).
      {
        struct stat st {};
        if (!StatPath(path, &st) || S_ISDIR(st.st_mode)) flags |= O_CREAT | O_TRUNC;
      }
      break;
    case Mode::kCreateNew:
    case Mode::kCreatePrivate:
    case Mode::kCreateNewLinkFree:
    case Mode::kCreatePrivateLinkFree:
      // O_EXCL already refuses a link in the name's place; O_NOFOLLOW says so.
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
  }
  // Without blocking: opening a FIFO would otherwise wait for a writer (or a
  // reader) for ever. Whatever is not a regular file is refused below.
  const bool linkFree = mode == Mode::kCreateNewLinkFree || mode == Mode::kCreatePrivateLinkFree;
  const bool fresh = linkFree || mode == Mode::kCreateNew || mode == Mode::kCreatePrivate;
  if (!fresh) flags |= O_NONBLOCK;
  const mode_t access = mode == Mode::kCreateNew || mode == Mode::kCreateNewLinkFree ? 0644 : 0600;
  int fd;
  do {
    fd = linkFree ? OpenLinkFree(path.c_str(), flags, access) : ::open(path.c_str(), flags, access);
    // Without the call, as the mode without refusing links.
    if (fd < 0 && errno == ENOSYS && linkFree) fd = ::open(path.c_str(), flags, access);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return NativeFile();
  // A new file is always a regular one, opened without O_NONBLOCK.
  if (fresh && facts == nullptr) return NativeFile(fd);
  // Linux opens a directory read-only without complaint; Windows does not.
  // What is read must be a regular file: a FIFO or a device never ends.
  struct stat st {};
  const bool reading = mode == Mode::kRead || mode == Mode::kReadWrite;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (reading && !S_ISREG(st.st_mode))) {
    ::close(fd);
    return NativeFile();
  }
  // A regular file opened for reading never blocks anyway: O_NONBLOCK may stay.
  const bool keepsFlags = mode == Mode::kRead && S_ISREG(st.st_mode);
  const int status = keepsFlags ? 0 : ::fcntl(fd, F_GETFL);
  if (!keepsFlags && (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1)) {
    ::close(fd);
    return NativeFile();
  }
  if (facts != nullptr) *facts = FileFactsOf(st);
  return NativeFile(fd);
}

void NativeFile::Close() {
  if (handle_ >= 0) {
    // No retry on EINTR: on Linux the descriptor is released either way.
    ::close(Fd(handle_));
    handle_ = -1;
  }
}

bool NativeFile::IsOpen() const { return handle_ >= 0; }

uint32_t NativeFile::ReadOnce(unsigned char* bytes, uint32_t count) {
  ssize_t got;
  do {
    got = ::read(Fd(handle_), bytes, count < kMaxChunk ? count : kMaxChunk);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<uint32_t>(got) : 0;
}

// ENOSPC, EFBIG (when SIGXFSZ is ignored), EIO...: 0, and errno says which.
uint32_t NativeFile::WriteOnce(const unsigned char* bytes, uint32_t count) {
  ssize_t put;
  do {
    put = ::write(Fd(handle_), bytes, count < kMaxChunk ? count : kMaxChunk);
  } while (put < 0 && errno == EINTR);
  return put > 0 ? static_cast<uint32_t>(put) : 0;
}

bool NativeFile::PositionNow(int64_t* position) const {
  const off_t current = ::lseek(Fd(handle_), 0, SEEK_CUR);
  if (current < 0) return false;
  *position = current;
  return true;
}

bool NativeFile::SizeNow(int64_t* size) const {
  struct stat st {};
  if (::fstat(Fd(handle_), &st) != 0) return false;
  *size = st.st_size;
  return true;
}

bool NativeFile::MoveTo(uint32_t target) { return ::lseek(Fd(handle_), static_cast<off_t>(target), SEEK_SET) >= 0; }

uint32_t NativeFile::Size() {
  struct stat st {};
  if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
}

bool NativeFile::EndHere() {
  if (!IsOpen()) return false;
  const off_t here = ::lseek(Fd(handle_), 0, SEEK_CUR);
  if (here < 0) return false;
  int result;
  do {
    result = ::ftruncate(Fd(handle_), here);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool NativeFile::Sync() {
  if (!IsOpen()) return false;
  int result;
  do {
    result = ::fsync(Fd(handle_));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// --- errors ------------------------------------------------------------------------

void ClearSystemError() { errno = 0; }

IoError LastSystemError() {
  const int code = errno;
  IoError error{IoErrorKind::kIo, code};
  switch (code) {
    case 0: error.kind = IoErrorKind::kNone; break;
    case ENOENT: case ENOTDIR: error.kind = IoErrorKind::kNotFound; break;
    case EACCES: case EPERM: case EROFS: case ETXTBSY: error.kind = IoErrorKind::kAccess; break;
    case ENOSPC: case EFBIG: case EDQUOT: error.kind = IoErrorKind::kDiskFull; break;
    case ELOOP: error.kind = IoErrorKind::kLink; break;
    default: break;
  }
  return error;
}

// --- file-system questions ----------------------------------------------------

bool NativeSystem::FileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) && !S_ISDIR(st.st_mode);
}

bool NativeSystem::DirectoryExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) && S_ISDIR(st.st_mode);
}

// A directory reports size 0, as FindFirstFileA does on Windows.
uint32_t NativeSystem::FileSizeByName(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || S_ISDIR(st.st_mode)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
}

int64_t NativeSystem::FileSize64(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t NativeSystem::FileWallClockTime(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || S_ISDIR(st.st_mode)) return kNoWallClock;
  return WallClockOf(st.st_mtime);
}

int64_t NativeSystem::ModifiedWallClockTime(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st)) return kNoWallClock;
  return WallClockOf(st.st_mtime);
}

// The fine clock: time() reads a coarse one that can lag a second behind the
// stamp the file system has just given a new file.
int64_t NativeSystem::CurrentWallClockTime() {
  struct timespec now {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return WallClockOf(::time(nullptr));
  return WallClockOf(now.tv_sec);
}

std::string NativeSystem::TempDirectory() {
  const char* env = ::getenv("TMPDIR");
  std::string dir = (env != nullptr && env[0] != '\0') ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

PathResult NativeSystem::CreateTempFile(const std::string& directory, const std::string& prefix) {
  std::string pattern = directory;
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  pattern += prefix.substr(0, 3);
  pattern += "XXXXXX";
  const int fd = ::mkstemp(&pattern[0]);
  if (fd < 0) {
    const IoError error = LastSystemError();
    return PathResult{std::string(), error.failed() ? error : IoError{IoErrorKind::kIo, 0}};
  }
  // mkstemp makes the file 0600, and so it stays: it is to replace an
  // archive, which gives it its own mode before it takes its place.
  ::close(fd);
  // Moved, not copied: no allocation may fail once the file exists.
  return PathResult{std::move(pattern), IoError()};
}

std::string NativeSystem::DriveRoot(const std::string& path) {
  if (path.empty()) return "";
  std::string folder = path;
  while (!DirectoryExists(folder)) {
    if (folder == "/" || folder == ".") return "";  // e.g. the cwd was removed
    folder = ParentFolder(folder);
  }
  return folder;
}

int64_t NativeSystem::VolumeFreeBytes(const std::string& path) {
  struct statvfs vfs {};
  // A path that does not exist yet lies on the volume of its nearest folder.
  if (path.empty()) return 0;
  if (::statvfs(path.c_str(), &vfs) != 0) {
    const std::string folder = DriveRoot(path);
    if (folder.empty() || ::statvfs(folder.c_str(), &vfs) != 0) return 0;
  }
  const uint64_t bytes = static_cast<uint64_t>(vfs.f_bfree) * vfs.f_frsize;
  return bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
}

bool NativeSystem::IsRemovableDrive(const std::string& root) {
  struct stat st {};
  if (!StatPath(root, &st)) return false;
  const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                             std::to_string(minor(st.st_dev));
  char flag = 0;
  if (!ReadFirstChar(device + "/removable", &flag)) {
    // A partition carries no flag of its own; its disk is the parent folder.
    char resolved[PATH_MAX];
    if (::realpath(device.c_str(), resolved) == nullptr) return false;
    if (!ReadFirstChar(ParentFolder(resolved) + "/removable", &flag)) return false;
  }
  return flag == '1';
}

bool NativeSystem::SameDrive(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat stA {}, stB {};
  return StatPath(DriveRoot(a), &stA) && StatPath(DriveRoot(b), &stB) &&
         stA.st_dev == stB.st_dev;
}

// --- changes to the file system -------------------------------------------------

bool NativeSystem::RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// The name is removed relative to its folder, opened refusing links: a folder
// swapped for a link since the file was made keeps whatever is behind it.
bool NativeSystem::RemoveFileLinkFree(const std::string& path) {
  size_t nameAt = 0;
  const int folder = OpenHoldingFolderLinkFree(path, nameAt);
  if (folder < 0) return (errno == ENOSYS || errno == EINVAL) && RemoveFile(path);
  const bool removed = ::unlinkat(folder, path.c_str() + nameAt, 0) == 0;
  ::close(folder);
  return removed;
}

uint32_t NativeSystem::FileAccessMode(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st)) return kAllBits;
  return static_cast<uint32_t>(st.st_mode & 07777);
}

bool NativeSystem::SetFileAccessMode(const std::string& path, uint32_t mode) {
  return mode != kAllBits && ::chmod(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

// --- extracted files ------------------------------------------------------------

namespace {

// The instant a wall-clock second names on this machine's clock (mktime
// decides daylight saving for that date). mktime consults the time-zone file
// on every call, so the answer for the start of the hour is kept: entries
// extracted one after another mostly share their hour, and offsets change on
// the hour. False when the time cannot be expressed.
bool InstantOfWallClock(int64_t wallClockSeconds, time_t& instant) {
  thread_local int64_t cachedHour = INT64_MIN;
  thread_local time_t cachedInstant = 0;
  const int64_t hourStart = wallClockSeconds - ((wallClockSeconds % 3600) + 3600) % 3600;
  if (hourStart != cachedHour) {
    const time_t asUtc = static_cast<time_t>(hourStart);
    struct tm fields {};
    if (::gmtime_r(&asUtc, &fields) == nullptr) return false;
    fields.tm_isdst = -1;
    const time_t hourInstant = ::mktime(&fields);
    if (hourInstant == static_cast<time_t>(-1)) return false;
    cachedHour = hourStart;
    cachedInstant = hourInstant;
  }
  instant = cachedInstant + static_cast<time_t>(wallClockSeconds - hourStart);
  return true;
}

// The access time stays the time of extraction.
bool ModifiedTimesOf(int64_t wallClockSeconds, struct timespec (&times)[2]) {
  time_t instant = 0;
  if (!InstantOfWallClock(wallClockSeconds, instant)) return false;
  times[0] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = {};
  times[1].tv_sec = instant;
  return true;
}

}  // namespace

bool NativeSystem::SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) {
  struct timespec times[2];
  return ModifiedTimesOf(wallClockSeconds, times) && ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool NativeFile::SetModifiedWallClockTime(int64_t wallClockSeconds) {
  struct timespec times[2];
  return IsOpen() && ModifiedTimesOf(wallClockSeconds, times) && ::futimens(Fd(handle_), times) == 0;
}

// Without set-user-ID, set-group-ID and sticky: the replacement is the
// extracting user's file with the archive's content, and root extracting over
// a set-user-ID file somebody left would make it a root one. The group stays
// the old file's where it may; where the new file has another (a folder's
// set-group-ID gives its own) and cannot be given the old one, that group
// gets no more than the old file gave everyone.
bool NativeFile::TakeAccessOf(const std::string& path) {
  struct stat old {}, mine {};
  if (!IsOpen() || !StatPath(path, &old) || ::fstat(Fd(handle_), &mine) != 0) return false;
  mode_t access = old.st_mode & 0777;
  // Not more than the old file gave its group, nor less than it gave everyone.
  if (mine.st_gid != old.st_gid && ::fchown(Fd(handle_), static_cast<uid_t>(-1), old.st_gid) != 0)
    access = (access & ~070u) | (access & 070u & ((access & 07u) << 3));
  return ::fchmod(Fd(handle_), access) == 0;
}

bool NativeSystem::IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A sandbox that forbids the call answers EPERM (or ENOSYS): no here too.
bool NativeSystem::ResolvesWithoutLinks(const std::string& folder) {
  if (folder.empty()) return false;
  const int fd = OpenLinkFree(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

size_t NativeSystem::MaxPathLength() { return PATH_MAX - 1; }

bool NativeSystem::MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && DirectoryExists(path);
}

// Made relative to its parent opened refusing links. A name too long for the
// system is refused, as by its path.
bool NativeSystem::MakeDirectoryLinkFree(const std::string& path) {
  if (path.size() >= PATH_MAX) return MakeDirectory(path);
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  size_t nameAt = 0;
  const int parent = OpenHoldingFolderLinkFree(folder, nameAt);
  if (parent < 0) return (errno == ENOSYS || errno == EINVAL) && MakeDirectory(path);
  const char* name = folder.c_str() + nameAt;
  bool made = ::mkdirat(parent, name, 0755) == 0;
  if (!made && errno == EEXIST) {
    struct stat st {};
    made = ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
  }
  ::close(parent);
  return made;
}

bool NativeSystem::MoveToFreeName(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that rename: a hard link refuses an existing name
  // just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// --- questions and changes of the update path ----------------------------------

bool NativeSystem::RegularFileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) && S_ISREG(st.st_mode);
}

// root passes access(2) whatever the mode, so a file without any write bit
// counts as read-only as well, as archivers treat it.
bool NativeSystem::IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st)) return false;
  return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

namespace {

PathFacts FactsOf(const struct stat& st) {
  PathFacts facts;
  if (S_ISDIR(st.st_mode)) {
    facts.kind = PathFacts::Kind::kFolder;
  } else if (S_ISREG(st.st_mode)) {
    facts.kind = PathFacts::Kind::kRegularFile;
    facts.size = static_cast<int64_t>(st.st_size);
  } else {
    facts.kind = PathFacts::Kind::kOther;
    facts.size = static_cast<int64_t>(st.st_size);  // as FileSize64 gives it
  }
  return facts;
}

// A folder opened only to look up names in it: Linux asks for no read access.
#ifdef O_PATH
constexpr int kFolderLookup = O_PATH;
#else
constexpr int kFolderLookup = O_RDONLY;
#endif

// The whole of a regular file of `size` bytes in one read; false when it
// gave anything else (it changed since the look). The read is a pread: a
// FIFO or a socket swapped in since the look refuses it (ESPIPE) and keeps
// its bytes, and a device gives more or less than the file had.
bool ReadWhole(int fd, int64_t size, std::string& bytes) {
  // One byte more than the look saw tells a file that has grown since.
  bytes.assign(static_cast<size_t>(size) + 1, '\0');
  ssize_t got;
  do {
    got = ::pread(fd, &bytes[0], bytes.size(), 0);
  } while (got < 0 && errno == EINTR);
  if (got != size) return false;
  bytes.resize(static_cast<size_t>(size));
  return true;
}

}  // namespace

PathFacts NativeSystem::FactsOfPath(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) ? FactsOf(st) : PathFacts{};
}

SourceFolder::~SourceFolder() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

// A small regular file is read whole while it is looked at: one opening
// serves the look and the packing. The look is by name, relative to the
// source's folder held open: opening a FIFO releases its writer, and opening
// a device can act on it (a watchdog, a tape, a serial line).
PathFacts NativeSystem::LookAtSource(const std::string& path, uint32_t maxBytes, ReadAhead* readAhead,
                                     SourceFolder& folder) {
  const size_t slash = path.rfind('/');
  // A path too long for the system is refused, as a look by that path
  // refuses it: what is packed must be reachable by it (a move deletes it by it).
  if (path.empty() || slash + 1 == path.size() || path.size() >= PATH_MAX) return FactsOfPath(path);
  int at = AT_FDCWD;  // a name without a folder: the current one
  if (slash != std::string::npos) {
    if (folder.path_.size() != slash + 1 || path.compare(0, slash + 1, folder.path_) != 0) {
      if (folder.handle_ >= 0) ::close(Fd(folder.handle_));
      folder.path_.assign(path, 0, slash + 1);
      folder.handle_ = ::open(folder.path_.c_str(), kFolderLookup | O_DIRECTORY | O_CLOEXEC);
    }
    if (folder.handle_ < 0) return FactsOfPath(path);
    at = Fd(folder.handle_);
  }
  const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  struct stat st {};
  if (::fstatat(at, name, &st, 0) != 0) return PathFacts{};
  const PathFacts looked = FactsOf(st);
  if (looked.kind != PathFacts::Kind::kRegularFile || readAhead == nullptr || looked.size > static_cast<int64_t>(maxBytes))
    return looked;
  // An empty file is opened too: one that cannot be read is not taken as read.
  int fd;
  do {
    fd = ::openat(at, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FactsOfPath(path);
  // A read of nothing cannot tell an empty file from /dev/null or an empty
  // FIFO swapped in since the look: an empty one is asked what it is.
  struct stat opened = st;
  const bool whole = looked.size > 0 ? ReadWhole(fd, looked.size, readAhead->bytes)
                                     : ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                                           opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
  ::close(fd);
  if (!whole) {
    // Changed since the look, or something else now has the name (a FIFO
    // gives nothing): what is there now decides.
    readAhead->bytes = std::string();
    return FactsOfPath(path);
  }
  readAhead->read = true;
  readAhead->facts = FileFactsOf(opened);
  return looked;
}

bool NativeSystem::SameFile(const std::string& a, const std::string& b) {
  struct stat stA {}, stB {};
  return StatPath(a, &stA) && StatPath(b, &stB) && stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino;
}

std::string NativeSystem::ResolveLink(const std::string& path) {
  std::string current = path;
  // As many hops as the system itself follows (SYMLOOP_MAX is 40 on Linux).
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (current.empty() || ::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
    if (length <= 0) return current;
    const std::string pointed(target, static_cast<size_t>(length));
    if (pointed[0] == '/') {
      current = pointed;
    } else {
      const size_t slash = current.rfind('/');
      current = slash == std::string::npos ? pointed : current.substr(0, slash + 1) + pointed;
    }
  }
  return current;
}

bool NativeSystem::PathFits(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end - start > NAME_MAX) return false;
    start = end + 1;
  }
  return true;
}

FileStamp NativeSystem::FileStampOf(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || !S_ISREG(st.st_mode)) return FileStamp{};
  return FileStamp{static_cast<int64_t>(st.st_size), StampTimeOf(st), ChangeTimeOf(st), static_cast<uint64_t>(st.st_dev),
                   static_cast<uint64_t>(st.st_ino)};
}

MoveOutcome NativeSystem::MoveReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return MoveOutcome::kMoved;
  return errno == EXDEV ? MoveOutcome::kOtherVolume : MoveOutcome::kFailed;
}

// Both names relative to one opening of their folder: a folder swapped for a
// link between the two lookups of a rename by path cannot split them.
MoveOutcome NativeSystem::MoveReplacingLinkFree(const std::string& from, const std::string& to) {
  const size_t slash = to.rfind('/');
  const bool beside = slash != std::string::npos && from.size() > slash + 1 &&
                      from.compare(0, slash + 1, to, 0, slash + 1) == 0 &&
                      from.find('/', slash + 1) == std::string::npos && to.size() > slash + 1;
  // A name too long for the system is refused, as the rename by its path refuses it.
  if (!beside || from.size() >= PATH_MAX || to.size() >= PATH_MAX) return MoveReplacing(from, to);
  size_t nameAt = 0;
  const int folder = OpenHoldingFolderLinkFree(to, nameAt);
  if (folder < 0) return errno == ENOSYS ? MoveReplacing(from, to) : MoveOutcome::kFailed;
  const bool moved = ::renameat(folder, from.c_str() + nameAt, folder, to.c_str() + nameAt) == 0;
  ::close(folder);
  return moved ? MoveOutcome::kMoved : MoveOutcome::kFailed;
}

// --- one update of an archive at a time -----------------------------------------

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_size), StampTimeOf(st)};
}

int64_t MonotonicMilliseconds() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMilliseconds(long milliseconds) {
  struct timespec pause {0, milliseconds * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// flock(fd) with LOCK_NB until it is held or the deadline has passed.
UpdateLock::Outcome LockBefore(int fd, int64_t deadline) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return UpdateLock::Outcome::kHeld;
    // ENOLCK, EINVAL: the volume cannot lock.
    if (errno != EWOULDBLOCK && errno != EINTR) return UpdateLock::Outcome::kUnavailable;
    if (MonotonicMilliseconds() >= deadline) return UpdateLock::Outcome::kBusy;
    SleepMilliseconds(5);
  }
}

}  // namespace

FileIdentity NativeSystem::FileIdentityOf(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || !S_ISREG(st.st_mode)) return FileIdentity{};
  return IdentityOf(st);
}

// flock belongs to the open file, not to the name: once it is held, the name
// may lead to a newer file that the previous holder renamed over this one.
std::unique_ptr<SystemLock> NativeSystem::LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                                        UpdateLock::Outcome* outcome) {
  const int64_t deadline = MonotonicMilliseconds() + waitMilliseconds;
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      *outcome = UpdateLock::Outcome::kUnavailable;
      return std::make_unique<NativeLock>();
    }
    *outcome = LockBefore(fd, deadline);
    if (*outcome != UpdateLock::Outcome::kHeld) {
      ::close(fd);
      return std::make_unique<NativeLock>();
    }
    struct stat now {};
    if (::fstat(fd, &st) == 0 && StatPath(path, &now) && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      return std::make_unique<NativeLock>(fd, IdentityOf(st));
    }
    ::close(fd);  // replaced meanwhile: hold the file the name leads to now
  }
}

// The name is held by binding an abstract socket named after the folder's
// device and inode and the file's name: no file is left behind, the system
// frees it when the process ends, and creations of other names in the same
// folder do not wait. (Processes in other network namespaces do not see it;
// for them only the check before the rename guards the name.)
std::unique_ptr<SystemLock> NativeSystem::LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                              UpdateLock::Outcome* outcome) {
  *outcome = UpdateLock::Outcome::kUnavailable;
  struct stat st {};
  if (!StatPath(ParentFolder(path), &st)) return std::make_unique<NativeLock>();
  const size_t slash = path.rfind('/');
  uint64_t hash = 14695981039346656037ull;  // FNV-1a of the name
  for (size_t i = slash == std::string::npos ? 0 : slash + 1; i < path.size(); ++i) {
    hash = (hash ^ static_cast<unsigned char>(path[i])) * 1099511628211ull;
  }
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  const int length = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "tolvex-create-%llx-%llx-%llx",
                                   static_cast<unsigned long long>(st.st_dev),
                                   static_cast<unsigned long long>(st.st_ino), static_cast<unsigned long long>(hash));
  const auto size = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + 1 + static_cast<size_t>(length));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::make_unique<NativeLock>();
  const int64_t deadline = MonotonicMilliseconds() + waitMilliseconds;
  while (::bind(fd, reinterpret_cast<const struct sockaddr*>(&address), size) != 0) {
    if (errno != EADDRINUSE) {
      ::close(fd);
      return std::make_unique<NativeLock>();
    }
    if (MonotonicMilliseconds() >= deadline) {
      ::close(fd);
      *outcome = UpdateLock::Outcome::kBusy;
      return std::make_unique<NativeLock>();
    }
    SleepMilliseconds(5);
  }
  *outcome = UpdateLock::Outcome::kHeld;
  return std::make_unique<NativeLock>(fd, FileIdentity{static_cast<uint64_t>(st.st_dev), hash ^ static_cast<uint64_t>(st.st_ino), 0, 0});
}

NativeLock::~NativeLock() {
  if (handle_ != -1) {
    ::close(Fd(handle_));  // drops the flock
    handle_ = -1;
  }
}

// Without allocating: it runs once the new archive is in place, when a
// failed allocation could no longer be answered as "nothing changed".
bool NativeSystem::SyncFolderOf(const std::string& path) {
  char folder[PATH_MAX];
  size_t length = path.rfind('/') == std::string::npos ? 0 : path.rfind('/');
  if (length >= sizeof folder) return false;
  if (length == 0) {
    folder[0] = path.empty() || path[0] != '/' ? '.' : '/';
    length = 1;
  } else {
    path.copy(folder, length);
  }
  folder[length] = '\0';
  int fd = ::open(folder, O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  // A drop folder (write and search, no read) cannot be opened, yet the
  // rename is in it: the file's whole volume is synced instead.
  const bool wholeVolume = fd < 0 && errno == EACCES;
  if (wholeVolume) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int result;
  do {
    result = wholeVolume ? ::syncfs(fd) : ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  const bool unsupported = result != 0 && (errno == EINVAL || errno == EROFS || errno == ENOTSUP);
  ::close(fd);
  return result == 0 || unsupported;
}

}  // namespace tvx::platform
