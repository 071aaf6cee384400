// The fixture of the tests that pack files of the scratch folder through the
// module's PackFiles.
#ifndef TOLVEX_TESTS_TOLVEXU_PACK_TEST_H
#define TOLVEX_TESTS_TOLVEXU_PACK_TEST_H

#include <filesystem>
#include <string>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "support/plugin_test.h"

namespace tvx::test {

class PackTest : public PluginTest {
 protected:
  // Creates the file (and its folders) under the scratch folder; name uses '/'.
  std::string MakeFile(const std::string& name, const std::string& content) {
    const std::string path = Path(ListForm(name));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    EXPECT_TRUE(WriteFileBytes(path, content));
    return path;
  }
  int Pack(const std::string& archive, const char* subPath, const std::vector<std::string>& names, int flags) {
    return PackWith(module(), archive, subPath, SrcPath(), names, flags);
  }
  int Pack(const std::string& archive, const std::vector<std::string>& names, int flags = PK_PACK_SAVE_PATHS) {
    return Pack(archive, nullptr, names, flags);
  }
};

}  // namespace tvx::test

#endif
