// Source files and an archive of them made by the module itself: a folder, a
// deflated text, a stored incompressible file and an empty file. The
// reliability tests damage, kill and starve work on this archive.
#ifndef TOLVEX_TESTS_SUPPORT_SAMPLE_DATA_H
#define TOLVEX_TESTS_SUPPORT_SAMPLE_DATA_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "plugin_module.h"
#include "support/archive_bytes.h"
#include "support/module_driver.h"
#include "support/test_support.h"

namespace tvx::test {

// The sample's source files below a folder "src" of dir. Entry names use '/'.
struct SampleSources {
  std::string folder;  // ends in the native separator
  std::map<std::string, std::string> files;  // entry name -> content
  std::vector<std::string> listItems;        // native list, folder first
};

SampleSources WriteSampleSources(const TempDir& dir, const std::string& sub = "src");

// Packs the sample's sources into archive (created or updated) with their
// folder names: docs/, docs/readme.txt, data.bin, empty.txt.
int PackSample(cli::PluginModule& module, const SampleSources& sources, const std::string& archive,
               int flags = PK_PACK_SAVE_PATHS);

}  // namespace tvx::test

#endif
