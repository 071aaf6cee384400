// Everything Tolvex asks of the operating system. This header includes no OS
// header; win32.cpp and posix.cpp implement it and CMake compiles exactly one.
//
// The archive code does not call these functions itself: it asks a `System`
// (at the end of this header), which the host's entry points give it. The
// system of the machine passes each question on to the functions here; tests
// wrap it to fail chosen calls, to stand in for drives this machine lacks, or
// to stop the process part-way.
//
// Paths are 8-bit strings in the system's code page (ANSI on Windows, bytes on
// POSIX). No function throws; every failure comes back as a value.
#ifndef TOLVEX_PLATFORM_PLATFORM_H
#define TOLVEX_PLATFORM_PLATFORM_H

#include <cstdint>
#include <memory>
#include <string>

namespace tvx::platform {

// Separator of the platform's own paths: '\' on Windows, '/' on POSIX.
extern const char kPathSeparator;
// True for every character that separates path components here
// ('\', '/' and ':' on Windows; '/' on POSIX): IsPathSeparatorOf this system.
bool IsPathSeparator(char c);

// Seek origins, with the values SetFilePointer uses.
enum SeekOrigin : int { kFromBegin = 0, kFromCurrent = 1, kFromEnd = 2 };

// All bits set: the failure value of 32-bit positions and access modes.
constexpr uint32_t kAllBits = 0xFFFFFFFFu;
// The largest position a 32-bit seek may reach: kAllBits itself is the failure.
constexpr uint32_t kLastValidPosition = kAllBits - 1;
// The failure value of wall-clock times (below).
constexpr int64_t kNoWallClock = INT64_MIN;

// What made a file operation fail, as far as the caller can act on it.
enum class IoErrorKind {
  kNone,      // no failure
  kEnd,       // the data ended before the count asked for (no system error)
  kNotFound,  // no such file or folder
  kAccess,    // not allowed, or in use by another process
  kDiskFull,  // no room, or a file size limit
  kIo,        // the device failed (a bad sector, a dropped share), or anything else
  kCorrupt,   // the bytes arrived but make no sense (compressed data that does not inflate)
};

struct IoError {
  IoErrorKind kind = IoErrorKind::kNone;
  int osCode = 0;  // errno, or GetLastError(); 0 when the system gave none
  bool failed() const { return kind != IoErrorKind::kNone; }
};

// A name the system made, or why it could not make one.
struct PathResult {
  std::string path;  // empty exactly when failed()
  IoError error;
  bool failed() const { return error.failed(); }
};

// Forgets the system's last error code (errno, SetLastError(0)), so that a
// later LastSystemError tells whether the calls in between failed.
void ClearSystemError();
// The system's last error code, classified; kNone when it is 0.
IoError LastSystemError();

// An open file, owned. Move-only; the destructor closes it.
//
// Windows opens with CreateFileA and shares reading only (FILE_SHARE_READ).
// POSIX has no mandatory sharing modes, so there the sharing rule cannot be
// enforced: other processes may still open the file for writing.
class File {
 public:
  enum class Mode {
    kRead,         // existing file, read-only (OPEN_EXISTING)
    kCreateWrite,  // created, or emptied when it exists; write-only (CREATE_ALWAYS)
    kReadWrite,    // existing non-directory kept, anything else created (OPEN_EXISTING / CREATE_ALWAYS)
    kCreateNew,    // created; fails when the name is taken; write-only (CREATE_NEW)
  };

  struct Facts {
    int64_t size = -1;            // full size; -1 when unknown
    int64_t wallClock = kNoWallClock;  // last write, as FileWallClockTime gives it
    int64_t modified = 0;         // last write at full precision, as FileStampOf gives it
  };

  File() = default;
  // facts, when given, receives the opened file's size and last-write time,
  // asked in the same breath (POSIX checks the file is no folder with it).
  static File Open(const std::string& path, Mode mode, Facts* facts = nullptr);
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False after a failed open (the INVALID_HANDLE_VALUE case).
  bool IsOpen() const;
  // The native handle (HANDLE or fd) as an integer; -1 when not open.
  intptr_t NativeHandle() const;

  // Bytes read; 0 at the end, on failure or when not open. A read may be short
  // only at the end of the file, or when the system fails part-way (then the
  // bytes that did arrive).
  uint32_t Read(void* buffer, uint32_t count);
  // Bytes written; 0 on failure. Complete unless the disk refused (full disk,
  // file size limit): the caller compares with count.
  uint32_t Write(const void* buffer, uint32_t count);
  // The new position, or kAllBits when the target would lie before the start
  // or beyond 32 bits, or when the file is not open.
  uint32_t Seek(int32_t offset, SeekOrigin origin);
  // Size in bytes (low 32 bits); 0 on failure.
  uint32_t Size();
  // Cuts or extends the file at the current position (SetEndOfFile). False on failure.
  bool SetEndHere();
  // Makes the written bytes durable (fsync, FlushFileBuffers) before the file
  // takes the place of another. False on failure.
  bool Flush();

 private:
  explicit File(intptr_t handle) : handle_(handle) {}
  void Close();
  // Per system, for Seek: the position and the full size now (false when the
  // system cannot tell), and the move to a position below 4 GiB.
  bool PositionNow(int64_t* position) const;
  bool SizeNow(int64_t* size) const;
  bool MoveTo(uint32_t target);
  // Per system, for Read and Write: one call of the system, which may move
  // fewer bytes than asked; 0 at the end of the file or on failure.
  uint32_t ReadOnce(unsigned char* bytes, uint32_t count);
  uint32_t WriteOnce(const unsigned char* bytes, uint32_t count);
  intptr_t handle_ = -1;
};

// --- file-system questions -------------------------------------------------

// True when path names an existing file; a directory does not count.
bool FileExists(const std::string& path);
// True when path names an existing directory.
bool DirectoryExists(const std::string& path);
// Low 32 bits of the file's size; 0 when nothing is found. Never opens the file.
uint32_t FileSizeByName(const std::string& path);
// The full size of a file, or -1 when there is none (or it is a directory).
int64_t FileSize64(const std::string& path);
// Last-write time on the local wall clock, in whole seconds counted as if the
// local calendar time were UTC (as entry times are), whatever the year; the
// time-zone and daylight-saving rules are those in force on that date.
// kNoWallClock for directories and missing names.
int64_t FileWallClockTime(const std::string& path);
// Last-write time of a file or a directory, as FileWallClockTime.
int64_t ModifiedWallClockTime(const std::string& path);
// Now, as FileWallClockTime.
int64_t CurrentWallClockTime();

// The temporary folder, ending in the platform's separator.
std::string TempDirectory();
// A new empty file in directory whose name starts with the first three
// characters of prefix, or why none could be made. On POSIX the name is
// chosen race-free (mkstemp).
PathResult CreateTempFile(const std::string& directory, const std::string& prefix);

// Windows: the first three characters of the path (C:\), or \\server\share\ of
// a network path. POSIX: the nearest existing folder of the path (the path
// itself when it is one).
std::string DriveRoot(const std::string& path);
// Total free bytes of the volume holding path; 0 when the query fails.
// (POSIX: a path that does not exist yet is looked up by its nearest folder.)
int64_t VolumeFreeBytes(const std::string& path);
// True only for a removable drive (Windows DRIVE_REMOVABLE; POSIX: the block
// device is marked removable in sysfs). False when unknown.
bool IsRemovableDrive(const std::string& root);
// Windows: same first character, case-insensitively; network paths: the same
// share. POSIX: the nearest existing folders lie on the same device. An empty
// path is on no drive.
bool SameDrive(const std::string& a, const std::string& b);
// 0 when equal without regard to case, negative when a sorts first, positive
// otherwise. Windows: CompareStringA; POSIX: ASCII case folding.
int CompareTextNoCase(const std::string& a, const std::string& b);

// --- changes to the file system --------------------------------------------
// (Named apart from the Win32 macros DeleteFile, CreateDirectory, ReplaceFile.)

// Deletes a file. False when it could not be deleted.
bool RemoveFile(const std::string& path);
// Removes an empty directory. False on failure.
bool RemoveEmptyDirectory(const std::string& path);
// Creates one directory level. True when it was created or already exists as
// a directory.
bool MakeDirectory(const std::string& path);
// Gives file `from` the name `to` in one atomic step, replacing what `to` held
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING; rename). Both must be on the
// same volume. False on failure, and then `to` is unchanged.
bool MoveReplacing(const std::string& from, const std::string& to);
// Gives file `from` the name `to` only while no file has that name, in one
// step (link and unlink, or a rename that refuses to replace, on POSIX;
// MoveFileExA without MOVEFILE_REPLACE_EXISTING on Windows): a name another
// program took meanwhile is never replaced. False on failure, and then `to`
// is unchanged.
bool MoveToFreeName(const std::string& from, const std::string& to);
#ifdef _WIN32
// What MoveReplacing does where the system has no working MoveFileExA (Windows
// 95, 98, ME): the old file is renamed aside, the new one takes its name, and
// the old one is deleted; should the second step fail, the old file returns.
// Not atomic, but `to` is unchanged on failure.
bool MoveReplacingWithoutMoveFileEx(const std::string& from, const std::string& to);
#endif
// Who may read and write the file: the POSIX permission bits, or kAllBits
// where there are none to carry over (Windows: a new file takes its folder's).
uint32_t FileAccessMode(const std::string& path);
// Gives the file the permissions FileAccessMode returned for another, so a
// rewritten archive stays as private as it was. False on failure.
bool SetFileAccessMode(const std::string& path, uint32_t mode);

// --- questions and changes of the update path --------------------------------

// True when path names an existing regular file (after links). A folder, a
// FIFO, a device or a dangling link is not one.
bool RegularFileExists(const std::string& path);
// True when the existing file may not be written: POSIX no write bit at all or
// no write access; Windows FILE_ATTRIBUTE_READONLY.
bool IsReadOnlyFile(const std::string& path);
// True when a and b name the same existing file (POSIX: device and inode;
// Windows: the same path text, '/' and '\' alike, without regard to case).
bool SameFile(const std::string& a, const std::string& b);
// The file a symbolic link points to, followed to its end (POSIX); path itself
// when it is no link (always on Windows). A dangling link still gives the name
// it points to, so a new archive is created there.
std::string ResolveLink(const std::string& path);
// Whether a file of this name can be created here at all: Windows MAX_PATH
// (259 characters and the NUL, as the ANSI calls take them), and on both
// systems components of at most 255 characters.
bool PathFits(const std::string& path);

// A file's size and last write at the system's full precision, to tell later
// whether it was changed (nanoseconds since 1970 on POSIX, FILETIME ticks on
// Windows). size is -1 when there is no such file.
struct FileStamp {
  int64_t size = -1;
  int64_t modified = 0;
  bool operator==(const FileStamp& other) const { return size == other.size && modified == other.modified; }
};
FileStamp FileStampOf(const std::string& path);

// What one look at a path (after links) tells of it: the answers of
// DirectoryExists, RegularFileExists and FileSize64 together.
struct PathFacts {
  enum class Kind { kMissing, kRegularFile, kFolder, kOther };
  Kind kind = Kind::kMissing;
  int64_t size = -1;  // a regular file's full size; -1 otherwise
};
// POSIX one stat; Windows one GetFileAttributesExA.
PathFacts FactsOfPath(const std::string& path);

// How MoveReplacingOnVolume ended: kOtherVolume when the two names lie on
// different volumes (EXDEV, ERROR_NOT_SAME_DEVICE) and a copy must do.
enum class MoveOutcome { kMoved, kOtherVolume, kFailed };
// MoveReplacing that tells a rename across volumes from other failures.
MoveOutcome MoveReplacingOnVolume(const std::string& from, const std::string& to);

// --- one update of an archive at a time -----------------------------------------

// Which file a name leads to, and how it was when asked: POSIX device and
// inode, Windows volume serial number and file index; with its size and last
// write (as FileStampOf gives them). size is -1 when there is no such file.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  int64_t size = -1;
  int64_t modified = 0;
  bool exists() const { return size >= 0; }
  bool SameFileAs(const FileIdentity& other) const {
    return exists() && other.exists() && volume == other.volume && file == other.file;
  }
  bool operator==(const FileIdentity& other) const {
    return SameFileAs(other) && size == other.size && modified == other.modified;
  }
};
FileIdentity FileIdentityOf(const std::string& path);

// An existing file held for one update, so that a second update of it (from
// another process, or another thread) waits until this one has put the new
// file in its place. The system drops it when the process ends, however it
// ends; no file is made for it. POSIX: flock on the file; Windows: a named
// mutex of the file's identity, since a file held open cannot be renamed
// over. Only Tolvex honours it: it is advisory, as is everything on POSIX.
class UpdateLock {
 public:
  enum class Outcome {
    kHeld,         // held; identity() is the file as it is now
    kBusy,         // another update held it for the whole wait
    kUnavailable,  // no such file, or this volume cannot lock (not held)
  };

  UpdateLock() = default;
  // Waits at most waitMilliseconds. Once held, checks that path still leads
  // to the file it holds (the previous holder may have renamed a new file
  // over it) and holds that file instead when not.
  static UpdateLock Acquire(const std::string& path, uint32_t waitMilliseconds, Outcome* outcome);
  // The same for a file not made yet: its name is held (POSIX: an abstract
  // socket named after its folder and name; Windows: a named mutex of the
  // path), so that two calls creating it do not both write it.
  // identity() tells what is held (a hash of the name).
  static UpdateLock AcquireName(const std::string& path, uint32_t waitMilliseconds, Outcome* outcome);
  ~UpdateLock();
  UpdateLock(UpdateLock&& other) noexcept;
  UpdateLock& operator=(UpdateLock&& other) noexcept;
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;

  bool held() const { return handle_ != -1; }
  const FileIdentity& identity() const { return identity_; }

 private:
  UpdateLock(intptr_t handle, const FileIdentity& identity) : handle_(handle), identity_(identity) {}
  void Release();
  intptr_t handle_ = -1;  // the locked fd, or the owned mutex
  FileIdentity identity_;
};

// Makes the names in path's folder durable (fsync of the folder on POSIX), so
// that a rename into it survives a power cut. Windows renames with
// write-through already: nothing left to do there. False on failure; a folder
// that cannot be synced at all (the file system does not support it) counts
// as done.
bool SyncFolderOf(const std::string& path);

// --- extracted files ------------------------------------------------------------

// Gives path (a file or folder, never followed if it is a link) the
// modification time of a wall-clock second count: the local calendar time
// counted as if it were UTC, as entry times are. False on failure.
bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds);
// Gives file `to` what `from` carries about access: the POSIX permission bits,
// or the Windows attributes hidden, system and archive. False on failure.
bool CarryFileAccess(const std::string& from, const std::string& to);
// True when path itself is a symbolic link (Windows: any reparse point, so a
// junction too). A missing path is no link.
bool IsSymbolicLink(const std::string& path);
// The longest path the system's calls accept here: 259 characters on Windows
// (MAX_PATH less the NUL), PATH_MAX less the NUL on POSIX.
size_t MaxPathLength();


// --- the seam: what the archive code asks of the system ----------------------

// An open file, handed out by a System; the destructor closes it. Read,
// Write, Seek, Size, SetEndHere and Flush answer as File's do.
class SystemFile {
 public:
  virtual ~SystemFile() = default;
  // Why the last Read, Write, Seek, SetEndHere or Flush failed or fell short;
  // kNone when it did not.
  virtual IoError LastError() const = 0;
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
  virtual uint32_t Seek(int32_t offset, SeekOrigin origin) = 0;
  virtual uint32_t Size() = 0;
  virtual bool SetEndHere() = 0;
  virtual bool Flush() = 0;
};

// An UpdateLock handed out by a System; the destructor releases it.
class SystemLock {
 public:
  virtual ~SystemLock() = default;
  virtual bool held() const = 0;
  virtual FileIdentity identity() const = 0;
};

// The files, folders, drives and clock the archive code works with. Each
// member answers as the free function of the same name above.
class System {
 public:
  virtual ~System() = default;

  // Null when the file could not be opened, and then error (when given) says
  // why; facts as File::Open gives them.
  virtual std::unique_ptr<SystemFile> OpenFile(const std::string& path, File::Mode mode, File::Facts* facts,
                                               IoError* error) = 0;

  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool RegularFileExists(const std::string& path) = 0;
  virtual bool IsReadOnlyFile(const std::string& path) = 0;
  virtual bool IsSymbolicLink(const std::string& path) = 0;
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
  virtual std::string ResolveLink(const std::string& path) = 0;
  virtual bool PathFits(const std::string& path) = 0;
  virtual size_t MaxPathLength() = 0;
  virtual uint32_t FileSizeByName(const std::string& path) = 0;
  virtual int64_t FileSize64(const std::string& path) = 0;
  virtual FileStamp FileStampOf(const std::string& path) = 0;
  // By default composed of the members it stands for, asked one by one.
  virtual PathFacts FactsOfPath(const std::string& path);
  virtual int64_t FileWallClockTime(const std::string& path) = 0;
  virtual int64_t ModifiedWallClockTime(const std::string& path) = 0;
  virtual int64_t CurrentWallClockTime() = 0;

  virtual std::string TempDirectory() = 0;
  virtual PathResult CreateTempFile(const std::string& directory, const std::string& prefix) = 0;
  virtual std::string DriveRoot(const std::string& path) = 0;
  virtual int64_t VolumeFreeBytes(const std::string& path) = 0;
  virtual bool IsRemovableDrive(const std::string& root) = 0;
  virtual bool SameDrive(const std::string& a, const std::string& b) = 0;

  virtual bool RemoveFile(const std::string& path) = 0;
  virtual bool MakeDirectory(const std::string& path) = 0;
  virtual bool MoveReplacing(const std::string& from, const std::string& to) = 0;
  virtual bool MoveToFreeName(const std::string& from, const std::string& to) = 0;
  virtual MoveOutcome MoveReplacingOnVolume(const std::string& from, const std::string& to) = 0;
  virtual uint32_t FileAccessMode(const std::string& path) = 0;
  virtual bool SetFileAccessMode(const std::string& path, uint32_t mode) = 0;
  virtual bool CarryFileAccess(const std::string& from, const std::string& to) = 0;
  virtual bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) = 0;

  virtual FileIdentity FileIdentityOf(const std::string& path) = 0;
  // The lock held until the object is destroyed; never null. held() false
  // (and outcome says why) when it could not be taken.
  virtual std::unique_ptr<SystemLock> LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                                    UpdateLock::Outcome* outcome) = 0;
  virtual std::unique_ptr<SystemLock> LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                          UpdateLock::Outcome* outcome) = 0;
  virtual bool SyncFolderOf(const std::string& path) = 0;
};

// This machine's system: the functions of this header.
System& OsSystem();

}  // namespace tvx::platform

#endif
