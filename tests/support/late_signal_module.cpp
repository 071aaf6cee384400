// A module for the command-line tests: the real one, whose PackFiles and
// DeleteFiles raise SIGINT in the caller once their work is done, after
// their last report. That is where a user's Ctrl-C lands when it comes a
// moment too late to stop anything.
#include <dlfcn.h>

#include <csignal>

#include "iwcxhead/wcxhead.h"

namespace {

// The real module's export of that name, with the type declared for it.
template <typename Fn>
Fn* Real(const char* name) {
  static void* module = dlopen(TOLVEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  return reinterpret_cast<Fn*>(module != nullptr ? dlsym(module, name) : nullptr);
}

}  // namespace

extern "C" {

HANDLE_WCX OpenArchive(tOpenArchiveData* data) { return Real<decltype(OpenArchive)>("OpenArchive")(data); }
int ReadHeader(HANDLE_WCX h, tHeaderData* d) { return Real<decltype(ReadHeader)>("ReadHeader")(h, d); }
int ProcessFile(HANDLE_WCX h, int op, char* path, char* name) {
  return Real<decltype(ProcessFile)>("ProcessFile")(h, op, path, name);
}
int CloseArchive(HANDLE_WCX h) { return Real<decltype(CloseArchive)>("CloseArchive")(h); }
int GetPackerCaps() { return Real<decltype(GetPackerCaps)>("GetPackerCaps")(); }
int CanYouHandleThisFile(char* name) { return Real<decltype(CanYouHandleThisFile)>("CanYouHandleThisFile")(name); }
void SetProcessDataProc(HANDLE_WCX h, tProcessDataProc proc) {
  Real<decltype(SetProcessDataProc)>("SetProcessDataProc")(h, proc);
}
int PackFiles(char* packed, char* sub, char* src, char* list, int flags) {
  const int result = Real<decltype(PackFiles)>("PackFiles")(packed, sub, src, list, flags);
  std::raise(SIGINT);
  return result;
}
int DeleteFiles(char* packed, char* list) {
  const int result = Real<decltype(DeleteFiles)>("DeleteFiles")(packed, list);
  std::raise(SIGINT);
  return result;
}

}  // extern "C"
