// A module for the command-line tests: the real one, whose PackFiles and
// DeleteFiles raise SIGINT in the caller once their work is done, after
// their last report. That is where a user's Ctrl-C lands when it comes a
// moment too late to stop anything.
#include <dlfcn.h>

#include <csignal>

#include "iwcxhead/wcxhead.h"

namespace {

void* Real(const char* name) {
  static void* module = dlopen(TOLVEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  return module != nullptr ? dlsym(module, name) : nullptr;
}

template <typename Fn>
Fn RealFn(const char* name) {
  return reinterpret_cast<Fn>(Real(name));
}

}  // namespace

extern "C" {

HANDLE_WCX OpenArchive(tOpenArchiveData* data) { return RealFn<HANDLE_WCX (*)(tOpenArchiveData*)>("OpenArchive")(data); }
int ReadHeader(HANDLE_WCX h, tHeaderData* d) { return RealFn<int (*)(HANDLE_WCX, tHeaderData*)>("ReadHeader")(h, d); }
int ProcessFile(HANDLE_WCX h, int op, char* path, char* name) {
  return RealFn<int (*)(HANDLE_WCX, int, char*, char*)>("ProcessFile")(h, op, path, name);
}
int CloseArchive(HANDLE_WCX h) { return RealFn<int (*)(HANDLE_WCX)>("CloseArchive")(h); }
int GetPackerCaps() { return RealFn<int (*)()>("GetPackerCaps")(); }
int CanYouHandleThisFile(char* name) { return RealFn<int (*)(char*)>("CanYouHandleThisFile")(name); }
void SetProcessDataProc(HANDLE_WCX h, tProcessDataProc proc) {
  RealFn<void (*)(HANDLE_WCX, tProcessDataProc)>("SetProcessDataProc")(h, proc);
}
int PackFiles(char* packed, char* sub, char* src, char* list, int flags) {
  const int result = RealFn<int (*)(char*, char*, char*, char*, int)>("PackFiles")(packed, sub, src, list, flags);
  std::raise(SIGINT);
  return result;
}
int DeleteFiles(char* packed, char* list) {
  const int result = RealFn<int (*)(char*, char*)>("DeleteFiles")(packed, list);
  std::raise(SIGINT);
  return result;
}

}  // extern "C"
