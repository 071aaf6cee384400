// The fixture of the tests that pack files of the scratch folder through the
// module's PackFiles, and what a folder holds after a change.
#ifndef TOLVEX_TESTS_TOLVEXU_PACK_TEST_H
#define TOLVEX_TESTS_TOLVEXU_PACK_TEST_H

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "iwcxhead/wcxhead.h"
#include "support/plugin_test.h"

namespace tvx::test {

// Everything below folder, sorted: "a.txt=its bytes; sub/; x.tvx" (an archive
// by its name alone), so that one comparison shows what is there and holds what.
inline std::string FolderContents(const std::string& folder) {
  std::vector<std::string> items;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = item.path().lexically_relative(folder).generic_string();
    const bool archive = item.path().extension() == ".tvx";
    items.push_back(item.is_directory() ? name + "/"
                    : archive           ? name
                                        : name + "=" + ReadFileBytes(item.path().string()));
  }
  std::sort(items.begin(), items.end());
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : "; ") + item;
  return text;
}

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
