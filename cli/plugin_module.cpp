#include "plugin_module.h"

#include <cstring>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace tvx::cli {

namespace {

// The exports in the order of their ordinals (1..9).
constexpr const char* kExportNames[] = {
    "CanYouHandleThisFile", "SetProcessDataProc", "GetPackerCaps",
    "DeleteFiles",          "PackFiles",          "CloseArchive",
    "ProcessFile",          "ReadHeader",         "OpenArchive"};
constexpr int kExportCount = 9;

#ifdef _WIN32
void* OpenLibrary(const std::string& path, std::string& error) {
  // A full path keeps LoadLibrary from searching elsewhere for the name.
  std::error_code ec;
  std::string full = std::filesystem::absolute(path, ec).string();
  if (ec) full = path;
  HMODULE h = LoadLibraryA(full.c_str());
  if (!h) {
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
    std::string why = text;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
      why.pop_back();
    error = "cannot load the packer module: " + path + " (error " + std::to_string(code) +
            (why.empty() ? std::string() : ": " + why) + ")";
  }
  return reinterpret_cast<void*>(h);
}
void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void* FindOrdinal(void* library, int ordinal) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), MAKEINTRESOURCEA(ordinal)));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* OpenLibrary(const std::string& path, std::string& error) {
  // dlopen searches the library path for names without a slash.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* text = dlerror();
    std::string why = text ? text : "";
    // dlerror() repeats the name first; the message names it already.
    if (why.compare(0, name.size() + 2, name + ": ") == 0) why.erase(0, name.size() + 2);
    error = "cannot load the packer module: " + path + (why.empty() ? "" : " (" + why + ")");
  }
  return h;
}
void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
#endif

}  // namespace

PluginModule::LoadResult PluginModule::Load(const std::string& path) {
  LoadResult result;
  void* library = OpenLibrary(path, result.error);
  if (!library) return result;
  std::unique_ptr<PluginModule> module(new PluginModule(library, path));

  void* found[kExportCount] = {};
  for (int i = 0; i < kExportCount; ++i) {
    found[i] = FindSymbol(library, kExportNames[i]);
    if (!found[i]) {
      result.error = std::string("the packer module lacks the export ") + kExportNames[i] + ": " + path;
      return result;
    }
#ifdef _WIN32
    // The file manager may bind by ordinal, so both ways must agree.
    if (FindOrdinal(library, i + 1) != found[i]) {
      result.error = "the packer module's export ordinal " + std::to_string(i + 1) +
                     " is not " + kExportNames[i] + ": " + path;
      return result;
    }
#endif
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
  if (library_) CloseLibrary(library_);
}

const char* DefaultModuleFileName() {
#ifdef _WIN64
  return "Tolvex.wcx64";
#else
  return "Tolvex.wcx";
#endif
}

std::string ExecutablePath() {
#ifdef _WIN32
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
#else
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(n));
#endif
}

std::string DefaultModulePath() {
  std::string exe = ExecutablePath();
  if (exe.empty()) return DefaultModuleFileName();
  return (std::filesystem::path(exe).parent_path() / DefaultModuleFileName()).string();
}

}  // namespace tvx::cli
