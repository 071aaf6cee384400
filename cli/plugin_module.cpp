#include "plugin_module.h"

#include <cstring>
#include <filesystem>

#include "os/os.h"

namespace tvx::cli {

namespace {

// The exports in the order of their ordinals (1..9).
constexpr const char* kExportNames[] = {
    "CanYouHandleThisFile", "SetProcessDataProc", "GetPackerCaps",
    "DeleteFiles",          "PackFiles",          "CloseArchive",
    "ProcessFile",          "ReadHeader",         "OpenArchive"};
constexpr int kExportCount = 9;

}  // namespace

PluginModule::LoadResult PluginModule::Load(const std::string& path) {
  LoadResult result;
  void* library = os::OpenLibrary(path, result.error);
  if (!library) return result;
  std::unique_ptr<PluginModule> module(new PluginModule(library, path));

  void* found[kExportCount] = {};
  for (int i = 0; i < kExportCount; ++i) {
    found[i] = os::FindSymbol(library, kExportNames[i]);
    if (!found[i]) {
      result.error = std::string("the packer module lacks the export ") + kExportNames[i] + ": " + path;
      return result;
    }
    // The file manager may bind by ordinal, so both ways must agree.
    if constexpr (os::kWindows) {
      if (os::FindOrdinal(library, i + 1) != found[i]) {
        result.error = "the packer module's export ordinal " + std::to_string(i + 1) +
                       " is not " + kExportNames[i] + ": " + path;
        return result;
      }
    }
  }
  module->can_you_handle_this_file = reinterpret_cast<CanYouHandleThisFileFn>(found[0]);
  module->set_process_data_proc = reinterpret_cast<SetProcessDataProcFn>(found[1]);
  module->get_packer_caps = reinterpret_cast<GetPackerCapsFn>(found[2]);
  module->delete_files = reinterpret_cast<DeleteFilesFn>(found[3]);
  module->pack_files = reinterpret_cast<PackFilesFn>(found[4]);
  module->close_archive = reinterpret_cast<CloseArchiveFn>(found[5]);
  module->process_file = reinterpret_cast<ProcessFileFn>(found[6]);
  module->read_header = reinterpret_cast<ReadHeaderFn>(found[7]);
  module->open_archive = reinterpret_cast<OpenArchiveFn>(found[8]);
  result.module = std::move(module);
  return result;
}

PluginModule::~PluginModule() {
  if (library_) os::CloseLibrary(library_);
}

const char* DefaultModuleFileName() { return os::kModuleFileName; }

std::string DefaultModulePath() {
  std::string exe = ExecutablePath();
  if (exe.empty()) return DefaultModuleFileName();
  return (std::filesystem::path(exe).parent_path() / DefaultModuleFileName()).string();
}

}  // namespace tvx::cli
