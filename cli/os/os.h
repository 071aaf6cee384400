// What the command-line host asks of the system, behind one set of
// declarations: posix.cpp or win32.cpp implements them, and the rest of cli/
// stays portable.
#ifndef TOLVEX_CLI_OS_OS_H
#define TOLVEX_CLI_OS_OS_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tvx::cli::os {

#ifdef _WIN32
constexpr bool kWindows = true;
constexpr char kNativeSeparator = '\\';
// The variables that name the temporary folder, in the order they are read.
inline constexpr const char* kTempFolderVariables[] = {"TMP", "TEMP"};
#else
constexpr bool kWindows = false;
constexpr char kNativeSeparator = '/';
inline constexpr const char* kTempFolderVariables[] = {"TMPDIR"};
#endif

#ifdef _WIN64
constexpr const char* kModuleFileName = "Tolvex.wcx64";
#else
constexpr const char* kModuleFileName = "Tolvex.wcx";
#endif

// Fixed path buffers of what a signal handler may touch: it may not allocate.
constexpr size_t kPathCapacity = 4096;

// Empty when this process may create and delete files in folder, else the
// system's reason ("Permission denied", "Read-only file system").
std::string FolderWriteProblem(const std::string& folder);
// Whether this process may write to file (false for a read-only file).
bool FileWritable(const std::string& file);
// True when another program holds file open so that it may not be written,
// replaced or deleted (Windows sharing modes; never on POSIX, which has none).
bool InUseByAnotherProgram(const std::string& file);

// One look at a path (one stat): what the walk of the sources needs of it.
struct PathLook {
  int error = 0;  // errno of the failed look; 0 when the path was seen
  bool link = false;
  bool directory = false;
  bool regular = false;
  int64_t size = 0;
  int64_t modified = 0;  // the system's own units; compared, never shown
  // Opening it for reading cannot fail by its permissions: this process owns
  // it and its owner may read it. Otherwise only an open tells.
  bool readable = false;
  // Which file it is, where the system tells (POSIX); 0 where unknown.
  uint64_t device = 0;
  uint64_t inode = 0;
};
// The path itself (a link not followed), or what a link leads to when follow.
PathLook LookAt(const std::string& path, bool follow);

// One entry of a folder as the walk sees it.
struct FolderChild {
  std::string name;
  PathLook look;    // the entry itself, a link not followed
  PathLook target;  // what a link leads to; the same as look for anything else
};
// Lists folder once and looks at each child there (relative to the open
// folder where the system allows), the children in name order as paths
// compare them. Empty, or the system's reason the folder cannot be listed.
std::string ListFolder(const std::string& folder, std::vector<FolderChild>& children);

bool StderrIsTerminal();
// The width of the console behind stderr, when the system tells it.
bool StderrColumns(int& columns);

// The local time of when into fields; false when the system cannot tell it.
bool LocalTime(const std::time_t& when, std::tm& fields);

// The loaded library, or null with error set to the sentence to show.
void* OpenLibrary(const std::string& path, std::string& error);
void* FindSymbol(void* library, const char* name);
// Windows only: the export of that ordinal.
void* FindOrdinal(void* library, int ordinal);
void CloseLibrary(void* library);
std::string ExecutablePath();

// What the handlers call back; everything those calls reach must be safe in
// a signal handler.
struct InterruptCalls {
  bool (*note)(int signalNumber);  // true when a signal was noted before
  int (*cleanUp)();                // removes what the work left; the exit status
};
// On SIGINT, SIGTERM and SIGHUP, or a console event on Windows.
void InstallInterruptHandlers(const InterruptCalls& calls);
void RemoveInterruptHandlers();

// A file as it was, to tell later whether it changed (POSIX only; nothing is
// kept on Windows, where a file the module works on is open and stays).
struct FileSnapshot {
  bool existed = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
};
FileSnapshot SnapshotFile(const char* path);
// This and the four below are safe in a signal handler.
bool FileChangedSince(const char* path, const FileSnapshot& was);
// Deletes the files directly in folder, not the folders in it.
void RemoveFolderContents(const char* folder);
void RemoveFolder(const char* folder);
void RemoveFile(const char* file);
// As RemoveFile, refused when a folder on the path is a symbolic link, where
// the system can tell (Linux; RemoveFile elsewhere).
void RemoveFileLinkFree(const char* file);
// True when no folder on folder's path is a symbolic link, as the system
// tells (Linux); false elsewhere.
bool ResolvesWithoutLinks(const std::string& folder);
// Makes base/relative (relative in '/' form) and the folders on its way, each
// relative to its parent opened refusing links; false when one cannot be made
// or is a link. Only where ResolvesWithoutLinks(base).
bool MakeFoldersLinkFree(const std::string& base, const std::string& relative);

// A new folder of this process's own in the temporary folder; empty when
// none could be made.
std::string MakeTempFolder();
// Points the variables that name the temporary folder at folder.
void PointTempAt(const std::string& folder);

}  // namespace tvx::cli::os

#endif
