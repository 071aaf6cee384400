#include "TolvexU/result_codes.h"

#include "iwcxhead/wcxhead.h"

namespace tvx::host {

int ToHostCode(Status status) {
  switch (status) {
    case Status::kOk: return E_SUCCESS;
    case Status::kCreateFailed: return E_ECREATE;
    case Status::kWriteFailed: return E_EWRITE;
    case Status::kReadFailed: return E_EREAD;
    case Status::kBadData: return E_BAD_DATA;
    case Status::kBadArchive: return E_BAD_ARCHIVE;
    case Status::kNoMemory: return E_NO_MEMORY;
    case Status::kTooLarge: return E_NOT_SUPPORTED;
    case Status::kCancelled: return E_EABORTED;
  }
  return E_BAD_DATA;
}

int ToHostCode(Archive::OpenResult result) {
  switch (result) {
    case Archive::OpenResult::kOk: return E_SUCCESS;
    case Archive::OpenResult::kNotThisFormat: return E_UNKNOWN_FORMAT;
    case Archive::OpenResult::kDamaged: return E_BAD_ARCHIVE;
    case Archive::OpenResult::kReadFailed: return E_EREAD;
  }
  return E_BAD_ARCHIVE;
}

}  // namespace tvx::host
