// An allocation that fails inside an export comes back as E_NO_MEMORY (for
// CanYouHandleThisFile: 0) instead of an exception unwinding into the host.
// The test program links the module's code itself, so replacing operator new
// here reaches the exports it calls directly; each export is run with its
// first, second, ... allocation failing until a run makes none fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
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

struct NoMemoryCase {
  const char* exportName;
  // Writes the files, sets the arguments and, for the calls on an open
  // archive, opens it: everything that allocates before the call.
  std::function<void(const TempDir&)> prepare;
  // The export call alone (nothing else may allocate); its result code.
  int (*call)();
  int onNoMemory;
};

std::string gWritten;
std::string gArcName;
std::string gSrcPath;
std::string gDest;
std::string gPackList;
std::string gDeleteList;
tOpenArchiveData gOpenData{};
tHeaderData gHeader{};
HANDLE_WCX gOpen = nullptr;

void CloseOpen() {
  if (gOpen != nullptr) CloseArchive(gOpen);
  gOpen = nullptr;
}

void WriteArchive(const TempDir& dir) {
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
}

void OpenWritten(const TempDir& dir, bool readFirstHeader) {
  WriteArchive(dir);
  gOpen = OpenArchive(&gOpenData);
  ASSERT_NE(gOpen, nullptr);
  if (readFirstHeader) {
    ASSERT_EQ(ReadHeader(gOpen, &gHeader), 0);
  }
}

TEST(ExportsWithoutMemory, EveryFailedAllocationAnswersNoMemory) {
  const std::vector<NoMemoryCase> cases = {
      {"CanYouHandleThisFile", WriteArchive, [] { return CanYouHandleThisFile(&gArcName[0]); }, 0},
      {"OpenArchive", WriteArchive,
       [] {
         gOpen = OpenArchive(&gOpenData);
         return gOpen != nullptr ? 0 : gOpenData.OpenResult;
       },
       E_NO_MEMORY},
      {"ReadHeader", [](const TempDir& dir) { OpenWritten(dir, false); }, [] { return ReadHeader(gOpen, &gHeader); },
       E_NO_MEMORY},
      {"ProcessFile", [](const TempDir& dir) { OpenWritten(dir, true); },
       [] { return ProcessFile(gOpen, PK_EXTRACT, nullptr, &gDest[0]); }, E_NO_MEMORY},
      {"PackFiles", WriteArchive,
       [] { return PackFiles(&gArcName[0], nullptr, &gSrcPath[0], &gPackList[0], PK_PACK_SAVE_PATHS); }, E_NO_MEMORY},
      {"DeleteFiles", WriteArchive, [] { return DeleteFiles(&gArcName[0], &gDeleteList[0]); }, E_NO_MEMORY},
  };
  TempDir temp;  // the module's temporary folder, checked after every failure
  TempFolderRedirect redirect(temp.path());
  for (const NoMemoryCase& c : cases) {
    int granted = 0;  // the answer with every allocation granted
    {
      TempDir dir;
      c.prepare(dir);
      granted = c.call();
      CloseOpen();
      ASSERT_NE(granted, c.onNoMemory) << c.exportName;
    }
    long n = 0;
    for (;; ++n) {
      TempDir dir;
      c.prepare(dir);
      gFailed = false;
      gAllocationsBeforeFailure = n;
      const int result = c.call();
      gAllocationsBeforeFailure = -1;
      CloseOpen();
      if (!gFailed) break;  // the call made fewer than n + 1 allocations
      // A buffer that could not be had is done without (new (std::nothrow));
      // anything else that fails is the host's "no memory".
      SCOPED_TRACE(std::string(c.exportName) + " with allocation " + std::to_string(n + 1) + " failing");
      ASSERT_TRUE(result == c.onNoMemory || result == granted) << "answered " << result;
      if (result != c.onNoMemory) continue;
      // The archive is as it was, and nothing half-written is left beside it
      // (ProcessFile's target: what extraction leaves is its own affair).
      std::vector<std::string> names = FolderListing(dir.path());
      names.erase(std::remove(names.begin(), names.end(), "out.txt"), names.end());
      ASSERT_EQ(names, (std::vector<std::string>{"a.tvx", "new.txt"}));
      ASSERT_EQ(ReadFileBytes(dir.File("a.tvx")), gWritten);
      ASSERT_EQ(TemporaryFilesIn(temp.path()), std::vector<std::string>());
    }
    EXPECT_GT(n, 0) << c.exportName << " allocated nothing";
  }
}

}  // namespace
}  // namespace tvx::test
