#include "file_checks.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
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
  return ::access(file.c_str(), W_OK) == 0;
#endif
}

int64_t FreeBytes(const std::string& path) {
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(path, ec);
  if (ec || space.available == static_cast<std::uintmax_t>(-1)) return -1;
  return static_cast<int64_t>(space.available);
}

}  // namespace tvx::cli
