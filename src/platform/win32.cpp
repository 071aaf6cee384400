// Win32 implementation of platform.h. Only the ANSI entry points are used, and
// only calls that every Win32 version the plug-in loads on provides;
// GetDiskFreeSpaceExA and MoveFileExA are looked up at run time because early
// Windows 95 lacks the first and Windows 95/98/ME have only a stub of the second,
// and so are SystemTimeToTzSpecificLocalTime (NT) and
// TzSpecificLocalTimeToSystemTime (XP), which Windows 9x and 2000 lack
// (tests/exports/module_imports.txt lists every import and why it is there).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "commonsU/entry_time.h"
#include "commonsU/separators.h"
#include "platform/native.h"

namespace tvx::platform {

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return IsPathSeparatorOf(c, true); }

namespace {

constexpr DWORD kPathBufferSize = 261;  // MAX_PATH + 1

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The directory entry of path. Wildcards are refused: FindFirstFileA would
// otherwise report some other file that happens to match.
bool FindEntry(const std::string& path, WIN32_FIND_DATAA* entry) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  const HANDLE find = ::FindFirstFileA(path.c_str(), entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return true;
}

bool ExistingFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// CompareStringA returns 1/2/3 for less/equal/greater and 0 on failure (-2).
int CompareTextNoCase(const std::string& a, const std::string& b) {
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) - 2;
}

bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t TicksOf(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FileTimeOfTicks(int64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return time;
}

// FILETIME counts 100 ns since 1601-01-01; wall-clock seconds count from 1970.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr int64_t kSecondsPerDay = 86400;

int64_t SecondsOfTicks(int64_t ticks) { return ticks / kTicksPerSecond - kSecondsFrom1601To1970; }

// Whole seconds as calendar fields (SYSTEMTIME), computed here rather than by
// FileTimeToSystemTime, which the module need not import for it.
SYSTEMTIME FieldsOfSeconds(int64_t seconds) {
  const CivilTime t = CivilFromSeconds(seconds);
  const int64_t days = (seconds - ((seconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay) / kSecondsPerDay;
  SYSTEMTIME fields;
  ZeroMemory(&fields, sizeof fields);
  fields.wYear = static_cast<WORD>(t.year);
  fields.wMonth = static_cast<WORD>(t.month);
  fields.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  fields.wDay = static_cast<WORD>(t.day);
  fields.wHour = static_cast<WORD>(t.hour);
  fields.wMinute = static_cast<WORD>(t.minute);
  fields.wSecond = static_cast<WORD>(t.second);
  return fields;
}

int64_t SecondsOfFields(const SYSTEMTIME& fields) {
  return SecondsFromCivil(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
}

// The two conversions between UTC and local time that apply the standard or
// the daylight bias in force on the date converted. FileTimeToLocalFileTime
// and LocalFileTimeToFileTime apply the bias in force now, so a July file
// packed in December would come out an hour off.
using ToLocalFn = BOOL(WINAPI*)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);
using ToUniversalFn = BOOL(WINAPI*)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);

template <typename Fn>
Fn Kernel32Function(const char* name) {
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  return kernel == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

// A UTC file time as the local wall clock showed it on that date, in whole
// seconds; kNoWallClock when it cannot be converted. Where the system lacks
// SystemTimeToTzSpecificLocalTime, the bias in force now is the best there is.
int64_t WallClockOf(const FILETIME& utc) {
  const int64_t ticks = TicksOf(utc);
  if (ticks < 0) return kNoWallClock;
  if (const auto toLocal = Kernel32Function<ToLocalFn>("SystemTimeToTzSpecificLocalTime")) {
    const SYSTEMTIME universal = FieldsOfSeconds(SecondsOfTicks(ticks));
    SYSTEMTIME local;
    if (toLocal(nullptr, &universal, &local)) return SecondsOfFields(local);
  }
  FILETIME local;
  if (!::FileTimeToLocalFileTime(&utc, &local)) return kNoWallClock;
  return SecondsOfTicks(TicksOf(local));
}

// The UTC file time of a local wall-clock second count, the inverse of
// WallClockOf (TzSpecificLocalTimeToSystemTime, else the bias in force now).
bool UtcOfWallClock(int64_t wallClockSeconds, FILETIME* utc) {
  const int64_t ticks = (wallClockSeconds + kSecondsFrom1601To1970) * kTicksPerSecond;
  if (ticks < 0) return false;
  if (const auto toUniversal = Kernel32Function<ToUniversalFn>("TzSpecificLocalTimeToSystemTime")) {
    const SYSTEMTIME local = FieldsOfSeconds(wallClockSeconds);
    SYSTEMTIME universal;
    if (toUniversal(nullptr, &local, &universal)) {
      const int64_t seconds = SecondsOfFields(universal) + kSecondsFrom1601To1970;
      if (seconds < 0) return false;
      *utc = FileTimeOfTicks(seconds * kTicksPerSecond);
      return true;
    }
  }
  const FILETIME local = FileTimeOfTicks(ticks);
  return ::LocalFileTimeToFileTime(&local, utc) != 0;
}

// The current position and the size as 64-bit values; false when the call
// failed. Both calls return all bits in the low half on failure, which a
// valid value can also have, so the last error decides.
bool CurrentPosition(HANDLE h, int64_t* position) {
  LONG high = 0;
  ::SetLastError(NO_ERROR);
  const DWORD low = ::SetFilePointer(h, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
  *position = (static_cast<int64_t>(high) << 32) | low;
  return true;
}

bool SizeOf(HANDLE h, int64_t* size) {
  DWORD high = 0;
  ::SetLastError(NO_ERROR);
  const DWORD low = ::GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  *size = (static_cast<int64_t>(high) << 32) | low;
  return true;
}

// True when the system has GetDiskFreeSpaceExA: NT 4 and later, Windows 95
// OSR2 (build 1111) and later.
bool HasDiskFreeSpaceEx() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  if (!::GetVersionExA(&info)) return false;
  if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) return info.dwMajorVersion >= 4;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) return false;
  if (info.dwMajorVersion != 4) return info.dwMajorVersion > 4;
  return info.dwMinorVersion > 0 || LOWORD(info.dwBuildNumber) >= 0x1111;
}

using DiskFreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                        PULARGE_INTEGER);

}  // namespace

// --- File ---------------------------------------------------------------------

NativeFile NativeFile::Open(const std::string& path, Mode mode, Facts* facts) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case Mode::kRead:
      break;
    case Mode::kCreateWrite:
      // As O_NOFOLLOW: a link at the name is opened itself and refused below,
      // before anything is emptied; a plain file is emptied then.
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
    case Mode::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      if (!ExistingFile(path)) disposition = CREATE_ALWAYS;
      break;
    case Mode::kCreateNew:
    case Mode::kCreatePrivate:
    case Mode::kCreateNewLinkFree:  // no way to refuse links on the path here
    case Mode::kCreatePrivateLinkFree:
      access = GENERIC_WRITE;
      disposition = CREATE_NEW;
      // As O_NOFOLLOW: a link in the name's place (even a dangling one) makes
      // the name taken, and the file is never created where the link leads.
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
  }
  const HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return NativeFile();
  BY_HANDLE_FILE_INFORMATION info;
  if (mode == Mode::kCreateWrite) {
    // Hidden and system files are refused as CREATE_ALWAYS refuses them.
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const bool plain = ::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & refused) == 0;
    if (!plain || !::SetEndOfFile(h)) {
      const DWORD code = plain ? ::GetLastError() : ERROR_ACCESS_DENIED;
      ::CloseHandle(h);
      ::SetLastError(code);
      return NativeFile();
    }
  }
  if (facts != nullptr && ::GetFileInformationByHandle(h, &info)) {
    facts->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    facts->wallClock = WallClockOf(info.ftLastWriteTime);
    facts->modified = TicksOf(info.ftLastWriteTime);
  }
  NativeFile file(reinterpret_cast<intptr_t>(h));
  file.path_ = path;
  return file;
}

void NativeFile::Close() {
  if (IsOpen()) {
    ::CloseHandle(Handle(handle_));
    handle_ = -1;
  }
}

// -1 is INVALID_HANDLE_VALUE.
bool NativeFile::IsOpen() const { return handle_ != -1; }

uint32_t NativeFile::ReadOnce(unsigned char* bytes, uint32_t count) {
  DWORD got = 0;
  return ::ReadFile(Handle(handle_), bytes, count, &got, nullptr) ? got : 0;
}

// A failure (disk full) reports the bytes that made it before it.
uint32_t NativeFile::WriteOnce(const unsigned char* bytes, uint32_t count) {
  DWORD put = 0;
  return ::WriteFile(Handle(handle_), bytes, count, &put, nullptr) ? put : 0;
}

bool NativeFile::PositionNow(int64_t* position) const { return CurrentPosition(Handle(handle_), position); }

bool NativeFile::SizeNow(int64_t* size) const { return SizeOf(Handle(handle_), size); }

bool NativeFile::MoveTo(uint32_t target) {
  // With a high half, SetFilePointer reads the low half as unsigned (2-4 GiB).
  LONG high = 0;
  const DWORD low = ::SetFilePointer(Handle(handle_), static_cast<LONG>(target), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER;  // never a valid target
}

uint32_t NativeFile::Size() {
  int64_t size = 0;
  if (!IsOpen() || !SizeOf(Handle(handle_), &size)) return 0;
  return static_cast<uint32_t>(size);
}

bool NativeFile::EndHere() {
  if (!IsOpen()) return false;
  return ::SetEndOfFile(Handle(handle_)) != 0;
}

bool NativeFile::Sync() {
  if (!IsOpen()) return false;
  return ::FlushFileBuffers(Handle(handle_)) != 0;
}

// --- errors ------------------------------------------------------------------------

void ClearSystemError() { ::SetLastError(0); }

IoError LastSystemError() {
  const DWORD code = ::GetLastError();
  IoError error{IoErrorKind::kIo, static_cast<int>(code)};
  switch (code) {
    case ERROR_SUCCESS: error.kind = IoErrorKind::kNone; break;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE: case ERROR_BAD_NETPATH:
      error.kind = IoErrorKind::kNotFound;
      break;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_WRITE_PROTECT:
      error.kind = IoErrorKind::kAccess;
      break;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: error.kind = IoErrorKind::kDiskFull; break;
    default: break;
  }
  return error;
}

// --- file-system questions ----------------------------------------------------

bool NativeSystem::FileExists(const std::string& path) { return ExistingFile(path); }

bool NativeSystem::DirectoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t NativeSystem::FileSizeByName(const std::string& path) {
  WIN32_FIND_DATAA entry;
  if (!FindEntry(path, &entry)) return 0;
  return entry.nFileSizeLow;
}

int64_t NativeSystem::FileSize64(const std::string& path) {
  WIN32_FIND_DATAA entry;
  if (!FindEntry(path, &entry) || IsDirectory(entry)) return -1;
  return (static_cast<int64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

int64_t NativeSystem::FileWallClockTime(const std::string& path) {
  WIN32_FIND_DATAA entry;
  if (!FindEntry(path, &entry) || IsDirectory(entry)) return kNoWallClock;
  return WallClockOf(entry.ftLastWriteTime);
}

int64_t NativeSystem::ModifiedWallClockTime(const std::string& path) {
  WIN32_FIND_DATAA entry;
  if (!FindEntry(path, &entry)) return kNoWallClock;
  return WallClockOf(entry.ftLastWriteTime);
}

int64_t NativeSystem::CurrentWallClockTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return WallClockOf(now);
}

std::string NativeSystem::TempDirectory() {
  char buffer[kPathBufferSize] = {};
  const DWORD length = ::GetTempPathA(kPathBufferSize, buffer);
  std::string dir = (length > 0 && length < kPathBufferSize) ? std::string(buffer, length) : "";
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

PathResult NativeSystem::CreateTempFile(const std::string& directory, const std::string& prefix) {
  // Made before the file: no allocation may fail once the file exists.
  std::string name(kPathBufferSize, '\0');
  ClearSystemError();
  if (::GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, &name[0]) == 0) {
    const IoError error = LastSystemError();
    return PathResult{std::string(), error.failed() ? error : IoError{IoErrorKind::kIo, 0}};
  }
  name.resize(std::strlen(name.c_str()));
  return PathResult{std::move(name), IoError()};
}

namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// \\server\share\... (either slash): a network path, whose volume is the share.
bool IsNetworkPath(const std::string& path) {
  return path.size() > 2 && IsSlash(path[0]) && IsSlash(path[1]) && !IsSlash(path[2]);
}

// \\server\share\ of a network path, ending in a separator (a '\' is added
// when the path ends with the share's name).
std::string NetworkRoot(const std::string& path) {
  const size_t serverEnd = path.find_first_of("\\/", 2);
  if (serverEnd == std::string::npos) return path + '\\';
  const size_t shareEnd = path.find_first_of("\\/", serverEnd + 1);
  if (shareEnd == std::string::npos) return path + '\\';
  return path.substr(0, shareEnd + 1);
}

// The root with '\' for every separator, for comparisons.
std::string WithBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

// A network path's root is its share (GetDiskFreeSpaceExA and GetDriveTypeA
// take \\server\share\); any other path's its first three characters.
std::string NativeSystem::DriveRoot(const std::string& path) {
  if (IsNetworkPath(path)) return NetworkRoot(path);
  return path.substr(0, 3);
}

int64_t NativeSystem::VolumeFreeBytes(const std::string& path) {
  if (HasDiskFreeSpaceEx()) {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const auto query = kernel == nullptr ? nullptr
                                         : reinterpret_cast<DiskFreeSpaceExFn>(reinterpret_cast<void*>(
                                               ::GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    if (query != nullptr) {
      ULARGE_INTEGER available, total, free;
      if (!query(path.c_str(), &available, &total, &free)) return 0;
      const uint64_t bytes = free.QuadPart;
      return bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
    }
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!::GetDiskFreeSpaceA(path.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
    return 0;
  }
  const DWORD bytesPerCluster = sectorsPerCluster * bytesPerSector;
  return static_cast<int64_t>(static_cast<uint64_t>(bytesPerCluster) * freeClusters);
}

bool NativeSystem::IsRemovableDrive(const std::string& root) {
  return ::GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE;
}

// Compares the drive letters as the system sorts them. Network paths are on
// the same drive only when they name the same share: a file cannot be renamed
// from one share to another.
bool NativeSystem::SameDrive(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  if (IsNetworkPath(a) || IsNetworkPath(b)) {
    return IsNetworkPath(a) && IsNetworkPath(b) &&
           CompareTextNoCase(WithBackslashes(NetworkRoot(a)), WithBackslashes(NetworkRoot(b))) == 0;
  }
  return CompareTextNoCase(a.substr(0, 1), b.substr(0, 1)) == 0;
}

// --- changes to the file system -------------------------------------------------

bool NativeSystem::RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool NativeSystem::RemoveFileLinkFree(const std::string& path) { return RemoveFile(path); }

bool NativeSystem::MakeDirectoryLinkFree(const std::string& path) { return MakeDirectory(path); }

MoveOutcome NativeSystem::MoveReplacingLinkFree(const std::string& from, const std::string& to) {
  return MoveReplacing(from, to);
}

// Windows files carry no permission bits of their own here: a new file takes
// the access rules of its folder, as the old archive did.
uint32_t NativeSystem::FileAccessMode(const std::string&) { return kAllBits; }

bool NativeSystem::SetFileAccessMode(const std::string&, uint32_t mode) { return mode == kAllBits; }

// --- extracted files ------------------------------------------------------------

bool NativeFile::SetModifiedWallClockTime(int64_t wallClockSeconds) {
  FILETIME utc;
  return IsOpen() && UtcOfWallClock(wallClockSeconds, &utc) && ::SetFileTime(Handle(handle_), nullptr, nullptr, &utc) != 0;
}

bool NativeSystem::SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) {
  // The wall-clock count converted the way packing converted it the other way.
  FILETIME utc;
  if (!UtcOfWallClock(wallClockSeconds, &utc)) return false;
  // Attribute access alone works on read-only files; backup semantics opens
  // folders; a reparse point is changed itself, never what it points to.
  const HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool set = ::SetFileTime(h, nullptr, nullptr, &utc) != 0;
  ::CloseHandle(h);
  return set;
}

// By name: attributes cannot be set through a handle before Vista.
bool NativeFile::TakeAccessOf(const std::string& from) {
  const DWORD attributes = ::GetFileAttributesA(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // Not read-only: a read-only file refuses to be replaced anyway, and a
  // read-only copy could not be deleted when the replacement fails.
  const DWORD carried = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return IsOpen() && ::SetFileAttributesA(path_.c_str(), carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool NativeSystem::IsSymbolicLink(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool NativeSystem::ResolvesWithoutLinks(const std::string& folder) {
  (void)folder;
  return false;
}

size_t NativeSystem::MaxPathLength() { return MAX_PATH - 1; }

bool NativeSystem::MakeDirectory(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  return ::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(path);
}

namespace {

using MoveFileExFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);

// MoveFileExA, looked up at run time: Windows 95, 98 and ME export it but only
// as a stub that fails, and the module must load wherever the host runs.
bool CallMoveFileEx(const std::string& from, const std::string& to, DWORD flags, bool* missing) {
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto move = kernel == nullptr ? nullptr
                                      : reinterpret_cast<MoveFileExFn>(reinterpret_cast<void*>(
                                            ::GetProcAddress(kernel, "MoveFileExA")));
  *missing = move == nullptr;
  if (move == nullptr) return false;
  // A target held open for a moment (a second update asking which file the
  // archive is, a virus scanner) refuses the rename: ask again, briefly.
  for (int attempt = 0;; ++attempt) {
    if (move(from.c_str(), to.c_str(), flags)) return true;
    const DWORD error = ::GetLastError();
    const bool inUse = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!inUse || attempt == 9) {
      *missing = error == ERROR_CALL_NOT_IMPLEMENTED;
      ::SetLastError(error);
      return false;
    }
    ::Sleep(10);
  }
}

// A name beside path that nothing has, for the old file while the new one
// takes its place; "" when none is free.
std::string FreeNameBeside(const std::string& path) {
  for (int n = 0; n < 100; ++n) {
    const std::string name = path + ".tvxold" + (n == 0 ? std::string() : std::to_string(n));
    if (::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return name;
  }
  return "";
}

}  // namespace

// The old file is moved aside rather than deleted first, so that a failed
// MoveFileA can put it back: `to` is never left missing.
bool MoveReplacingWithoutMoveFileEx(const std::string& from, const std::string& to) {
  if (::GetFileAttributesA(to.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return ::MoveFileA(from.c_str(), to.c_str()) != 0;
  }
  const std::string aside = FreeNameBeside(to);
  if (aside.empty() || !::MoveFileA(to.c_str(), aside.c_str())) return false;
  if (!::MoveFileA(from.c_str(), to.c_str())) {
    ::MoveFileA(aside.c_str(), to.c_str());
    return false;
  }
  ::DeleteFileA(aside.c_str());
  return true;
}

bool NativeSystem::MoveToFreeName(const std::string& from, const std::string& to) {
  bool missing = false;
  if (CallMoveFileEx(from, to, MOVEFILE_WRITE_THROUGH, &missing)) return true;
  // MoveFileA never replaces an existing file either.
  return missing && ::MoveFileA(from.c_str(), to.c_str()) != 0;
}

// --- questions and changes of the update path ----------------------------------

// Windows has no FIFOs among files; a device name does not pass the
// attribute query.
bool NativeSystem::RegularFileExists(const std::string& path) { return FileExists(path); }

bool NativeSystem::IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Attributes and size in one query. GetFileAttributesExA is missing on
// Windows 95, so it is looked up; there the two questions are asked apart.
PathFacts NativeSystem::FactsOfPath(const std::string& path) {
  using GetFileAttributesExFn = BOOL(WINAPI*)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto query = kernel == nullptr ? nullptr
                                       : reinterpret_cast<GetFileAttributesExFn>(reinterpret_cast<void*>(
                                             ::GetProcAddress(kernel, "GetFileAttributesExA")));
  WIN32_FILE_ATTRIBUTE_DATA data;
  PathFacts facts;
  if (query == nullptr) {
    data.dwFileAttributes = ::GetFileAttributesA(path.c_str());
    if (data.dwFileAttributes == INVALID_FILE_ATTRIBUTES) return facts;
    const int64_t size = FileSize64(path);
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size < 0 ? 0 : size) >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size < 0 ? 0 : size);
  } else if (!query(path.c_str(), GetFileExInfoStandard, &data)) {
    return facts;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    facts.kind = PathFacts::Kind::kFolder;
  } else {
    facts.kind = PathFacts::Kind::kRegularFile;
    facts.size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return facts;
}

// The host passes full paths; the same text names the same file.
bool NativeSystem::SameFile(const std::string& a, const std::string& b) {
  if (!FileExists(a) || !FileExists(b)) return false;
  std::string na = a, nb = b;
  for (char& c : na) if (c == '/') c = '\\';
  for (char& c : nb) if (c == '/') c = '\\';
  return CompareTextNoCase(na, nb) == 0;
}

std::string NativeSystem::ResolveLink(const std::string& path) { return path; }

bool NativeSystem::PathFits(const std::string& path) {
  if (path.empty() || path.size() >= MAX_PATH) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    if (end - start > 255) return false;
    start = end + 1;
  }
  return true;
}

FileStamp NativeSystem::FileStampOf(const std::string& path) {
  WIN32_FIND_DATAA entry;
  if (!FindEntry(path, &entry) || IsDirectory(entry)) return FileStamp{};
  return FileStamp{(static_cast<int64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow,
                   TicksOf(entry.ftLastWriteTime)};
}

// Write-through: the rename is on disk before the call returns, so a replaced
// archive is not lost to a crash right after an update.
MoveOutcome NativeSystem::MoveReplacing(const std::string& from, const std::string& to) {
  bool missing = false;
  if (CallMoveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, &missing)) {
    return MoveOutcome::kMoved;
  }
  if (missing) return MoveReplacingWithoutMoveFileEx(from, to) ? MoveOutcome::kMoved : MoveOutcome::kFailed;
  return ::GetLastError() == ERROR_NOT_SAME_DEVICE ? MoveOutcome::kOtherVolume : MoveOutcome::kFailed;
}

// --- one update of an archive at a time -----------------------------------------

namespace {

// Asked through a handle that shares everything, so that neither readers nor
// a rename over the file are kept out while it is open.
FileIdentity IdentityByHandle(const std::string& path) {
  const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FileIdentity{};
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = ::GetFileInformationByHandle(h, &info) != 0;
  ::CloseHandle(h);
  if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileIdentity{};
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
                      TicksOf(info.ftLastWriteTime)};
}

void AppendHex(std::string& out, uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += "0123456789ABCDEF"[(value >> shift) & 0xF];
}

// FNV-1a of the path, '/' as '\\', without regard to ASCII case.
uint64_t PathHash(const std::string& path) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c == '/' ? '\\' : c);
    if (u >= 'a' && u <= 'z') u = static_cast<unsigned char>(u - 'a' + 'A');
    hash = (hash ^ u) * 1099511628211ull;
  }
  return hash;
}

// One name per file on this machine, whatever path leads to it. A volume
// that gives no file index (some network shares) is named by the path text.
std::string MutexNameOf(const std::string& path, const FileIdentity& identity) {
  std::string name = "TolvexUpdate-";
  if (identity.file != 0) {
    AppendHex(name, identity.volume, 8);
    name += '-';
    AppendHex(name, identity.file, 16);
  } else {
    name += "path-";
    AppendHex(name, PathHash(path), 16);
  }
  return name;
}

// Waits for the mutex until start + waitMilliseconds. WAIT_ABANDONED: the
// holder ended without releasing it; its update replaced nothing, or did so
// whole, so what it left is as good as released.
UpdateLock::Outcome WaitForMutex(HANDLE mutex, DWORD start, uint32_t waitMilliseconds) {
  const DWORD spent = ::GetTickCount() - start;
  const DWORD left = spent >= waitMilliseconds ? 0 : waitMilliseconds - spent;
  const DWORD waited = ::WaitForSingleObject(mutex, left);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return UpdateLock::Outcome::kHeld;
  return waited == WAIT_TIMEOUT ? UpdateLock::Outcome::kBusy : UpdateLock::Outcome::kUnavailable;
}

}  // namespace

FileIdentity NativeSystem::FileIdentityOf(const std::string& path) { return IdentityByHandle(path); }

// A lock on the file itself would not do: a file held open cannot have a new
// one renamed over it (before the POSIX rename of late Windows 10), and a
// byte-range lock keeps readers out. A mutex owned by this thread, named
// after the file, is released by the system when the process ends.
std::unique_ptr<SystemLock> NativeSystem::LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                                        UpdateLock::Outcome* outcome) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const FileIdentity before = IdentityByHandle(path);
    const HANDLE mutex = before.exists() ? ::CreateMutexA(nullptr, FALSE, MutexNameOf(path, before).c_str()) : nullptr;
    if (mutex == nullptr) {
      *outcome = UpdateLock::Outcome::kUnavailable;
      return std::make_unique<NativeLock>();
    }
    *outcome = WaitForMutex(mutex, start, waitMilliseconds);
    if (*outcome != UpdateLock::Outcome::kHeld) {
      ::CloseHandle(mutex);
      return std::make_unique<NativeLock>();
    }
    const FileIdentity now = IdentityByHandle(path);
    if (now.SameFileAs(before) || (before.file == 0 && now.exists())) {
      return std::make_unique<NativeLock>(reinterpret_cast<intptr_t>(mutex), now);
    }
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);  // replaced meanwhile: hold the file the name leads to now
  }
}

std::unique_ptr<SystemLock> NativeSystem::LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                              UpdateLock::Outcome* outcome) {
  const uint64_t hash = PathHash(path);
  std::string name = "TolvexCreate-";
  AppendHex(name, hash, 16);
  const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    *outcome = UpdateLock::Outcome::kUnavailable;
    return std::make_unique<NativeLock>();
  }
  *outcome = WaitForMutex(mutex, ::GetTickCount(), waitMilliseconds);
  if (*outcome != UpdateLock::Outcome::kHeld) {
    ::CloseHandle(mutex);
    return std::make_unique<NativeLock>();
  }
  return std::make_unique<NativeLock>(reinterpret_cast<intptr_t>(mutex), FileIdentity{0, hash, 0, 0});
}

SourceFolder::~SourceFolder() = default;  // Windows holds no folder open

NativeLock::~NativeLock() {
  if (handle_ != -1) {
    ::ReleaseMutex(Handle(handle_));
    ::CloseHandle(Handle(handle_));
    handle_ = -1;
  }
}

bool NativeSystem::SyncFolderOf(const std::string&) { return true; }

}  // namespace tvx::platform
