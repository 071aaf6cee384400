// The built packer module, loaded the way a file manager loads it, so that
// the reliability sweeps exercise the shipped binary on every runnable preset.
// Header-only: the test program is built from *_test.cpp files alone.
#ifndef TOLVEX_TESTS_RELIABILITY_MODULE_API_H
#define TOLVEX_TESTS_RELIABILITY_MODULE_API_H

#include <memory>
#include <string>

#include "iwcxhead/wcxhead.h"
#include "plugin_module.h"
#include "support/test_support.h"

namespace tvx::test {

// The module as the host program loads it, under the names of its exports.
class ModuleApi {
 public:
  ModuleApi() : module_(cli::PluginModule::Load(ModulePath()).module) {
    if (!module_) return;
    OpenArchive = module_->open_archive;
    ReadHeader = module_->read_header;
    ProcessFile = module_->process_file;
    CloseArchive = module_->close_archive;
    PackFiles = module_->pack_files;
    DeleteFiles = module_->delete_files;
  }

  bool loaded() const { return module_ != nullptr; }

  cli::PluginModule::OpenArchiveFn OpenArchive = nullptr;
  cli::PluginModule::ReadHeaderFn ReadHeader = nullptr;
  cli::PluginModule::ProcessFileFn ProcessFile = nullptr;
  cli::PluginModule::CloseArchiveFn CloseArchive = nullptr;
  cli::PluginModule::PackFilesFn PackFiles = nullptr;
  cli::PluginModule::DeleteFilesFn DeleteFiles = nullptr;

 private:
  std::unique_ptr<cli::PluginModule> module_;
};

}  // namespace tvx::test

#endif
