#include "support/plugin_test.h"

#include <filesystem>
#include <system_error>

namespace tvx::test {

namespace fs = std::filesystem;

std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : FolderListing(folder)) {
    if (name.size() >= 3 && (name[0] | 0x20) == 't' && (name[1] | 0x20) == 'v' && (name[2] | 0x20) == 'x') {
      found.push_back(name);
    }
  }
  return found;
}

void PluginTest::SetUp() {
  std::string error;
  module_ = LoadedModule(&error);
  ASSERT_NE(module_, nullptr) << error;
  ASSERT_FALSE(work_.path().empty());
  ASSERT_FALSE(temp_.path().empty());
  redirect_ = std::make_unique<TempFolderRedirect>(temp_.path());
  module_->set_process_data_proc(nullptr, nullptr);
}

void PluginTest::TearDown() {
  if (module_ != nullptr) module_->set_process_data_proc(nullptr, nullptr);
  redirect_.reset();
  EXPECT_EQ(TemporaryFilesIn(temp_.path()), std::vector<std::string>())
      << "the module left a temporary file behind";
}

std::string PluginTest::WriteArchive(const std::string& name, const std::vector<RawEntry>& entries) {
  const std::string path = Path(name);
  EXPECT_TRUE(WriteFileBytes(path, ArchiveBytes(entries)));
  return path;
}

LinkScene::LinkScene(const std::string& root)
    : out(root + NativeSeparator() + "out"), elsewhere(root + NativeSeparator() + "elsewhere") {
  std::error_code ec;
  fs::create_directories(out, ec);
  fs::create_directories(elsewhere, ec);
  if (ec) return;
  fs::create_directory_symlink(elsewhere, out + NativeSeparator() + "sub", ec);
  if (ec) return;
  fs::create_symlink(elsewhere + NativeSeparator() + "g.txt", out + NativeSeparator() + "g.txt", ec);
  ready = !ec;
}

std::string LinkScene::ArchiveBytesOf() const {
  return ArchiveBytes({{kThroughFolderLink, "escaped"}, {kOntoFileLink, "escaped"}, {kFolderLink, ""}, {"ok.txt", "fine"}});
}

bool LinkScene::Untouched() const {
  return FolderListing(elsewhere).empty() && fs::is_symlink(out + NativeSeparator() + "g.txt");
}

}  // namespace tvx::test
