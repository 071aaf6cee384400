// Reading any file as an archive: open it, list every entry, test and extract
// each one, ask whether it is an archive at all. Nothing may crash, leak or
// hang, every reported name must be safe to join to a folder, and a failed
// extraction must leave no file behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "support/host_name_check.h"

namespace {

using tvx::fuzz::Fail;

// Inputs are small, but many records may point at one deflated stream that
// expands a thousandfold; past this many content bytes an input's entries are
// skipped so one input cannot take minutes.
constexpr int64_t kContentBudget = 32 << 20;

// The stored names, as the archive holds them.
std::vector<std::string> StoredNames(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<tvx::Archive> archive = tvx::Archive::NewArchive(tvx::platform::OsSystem(), path);
  for (const tvx::ArchiveEntry& entry : archive->entries()) names.push_back(entry.name);
  return names;
}

int WCX_API CheckProgressName(char* fileName, int) {
  if (fileName == nullptr) Fail("progress without a name");
  if (!tvx::test::HostNameIsSafe(fileName, 260)) Fail("unsafe progress name");
  return 1;
}

// Tests each entry through handle and extracts it through extractHandle (a
// second handle on the archive, kept on the same entry): the host processes
// an entry once per ReadHeader.
void CheckEntries(HANDLE_WCX handle, HANDLE_WCX extractHandle, const std::string& outFolder,
                  const std::vector<std::string>& stored) {
  int64_t budget = kContentBudget;
  tHeaderData header{};
  for (int index = 0;; ++index) {
    header = tHeaderData{};
    const int read = ReadHeader(handle, &header);
    tHeaderData same{};
    if (ReadHeader(extractHandle, &same) != read) Fail("two handles on one archive disagree");
    if (read == E_END_ARCHIVE) {
      if (ProcessFile(handle, PK_SKIP, nullptr, nullptr) != E_END_ARCHIVE) Fail("processed past the end");
      return;
    }
    if (read != 0) Fail("ReadHeader returned", std::to_string(read));
    if (static_cast<size_t>(index) >= stored.size()) Fail("more headers than stored records");
    if (!tvx::test::HostNameIsSafe(header.FileName, sizeof header.FileName)) {
      Fail("unsafe name", header.FileName);
    }

    const int64_t size = header.UnpSize > 0 ? header.UnpSize : 0;
    if (size > budget) {
      if (ProcessFile(handle, PK_SKIP, nullptr, nullptr) != 0) Fail("PK_SKIP failed");
      if (ProcessFile(extractHandle, PK_SKIP, nullptr, nullptr) != 0) Fail("PK_SKIP failed");
      continue;
    }
    budget -= 2 * size;
    const int tested = ProcessFile(handle, PK_TEST, nullptr, nullptr);
    if (tested != 0 && tested != E_BAD_DATA && tested != E_NO_MEMORY) Fail("PK_TEST returned", std::to_string(tested));

    // A flat name: the archive's own names are checked above, extraction
    // into subfolders is the host's business.
    std::string folder = outFolder + "/";
    std::string name = "e" + std::to_string(index);
    const int extracted = ProcessFile(extractHandle, PK_EXTRACT, &folder[0], &name[0]);
    if (extracted == 0) {
      if (tested != 0) Fail("extracted an entry that failed its test", header.FileName);
    } else {
      if (tested == 0) Fail("extraction failed on a good entry", std::to_string(extracted));
      if (tvx::fuzz::FolderNames(outFolder).count(name) != 0) Fail("failed extraction left a file", name);
    }
    for (const std::string& left : tvx::fuzz::FolderNames(outFolder)) {
      if (left.find(".tvxpart") != std::string::npos) Fail("partial file left", left);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string root = tvx::fuzz::ScratchRoot();
  std::string archivePath = root + "/input.tvx";
  const std::string outFolder = root + "/out";
  if (!tvx::fuzz::WriteBytes(archivePath, data, size)) Fail("cannot write the input");
  tvx::fuzz::MakeFolder(outFolder);

  tOpenArchiveData open{};
  open.ArcName = &archivePath[0];
  open.OpenMode = PK_OM_EXTRACT;
  HANDLE_WCX handle = OpenArchive(&open);
  const int canHandle = CanYouHandleThisFile(&archivePath[0]);
  if (handle == nullptr) {
    if (open.OpenResult != E_UNKNOWN_FORMAT && open.OpenResult != E_BAD_ARCHIVE) {
      Fail("OpenArchive failed with", std::to_string(open.OpenResult));
    }
    // Only a file without the magic is someone else's.
    if ((open.OpenResult == E_UNKNOWN_FORMAT) != (canHandle == 0)) Fail("CanYouHandleThisFile disagrees with OpenArchive");
  } else {
    if (canHandle != 1) Fail("CanYouHandleThisFile refused an archive that opened");
    HANDLE_WCX extractHandle = OpenArchive(&open);
    if (extractHandle == nullptr) Fail("a second OpenArchive failed");
    SetProcessDataProc(handle, CheckProgressName);
    CheckEntries(handle, extractHandle, outFolder, StoredNames(archivePath));
    SetProcessDataProc(handle, nullptr);
    if (CloseArchive(handle) != 0 || CloseArchive(extractHandle) != 0) Fail("CloseArchive failed");
  }
  tvx::fuzz::RemoveTree(outFolder);
  return 0;
}
