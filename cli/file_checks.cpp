#include "file_checks.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "iwcxhead/wcxhead.h"
#include "result_text.h"

namespace tvx::cli {

int64_t FreeBytes(const std::string& path) {
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(path, ec);
  if (ec || space.available == static_cast<std::uintmax_t>(-1)) return -1;
  return static_cast<int64_t>(space.available);
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
  for (const char* name : os::kTempFolderVariables) {
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

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace tvx::cli
