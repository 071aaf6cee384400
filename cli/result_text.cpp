#include "result_text.h"

#include "iwcxhead/wcxhead.h"

namespace tvx::cli {

std::string DescribeResult(int code, const std::string& path) {
  switch (code) {
    case E_SUCCESS: return "done: " + path;
    case E_END_ARCHIVE: return "unexpected end of archive: " + path;
    case E_NO_MEMORY: return "not enough memory for: " + path;
    case E_BAD_DATA: return "damaged entry: " + path;
    case E_BAD_ARCHIVE: return "archive is damaged: " + path;
    case E_UNKNOWN_FORMAT: return "not a Tolvex archive: " + path;
    case E_EOPEN: return "cannot open: " + path;
    case E_ECREATE: return "cannot create " + path;
    case E_ECLOSE: return "cannot close: " + path;
    case E_EREAD: return "cannot read: " + path;
    case E_EWRITE: return "write failed (disk full?): " + path;
    case E_SMALL_BUF: return "buffer too small for: " + path;
    case E_EABORTED: return "cancelled: " + path;
    case E_NO_FILES: return "no files to work on: " + path;
    case E_TOO_MANY_FILES: return "too many files for one archive: " + path;
    case E_NOT_SUPPORTED: return "too large for the format (2 GiB limit): " + path;
    default: return "the packer module failed with code " + std::to_string(code) + ": " + path;
  }
}

std::string CountOf(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool IsArchiveLevelFailure(int code) {
  return code == E_BAD_ARCHIVE || code == E_UNKNOWN_FORMAT || code == E_EOPEN ||
         code == E_NOT_SUPPORTED || code == E_TOO_MANY_FILES;
}

ExitStatus ExitStatusForArchiveCall(int code) {
  if (code == E_SUCCESS) return kExitOk;
  return IsArchiveLevelFailure(code) ? kExitUnusable : kExitSomeFailed;
}

}  // namespace tvx::cli
