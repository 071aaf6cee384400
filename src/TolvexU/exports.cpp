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
#include "TolvexU/archive_handle.h"
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

tvx::host::ArchiveHandle* FromHandle(HANDLE_WCX handle) { return static_cast<tvx::host::ArchiveHandle*>(handle); }

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
    if (archive->result() != tvx::Archive::OpenResult::kOk) return nullptr;
    return new tvx::host::ArchiveHandle(std::move(archive));
  });
}

int WCX_API ReadHeader(HANDLE_WCX handle, tHeaderData* headerData) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [handle, headerData] {
    tvx::host::ArchiveHandle* held = FromHandle(handle);
    if (held == nullptr || headerData == nullptr) return static_cast<int>(E_END_ARCHIVE);
    const tvx::ArchiveEntry* entry = held->archive->EntryAt(held->current + 1);
    held->currentPending = entry != nullptr;
    if (entry == nullptr) return static_cast<int>(E_END_ARCHIVE);
    ++held->current;
    SetFileName(headerData->FileName, tvx::host::ShownName(*held, static_cast<size_t>(held->current)));
    headerData->FileAttr = tvx::host::FileAttrOf(*entry);
    headerData->PackSize = entry->packedSize;
    headerData->UnpSize = entry->unpackedSize;
    headerData->FileTime = tvx::host::FileTimeOf(*held, *entry);
    return 0;
  });
}

int WCX_API ProcessFile(HANDLE_WCX handle, int operation, char* destPath, char* destName) {
  return Guarded(static_cast<int>(E_NO_MEMORY), [=] {
    tvx::host::ArchiveHandle* held = FromHandle(handle);
    if (held == nullptr) return static_cast<int>(E_END_ARCHIVE);
    const tvx::ArchiveEntry* entry = held->archive->EntryAt(held->current);
    if (entry == nullptr || !held->currentPending) return static_cast<int>(E_END_ARCHIVE);
    held->currentPending = false;
    // The host's Cancel stops the entry; CloseArchive still finishes what
    // was extracted before it.
    tvx::host::HostProgress progress;
    tvx::Status status = tvx::Status::kOk;
    if (operation == PK_SKIP) {
      tvx::SkipEntry(*held->archive, *entry);
      const auto size = static_cast<uint32_t>(entry->unpackedSize > 0 ? entry->unpackedSize : 0);
      if (!progress.EntryBytesDone(*entry, size)) status = tvx::Status::kCancelled;
    } else if (operation == PK_TEST) {
      status = tvx::TestEntry(*held->archive, *entry, &progress);
    } else {
      // Below a DestPath the host named, links found on the way are refused.
      const std::string folder = Text(destPath);
      const std::string target = tvx::JoinPath(folder, Text(destName), tvx::platform::kPathSeparator,
                                               tvx::platform::IsPathSeparator);
      status = tvx::ExtractEntry(*held->archive, *entry, target, folder.size(), &progress,
                                 &held->extraction);
    }
    return tvx::host::ToHostCode(status);
  });
}

int WCX_API CloseArchive(HANDLE_WCX handle) {
  tvx::host::ArchiveHandle* held = FromHandle(handle);
  if (held != nullptr) {
    // Folder times are a courtesy: running out of memory for them must not
    // keep the archive open.
    Guarded(0, [held] {
      tvx::RestoreFolderTimes(held->archive->system(), held->extraction);
      return 0;
    });
  }
  delete held;
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
