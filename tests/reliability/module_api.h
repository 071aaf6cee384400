// The built packer module, loaded the way a file manager loads it, so that
// the reliability sweeps exercise the shipped binary on every runnable preset.
// Header-only: the test program is built from *_test.cpp files alone.
#ifndef TOLVEX_TESTS_RELIABILITY_MODULE_API_H
#define TOLVEX_TESTS_RELIABILITY_MODULE_API_H

#include <string>

#include "iwcxhead/wcxhead.h"
#include "support/test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tvx::test {

class ModuleApi {
 public:
  using OpenArchiveFn = HANDLE_WCX(WCX_API*)(tOpenArchiveData*);
  using ReadHeaderFn = int(WCX_API*)(HANDLE_WCX, tHeaderData*);
  using ProcessFileFn = int(WCX_API*)(HANDLE_WCX, int, char*, char*);
  using CloseArchiveFn = int(WCX_API*)(HANDLE_WCX);
  using PackFilesFn = int(WCX_API*)(char*, char*, char*, char*, int);
  using DeleteFilesFn = int(WCX_API*)(char*, char*);

  ModuleApi() {
#ifdef _WIN32
    library_ = reinterpret_cast<void*>(LoadLibraryA(ModulePath().c_str()));
#else
    library_ = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (library_ == nullptr) return;
    Find(OpenArchive, "OpenArchive");
    Find(ReadHeader, "ReadHeader");
    Find(ProcessFile, "ProcessFile");
    Find(CloseArchive, "CloseArchive");
    Find(PackFiles, "PackFiles");
    Find(DeleteFiles, "DeleteFiles");
  }
  ~ModuleApi() {
    if (library_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(library_));
#else
    dlclose(library_);
#endif
  }
  ModuleApi(const ModuleApi&) = delete;
  ModuleApi& operator=(const ModuleApi&) = delete;

  bool loaded() const {
    return OpenArchive != nullptr && ReadHeader != nullptr && ProcessFile != nullptr && CloseArchive != nullptr &&
           PackFiles != nullptr && DeleteFiles != nullptr;
  }

  OpenArchiveFn OpenArchive = nullptr;
  ReadHeaderFn ReadHeader = nullptr;
  ProcessFileFn ProcessFile = nullptr;
  CloseArchiveFn CloseArchive = nullptr;
  PackFilesFn PackFiles = nullptr;
  DeleteFilesFn DeleteFiles = nullptr;

 private:
  template <typename Fn>
  void Find(Fn& fn, const char* name) {
#ifdef _WIN32
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library_), name)));
#else
    fn = reinterpret_cast<Fn>(dlsym(library_, name));
#endif
  }

  void* library_ = nullptr;
};

}  // namespace tvx::test

#endif
