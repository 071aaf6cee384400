#include "support/link_scene.h"

#include <filesystem>

#include "support/archive_bytes.h"
#include "support/plugin_test.h"
#include "support/test_support.h"

namespace tvx::test {

namespace fs = std::filesystem;

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
