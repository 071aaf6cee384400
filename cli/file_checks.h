// What `add` asks the file system itself before it asks the module, so that
// a refusal can name the file and the cause.
#ifndef TOLVEX_CLI_FILE_CHECKS_H
#define TOLVEX_CLI_FILE_CHECKS_H

#include <cstdint>
#include <string>

namespace tvx::cli {

// Empty when this process may create and delete files in folder, else the
// system's reason ("Permission denied", "Read-only file system").
std::string FolderWriteProblem(const std::string& folder);
// Whether this process may write to file (false for a read-only file).
bool FileWritable(const std::string& file);
// Bytes free for this process on the drive of path; -1 when unknown.
int64_t FreeBytes(const std::string& path);

}  // namespace tvx::cli

#endif
