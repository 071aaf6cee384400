// Everything Tolvex asks of the operating system: a `System`, which the
// host's entry points give the archive code. This header includes no OS
// header; win32.cpp and posix.cpp implement it and CMake compiles exactly one.
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
  kLink,      // a symbolic link where none may be followed
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

// How a file is opened, and what its opening tells of it (System::OpenFile).
//
// Windows opens with CreateFileA and shares reading only (FILE_SHARE_READ).
// POSIX has no mandatory sharing modes, so there the sharing rule cannot be
// enforced: other processes may still open the file for writing.
struct File {
  enum class Mode {
    kRead,           // existing file, read-only (OPEN_EXISTING)
    kCreateWrite,    // created, or emptied when it exists, never through a link; write-only (CREATE_ALWAYS)
    kReadWrite,      // existing non-directory kept, anything else created (OPEN_EXISTING / CREATE_ALWAYS)
    kCreateNew,      // created; fails when the name is taken; write-only (CREATE_NEW)
    kCreatePrivate,  // as kCreateNew, for a file that is to take another's place
    // As kCreateNew and kCreatePrivate, and refused (IoErrorKind::kLink) when any
    // folder on the path is a symbolic link, where the system tells at the
    // creation itself (Linux); elsewhere the same as those.
    kCreateNewLinkFree,
    kCreatePrivateLinkFree,
  };
  // Only kCreateNew(LinkFree) makes a file others may read (POSIX 0644 less the umask).
  // The others make files that are to take another's place: they start
  // owner-only (0600) and get their final mode from the caller, so a private
  // archive is never readable by others while its successor is written.
  // Windows: a new file takes its folder's access either way.

  struct Facts {
    int64_t size = -1;            // full size; -1 when unknown
    int64_t wallClock = kNoWallClock;  // last write, as FileWallClockTime gives it
    int64_t modified = 0;         // last write at full precision, as FileStampOf gives it
    int64_t changed = 0;          // POSIX: last status change (ctime), as FileStampOf gives it; else 0
    uint64_t volume = 0, file = 0;  // POSIX: device and inode, as FileStampOf gives them; else 0
  };
};

// A file's size and last write at the system's full precision, to tell later
// whether it was changed (nanoseconds since 1970 on POSIX, FILETIME ticks on
// Windows). size is -1 when there is no such file. On POSIX also the last
// status change, which a write or a rename over the name moves even when the
// last write time is set back (touch -r, cp -p).
struct FileStamp {
  int64_t size = -1;
  int64_t modified = 0;
  int64_t changed = 0;
  // POSIX: device and inode, so that another file brought to the name (its
  // folder swapped for another, say) never passes for this one; else 0.
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileStamp& other) const {
    return size == other.size && modified == other.modified && changed == other.changed && volume == other.volume &&
           file == other.file;
  }
};

// What one look at a path (after links) tells of it: the answers of
// DirectoryExists, RegularFileExists and FileSize64 together.
struct PathFacts {
  enum class Kind { kMissing, kRegularFile, kFolder, kOther };
  Kind kind = Kind::kMissing;
  int64_t size = -1;  // a regular file's full size; -1 otherwise
};

// A source file read whole when it was looked at (System::LookAtSource), so
// that packing it needs no second opening.
struct ReadAhead {
  bool read = false;  // false: nothing was read; the file is opened again when packed
  std::string bytes;  // its content as it was read
  File::Facts facts;  // as OpenFile would give them
};

// The folder of the source looked at last (System::LookAtSource), held open
// where the system allows (POSIX), so that looking at the next source in the
// same folder walks only that source's own name. The destructor closes it.
class SourceFolder {
 public:
  SourceFolder() = default;
  ~SourceFolder();
  SourceFolder(const SourceFolder&) = delete;
  SourceFolder& operator=(const SourceFolder&) = delete;

 private:
  friend class NativeSystem;
  std::string path_;  // with its final separator; empty while none is held
  intptr_t handle_ = -1;
};

// How MoveReplacing ended: kOtherVolume when the two names lie on different
// volumes (EXDEV, ERROR_NOT_SAME_DEVICE) and a copy must do.
enum class MoveOutcome { kMoved, kOtherVolume, kFailed };

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

// How asking for a hold ended (System::LockForUpdate, LockNameForCreation).
struct UpdateLock {
  enum class Outcome {
    kHeld,         // held; identity() is the file as it is now
    kBusy,         // another update held it for the whole wait
    kUnavailable,  // no such file, or this volume cannot lock (not held)
  };
};

// --- the seam: what the archive code asks of the system ----------------------

// An open file, handed out by a System; the destructor closes it.
class SystemFile {
 public:
  virtual ~SystemFile() = default;
  // Why the last Read, Write, Seek, SetEndHere or Flush failed or fell short;
  // kNone when it did not. A read short without a system error met the end.
  virtual IoError LastError() const = 0;
  // Bytes read; 0 at the end or on failure. A read may be short only at the
  // end of the file, or when the system fails part-way (then the bytes that
  // did arrive).
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // Bytes written; 0 on failure. Complete unless the disk refused (full disk,
  // file size limit): the caller compares with count.
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
  // The new position, or kAllBits when the target would lie before the start
  // or beyond 32 bits (the position then stays).
  virtual uint32_t Seek(int32_t offset, SeekOrigin origin) = 0;
  // Size in bytes (low 32 bits); 0 on failure.
  virtual uint32_t Size() = 0;
  // Cuts or extends the file at the current position (SetEndOfFile).
  virtual bool SetEndHere() = 0;
  // Makes the written bytes durable (fsync, FlushFileBuffers) before the file
  // takes the place of another.
  virtual bool Flush() = 0;
  // Sets the last write to a wall-clock time (as System::SetModifiedWallClockTime
  // takes it) through this handle, once the last byte is written: no second
  // walk of the path, and nothing at that name can have been swapped in since.
  virtual bool SetModifiedWallClockTime(int64_t wallClockSeconds) = 0;
  // Gives this file what the file at `path` carries about access, before it
  // takes that file's place: POSIX the permission bits (read, write, execute;
  // not set-user-ID, set-group-ID or sticky) through this handle, so that
  // whatever is put at this file's name meanwhile gets nothing; Windows the
  // attributes hidden, system, archive and not-indexed.
  virtual bool TakeAccessOf(const std::string& path) = 0;
};

// An existing file held for one update, so that a second update of it (from
// another process, or another thread) waits until this one has put the new
// file in its place; the destructor releases it. The system drops it when the
// process ends, however it ends; no file is made for it. POSIX: flock on the
// file; Windows: a named mutex of the file's identity, since a file held open
// cannot be renamed over. Only Tolvex honours it: it is advisory, as is
// everything on POSIX.
class SystemLock {
 public:
  virtual ~SystemLock() = default;
  virtual bool held() const = 0;
  virtual FileIdentity identity() const = 0;
};

// The files, folders, drives and clock the archive code works with.
// posix.cpp and win32.cpp each implement it for their system (CMake compiles
// exactly one); tests wrap it to fail chosen calls, to stand in for drives
// this machine lacks, or to stop the process part-way.
class System {
 public:
  virtual ~System() = default;

  // Null when the file could not be opened, and then error (when given) says
  // why. facts, when given, receives the opened file's size and last-write
  // time, asked in the same breath (POSIX checks the file is no folder with it).
  virtual std::unique_ptr<SystemFile> OpenFile(const std::string& path, File::Mode mode, File::Facts* facts,
                                               IoError* error) = 0;

  // True when path names an existing file; a directory does not count.
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // An existing regular file (after links). A folder, a FIFO, a device or a
  // dangling link is not one.
  virtual bool RegularFileExists(const std::string& path) = 0;
  // The existing file may not be written: POSIX no write bit at all or no
  // write access; Windows FILE_ATTRIBUTE_READONLY.
  virtual bool IsReadOnlyFile(const std::string& path) = 0;
  // path itself is a symbolic link (Windows: any reparse point, so a junction
  // too). A missing path is no link.
  virtual bool IsSymbolicLink(const std::string& path) = 0;
  // True when folder and every folder above it is a real one, no symbolic
  // link, and the system can refuse links while it creates a file
  // (File::Mode::kCreateNewLinkFree). False otherwise, always on Windows.
  virtual bool ResolvesWithoutLinks(const std::string& folder) = 0;
  // a and b name the same existing file (POSIX: device and inode; Windows:
  // the same path text, '/' and '\' alike, without regard to case).
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
  // The file a symbolic link points to, followed to its end (POSIX); path
  // itself when it is no link (always on Windows). A dangling link still gives
  // the name it points to, so a new archive is created there.
  virtual std::string ResolveLink(const std::string& path) = 0;
  // Whether a file of this name can be created here at all: Windows MAX_PATH
  // (259 characters and the NUL, as the ANSI calls take them), and on both
  // systems components of at most 255 characters.
  virtual bool PathFits(const std::string& path) = 0;
  // The longest path the system's calls accept: 259 on Windows (MAX_PATH less
  // the NUL), PATH_MAX less the NUL on POSIX.
  virtual size_t MaxPathLength() = 0;
  // Low 32 bits of the file's size; 0 when nothing is found. Never opens it.
  virtual uint32_t FileSizeByName(const std::string& path) = 0;
  // The full size of a file, or -1 when there is none (or it is a directory).
  virtual int64_t FileSize64(const std::string& path) = 0;
  virtual FileStamp FileStampOf(const std::string& path) = 0;
  // POSIX one stat; Windows one GetFileAttributesExA.
  virtual PathFacts FactsOfPath(const std::string& path) = 0;
  // FactsOfPath of a file about to be packed; where the system allows (POSIX)
  // a regular file of at most maxBytes is then opened and read whole into
  // *readAhead, with the facts of that look. Only a regular file is ever
  // opened here: opening a FIFO or a device would act on it. folder carries
  // the folder of the previous look to the next one. A system without that
  // read answers FactsOfPath (this default).
  virtual PathFacts LookAtSource(const std::string& path, uint32_t maxBytes, ReadAhead* readAhead,
                                 SourceFolder& folder) {
    (void)maxBytes;
    (void)readAhead;
    (void)folder;
    return FactsOfPath(path);
  }
  // Last-write time on the local wall clock, in whole seconds counted as if
  // the local calendar time were UTC (as entry times are), whatever the year;
  // the time-zone and daylight-saving rules are those in force on that date.
  // kNoWallClock for directories and missing names.
  virtual int64_t FileWallClockTime(const std::string& path) = 0;
  // The same for a file or a directory.
  virtual int64_t ModifiedWallClockTime(const std::string& path) = 0;
  virtual int64_t CurrentWallClockTime() = 0;

  // The temporary folder, ending in the platform's separator.
  virtual std::string TempDirectory() = 0;
  // A new empty file in directory whose name starts with the first three
  // characters of prefix. On POSIX the name is chosen race-free (mkstemp), and
  // the file is owner-only (0600) until the caller gives it another mode.
  virtual PathResult CreateTempFile(const std::string& directory, const std::string& prefix) = 0;
  // Windows: the first three characters of the path (C:\), or the
  // \\server\share\ of a network path. POSIX: the nearest existing folder of the path.
  virtual std::string DriveRoot(const std::string& path) = 0;
  // Total free bytes of the volume holding path; 0 when the query fails.
  // (POSIX: a path that does not exist yet is looked up by its nearest folder.)
  virtual int64_t VolumeFreeBytes(const std::string& path) = 0;
  // Only a removable drive (Windows DRIVE_REMOVABLE; POSIX: the block device
  // is marked removable in sysfs). False when unknown.
  virtual bool IsRemovableDrive(const std::string& root) = 0;
  // Windows: same first character, case-insensitively; network paths: the
  // same share. POSIX: the nearest existing folders lie on the same device.
  // An empty path is on no drive.
  virtual bool SameDrive(const std::string& a, const std::string& b) = 0;

  virtual bool RemoveFile(const std::string& path) = 0;
  // As RemoveFile, and refused when a folder on the path is a symbolic link
  // (where the system can tell: Linux; elsewhere RemoveFile).
  virtual bool RemoveFileLinkFree(const std::string& path) = 0;
  // Creates one directory level; true when it exists as a directory after.
  virtual bool MakeDirectory(const std::string& path) = 0;
  // As MakeDirectory, refused when a folder on the path (or the name itself)
  // is a symbolic link, where the system can tell (Linux; elsewhere MakeDirectory).
  virtual bool MakeDirectoryLinkFree(const std::string& path) = 0;
  // Gives file `from` the name `to` in one atomic step, replacing what `to`
  // held (MoveFileExA with MOVEFILE_REPLACE_EXISTING and write-through;
  // rename). Where Windows has no working MoveFileExA (95, 98, ME) the old
  // file is renamed aside, the new one takes its name and the old one is
  // deleted: not atomic, but `to` is unchanged on failure, as always.
  virtual MoveOutcome MoveReplacing(const std::string& from, const std::string& to) = 0;
  // As MoveReplacing for two names in one folder, refused when a folder on
  // the path is a symbolic link (where the system can tell: Linux; elsewhere
  // MoveReplacing): the folder is opened once for both names.
  virtual MoveOutcome MoveReplacingLinkFree(const std::string& from, const std::string& to) = 0;
  // Gives file `from` the name `to` only while no file has that name, in one
  // step (a rename that refuses to replace, or link and unlink, on POSIX;
  // MoveFileExA without MOVEFILE_REPLACE_EXISTING on Windows): a name another
  // program took meanwhile is never replaced. False on failure, and then `to`
  // is unchanged.
  virtual bool MoveToFreeName(const std::string& from, const std::string& to) = 0;
  // Who may read and write the file: the POSIX permission bits, or kAllBits
  // where there are none to carry over (Windows: a new file takes its folder's).
  virtual uint32_t FileAccessMode(const std::string& path) = 0;
  // Gives the file the permissions FileAccessMode returned for another, so a
  // rewritten archive stays as private as it was.
  virtual bool SetFileAccessMode(const std::string& path, uint32_t mode) = 0;
  // Gives path (a file or folder, never followed if it is a link) the
  // modification time of a wall-clock second count.
  virtual bool SetModifiedWallClockTime(const std::string& path, int64_t wallClockSeconds) = 0;

  virtual FileIdentity FileIdentityOf(const std::string& path) = 0;
  // The hold on an existing file, kept until the object is destroyed; never
  // null. Waits at most waitMilliseconds; once held, checks that path still
  // leads to the file it holds (the previous holder may have renamed a new
  // file over it) and holds that file instead when not. held() false (and
  // outcome says why) when it could not be taken.
  virtual std::unique_ptr<SystemLock> LockForUpdate(const std::string& path, uint32_t waitMilliseconds,
                                                    UpdateLock::Outcome* outcome) = 0;
  // The same for a file not made yet: its name is held (POSIX: an abstract
  // socket named after its folder and name; Windows: a named mutex of the
  // path), so that two calls creating it do not both write it. identity()
  // tells what is held (a hash of the name).
  virtual std::unique_ptr<SystemLock> LockNameForCreation(const std::string& path, uint32_t waitMilliseconds,
                                                          UpdateLock::Outcome* outcome) = 0;
  // Makes the names in path's folder durable (fsync of the folder on POSIX),
  // so that a rename into it survives a power cut. Windows renames with
  // write-through already. A folder that cannot be synced at all (the file
  // system does not support it) counts as done.
  virtual bool SyncFolderOf(const std::string& path) = 0;
};

// This machine's system.
System& OsSystem();

}  // namespace tvx::platform

#endif
