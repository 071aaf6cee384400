// An allocation that fails inside an export comes back as E_NO_MEMORY (for
// CanYouHandleThisFile: 0) instead of an exception unwinding into the host.
// The test program links the module's code itself, so replacing operator new
// here reaches the exports it calls directly; each export is run with its
// first, second, ... allocation failing until a run makes none fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "support/plugin_test.h"
#include "support/test_support.h"

namespace {

long gAllocationsBeforeFailure = -1;  // -1: never fail
bool gFailed = false;

void* Allocate(std::size_t size) {
  if (gAllocationsBeforeFailure == 0) {
    gAllocationsBeforeFailure = -1;
    gFailed = true;
    throw std::bad_alloc();
  }
  if (gAllocationsBeforeFailure > 0) --gAllocationsBeforeFailure;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateOrNull(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Every form, so that no allocation bypasses the count and each block goes
// back the way it came (the sanitizers check that).
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace tvx::test {
namespace {

std::string gWritten, gArcName, gSrcPath, gDest, gPackList, gDeleteList;
tOpenArchiveData gOpenData{};
tHeaderData gHeader{};
HANDLE_WCX gOpen = nullptr;

// Writes the files, sets the arguments and opens the archive as far as the
// case needs: everything that allocates before the call.
void Prepare(const TempDir& dir, int opened) {
  gWritten = ArchiveBytes({Deflated("docs/a name too long to be held inline.txt", Compressible(5000)), RawEntry{"b.txt", "bee"}});
  ASSERT_TRUE(WriteFileBytes(dir.File("a.tvx"), gWritten));
  ASSERT_TRUE(WriteFileBytes(dir.File("new.txt"), Compressible(3000, 'n')));
  gArcName = dir.File("a.tvx");
  gSrcPath = dir.path() + NativeSeparator();
  gDest = dir.File("out.txt");
  gPackList = NameList({"new.txt"});
  gDeleteList = NameList({"b.txt"});
  gOpenData = tOpenArchiveData{};
  gOpenData.ArcName = &gArcName[0];
  gOpenData.OpenMode = PK_OM_EXTRACT;
  ASSERT_TRUE(opened < 1 || (gOpen = OpenArchive(&gOpenData)) != nullptr);
  ASSERT_TRUE(opened < 2 || ReadHeader(gOpen, &gHeader) == 0);
}

TEST(ExportsWithoutMemory, EveryFailedAllocationAnswersNoMemory) {
  // The export; what is done before the call (0 nothing opened, 1 the archive
  // opened, 2 its first header read too); the export call alone (nothing else
  // may allocate), giving its result code; the code for no memory.
  const std::vector<std::tuple<const char*, int, int (*)(), int>> cases = {
      {"CanYouHandleThisFile", 0, [] { return CanYouHandleThisFile(&gArcName[0]); }, 0},
      {"OpenArchive", 0, [] { return (gOpen = OpenArchive(&gOpenData)) != nullptr ? 0 : gOpenData.OpenResult; },
       E_NO_MEMORY},
      {"ReadHeader", 1, [] { return ReadHeader(gOpen, &gHeader); }, E_NO_MEMORY},
      {"ProcessFile", 2, [] { return ProcessFile(gOpen, PK_EXTRACT, nullptr, &gDest[0]); }, E_NO_MEMORY},
      {"PackFiles", 0, [] { return PackFiles(&gArcName[0], nullptr, &gSrcPath[0], &gPackList[0], PK_PACK_SAVE_PATHS); },
       E_NO_MEMORY},
      {"DeleteFiles", 0, [] { return DeleteFiles(&gArcName[0], &gDeleteList[0]); }, E_NO_MEMORY},
  };
  TempDir temp;  // the module's temporary folder, checked after every failure
  TempFolderRedirect redirect(temp.path());
  for (const auto& [exportName, opened, call, onNoMemory] : cases) {
    int granted = 0;  // the answer with every allocation granted: the run for n = -1
    long n = -1;
    for (;; ++n) {
      TempDir dir;
      Prepare(dir, opened);
      gFailed = false;
      gAllocationsBeforeFailure = n;
      const int result = call();
      gAllocationsBeforeFailure = -1;
      if (gOpen != nullptr) CloseArchive(gOpen);
      gOpen = nullptr;
      if (n < 0) {
        ASSERT_NE(granted = result, onNoMemory) << exportName;
        continue;
      }
      if (!gFailed) break;  // the call made fewer than n + 1 allocations
      // A buffer that could not be had is done without (new (std::nothrow));
      // anything else that fails is the host's "no memory".
      SCOPED_TRACE(std::string(exportName) + " with allocation " + std::to_string(n + 1) + " failing");
      ASSERT_TRUE(result == onNoMemory || result == granted) << "answered " << result;
      if (result != onNoMemory) continue;
      // The archive is as it was, and nothing half-written is left beside it
      // (ProcessFile's target: what extraction leaves is its own affair).
      std::vector<std::string> names = FolderListing(dir.path());
      names.erase(std::remove(names.begin(), names.end(), "out.txt"), names.end());
      ASSERT_EQ(names, (std::vector<std::string>{"a.tvx", "new.txt"}));
      ASSERT_EQ(ReadFileBytes(dir.File("a.tvx")), gWritten);
      ASSERT_EQ(TemporaryFilesIn(temp.path()), std::vector<std::string>());
    }
    EXPECT_GT(n, 0) << exportName << " allocated nothing";
  }
}

}  // namespace
}  // namespace tvx::test
