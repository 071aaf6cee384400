// The nine functions the host calls. Each converts the host's arguments, calls
// the archive code and maps the outcome to the host's result code.
//
// No exception may unwind into the host: it would end the host's process. The
// standard containers throw only when memory runs out (std::bad_alloc,
// std::length_error), so each export that allocates runs its body through
// Guarded, which turns any exception into the export's answer for that.
#include <cstring>
#include <memory>
#include <string>

#include "TolvexU/archive_changes.h"
#include "TolvexU/host_dialect.h"
#include "TolvexU/progress.h"
#include "TolvexU/result_codes.h"
#include "commonsU/path_text.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/extract.h"

namespace {

constexpr int kCapabilities = PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_BY_CONTENT;

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

tvx::Archive* FromHandle(HANDLE_WCX handle) { return static_cast<tvx::Archive*>(handle); }

// Copies name into the host's 260-byte FileName, always NUL-terminated.
void SetFileName(char (&fileName)[260], const std::string& name) {
  const size_t length = name.size() < sizeof fileName - 1 ? name.size() : sizeof fileName - 1;
  std::memcpy(fileName, name.data(), length);
  fileName[length] = '\0';
}

// body(), or onNoMemory when it throws.
template <typename Result, typename Body>
Result Guarded(Result onNoMemory, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return onNoMemory;
  }
}

}  // namespace

extern "C" {

HANDLE_WCX WCX_API OpenArchive(tOpenArchiveData* archiveData) {
  if (archiveData == nullptr) return nullptr;
  return Guarded<HANDLE_WCX>(nullptr, [archiveData]() -> HANDLE_WCX {
    archiveData->OpenResult = E_NO_MEMORY;  // stays so only when the body throws
    std::unique_ptr<tvx::Archive> archive = tvx::Archive::NewArchive(tvx::platform::OsSystem(), Text(archiveData->ArcName));
    archiveData->OpenResult = tvx::host::ToHostCode(archive->result());
    return archive->result() == tvx::Archive::OpenResult::kOk ? archive.release() : nullptr;
  });
}

int WCX_API ReadHeader(HANDLE_WCX handle, tHeaderData* headerData) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [handle, headerData] {
    tvx::Archive* archive = FromHandle(handle);
    if (archive == nullptr || headerData == nullptr) return static_cast<int>(E_END_ARCHIVE);
    const tvx::ArchiveEntry* entry = archive->EntryAt(archive->current + 1);
    archive->currentPending = entry != nullptr;
    if (entry == nullptr) return static_cast<int>(E_END_ARCHIVE);
    ++archive->current;
    SetFileName(headerData->FileName, tvx::host::ShownName(*archive, static_cast<size_t>(archive->current)));
    headerData->FileAttr = tvx::host::FileAttrOf(*entry);
    headerData->PackSize = entry->packedSize;
    headerData->UnpSize = entry->unpackedSize;
    headerData->FileTime = tvx::host::FileTimeOf(*entry);
    return 0;
  });
}

int WCX_API ProcessFile(HANDLE_WCX handle, int operation, char* destPath, char* destName) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [=] {
    tvx::Archive* archive = FromHandle(handle);
    if (archive == nullptr) return static_cast<int>(E_END_ARCHIVE);
    const tvx::ArchiveEntry* entry = archive->EntryAt(archive->current);
    if (entry == nullptr || !archive->currentPending) return static_cast<int>(E_END_ARCHIVE);
    archive->currentPending = false;
    tvx::Status status = tvx::Status::kOk;
    if (operation == PK_SKIP) {
      tvx::SkipEntry(*archive, *entry);
    } else if (operation == PK_TEST) {
      status = tvx::TestEntry(*archive, *entry);
    } else {
      // Below a DestPath the host named, links found on the way are refused.
      const std::string folder = Text(destPath);
      const std::string target = tvx::JoinPath(folder, Text(destName), tvx::platform::kPathSeparator,
                                               tvx::platform::IsPathSeparator);
      status = tvx::ExtractEntry(*archive, *entry, target, folder.size());
    }
    tvx::host::ReportProgress(*entry);
    return tvx::host::ToHostCode(status);
  });
}

int WCX_API CloseArchive(HANDLE_WCX handle) {
  tvx::Archive* archive = FromHandle(handle);
  if (archive != nullptr) {
    // Folder times are a courtesy: running out of memory for them must not
    // keep the archive open.
    Guarded(0, [archive] {
      tvx::RestoreFolderTimes(*archive);
      return 0;
    });
  }
  delete archive;
  return 0;
}

int WCX_API PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [=] {
    tvx::host::PackRequest request;
    request.packedFile = Text(packedFile);
    request.subPath = Text(subPath);
    request.srcPath = Text(srcPath);
    request.addList = addList;
    request.flags = flags;
    return tvx::host::PackFilesWith(tvx::platform::OsSystem(), request);
  });
}

int WCX_API DeleteFiles(char* packedFile, char* deleteList) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [=] {
    return tvx::host::DeleteFilesWith(tvx::platform::OsSystem(), Text(packedFile), deleteList);
  });
}

int WCX_API GetPackerCaps(void) { return kCapabilities; }

void WCX_API SetProcessDataProc(HANDLE_WCX, tProcessDataProc processDataProc) {
  tvx::host::SetProgressCallback(processDataProc);
}

int WCX_API CanYouHandleThisFile(char* fileName) {
  return Guarded(0, [fileName] { return tvx::Archive::NewArchive(tvx::platform::OsSystem(), Text(fileName))->valid() ? 1 : 0; });
}

}  // extern "C"
