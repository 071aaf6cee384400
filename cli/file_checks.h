// What `add` asks the file system itself before it asks the module, so that
// a refusal can name the file and the cause.
#ifndef TOLVEX_CLI_FILE_CHECKS_H
#define TOLVEX_CLI_FILE_CHECKS_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::cli {

// Empty when this process may create and delete files in folder, else the
// system's reason ("Permission denied", "Read-only file system").
std::string FolderWriteProblem(const std::string& folder);
// Whether this process may write to file (false for a read-only file).
bool FileWritable(const std::string& file);
// Bytes free for this process on the drive of path; -1 when unknown.
int64_t FreeBytes(const std::string& path);
// True when another program holds file open so that it may not be written,
// replaced or deleted (Windows sharing modes; never on POSIX, which has none).
bool InUseByAnotherProgram(const std::string& file);
// The folder of a path as given ("." for a bare name).
std::string FolderOf(const std::string& path);
// Why the archive (named as shown) cannot be rewritten, as far as tolvex can
// see: its folder is not writable (a new file replaces it), or it is
// read-only. Empty when neither.
std::string WriteRefusal(const std::string& archive, const std::string& shown);
// The archive's failure as a sentence naming it as shown (archive itself when
// empty): that another program holds it open where it does, a failed write
// or create by WriteRefusal where that sees why, else DescribeResult.
std::string ArchiveFailureText(int code, const std::string& archive, const std::string& shown = std::string());
// Empty when the variable that names the temporary folder (TMPDIR; TMP or
// TEMP on Windows) is unset or names a folder; else what is wrong with it,
// e.g. "TMPDIR names a folder that does not exist: /x".
std::string TempFolderProblem();

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
// The system's text for an errno value, e.g. "Permission denied".
std::string ErrorText(int error);

}  // namespace tvx::cli

#endif
