// What `add` asks the file system itself before it asks the module, so that
// a refusal can name the file and the cause.
#ifndef TOLVEX_CLI_FILE_CHECKS_H
#define TOLVEX_CLI_FILE_CHECKS_H

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"

namespace tvx::cli {

// Asked of the system directly.
using os::FileWritable;
using os::FolderChild;
using os::FolderWriteProblem;
using os::InUseByAnotherProgram;
using os::ListFolder;
using os::LookAt;
using os::PathLook;

// Bytes free for this process on the drive of path; -1 when unknown.
int64_t FreeBytes(const std::string& path);
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

// The system's text for an errno value, e.g. "Permission denied".
std::string ErrorText(int error);

}  // namespace tvx::cli

#endif
