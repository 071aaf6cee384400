// The packer module loaded at run time, reached only through its nine exports.
#ifndef TOLVEX_CLI_PLUGIN_MODULE_H
#define TOLVEX_CLI_PLUGIN_MODULE_H

#include <memory>
#include <string>

#include "iwcxhead/wcxhead.h"
#include "os/os.h"

namespace tvx::cli {

class PluginModule {
 public:
  using OpenArchiveFn = HANDLE_WCX(WCX_API*)(tOpenArchiveData*);
  using ReadHeaderFn = int(WCX_API*)(HANDLE_WCX, tHeaderData*);
  using ProcessFileFn = int(WCX_API*)(HANDLE_WCX, int, char*, char*);
  using CloseArchiveFn = int(WCX_API*)(HANDLE_WCX);
  using PackFilesFn = int(WCX_API*)(char*, char*, char*, char*, int);
  using DeleteFilesFn = int(WCX_API*)(char*, char*);
  using GetPackerCapsFn = int(WCX_API*)();
  using SetProcessDataProcFn = void(WCX_API*)(HANDLE_WCX, tProcessDataProc);
  using CanYouHandleThisFileFn = int(WCX_API*)(char*);

  // Either a loaded module or the reason there is none.
  struct LoadResult {
    std::unique_ptr<PluginModule> module;
    std::string error;
  };

  // Loads the module file at path and resolves all nine exports. On Windows
  // the export ordinals 1..9 must lead to the same functions as the names.
  static LoadResult Load(const std::string& path);

  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  const std::string& Path() const { return path_; }

  OpenArchiveFn open_archive = nullptr;
  ReadHeaderFn read_header = nullptr;
  ProcessFileFn process_file = nullptr;
  CloseArchiveFn close_archive = nullptr;
  PackFilesFn pack_files = nullptr;
  DeleteFilesFn delete_files = nullptr;
  GetPackerCapsFn get_packer_caps = nullptr;
  SetProcessDataProcFn set_process_data_proc = nullptr;
  CanYouHandleThisFileFn can_you_handle_this_file = nullptr;

 private:
  PluginModule(void* library, std::string path) : library_(library), path_(std::move(path)) {}
  void* library_ = nullptr;
  std::string path_;
};

// The module's file name on this platform: Tolvex.wcx64 for 64-bit Windows,
// Tolvex.wcx elsewhere.
const char* DefaultModuleFileName();

// Full path of the running executable; empty when it cannot be found.
using os::ExecutablePath;

// The module beside the running executable.
std::string DefaultModulePath();

}  // namespace tvx::cli

#endif
