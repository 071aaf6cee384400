// What `add` hands to PackFiles, and the clean-up after a move.
#include "source_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/test_support.h"

namespace tvx::cli {
namespace {

namespace fs = std::filesystem;
using tvx::test::TempDir;
using tvx::test::WriteFileBytes;

class CliSourceWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(fs::path(dir_.path()) / "tree" / "docs" / "deep");
    fs::create_directories(fs::path(dir_.path()) / "tree" / "empty");
    for (const auto& [name, bytes] : {std::pair<const char*, const char*>{"tree/docs/deep/z.txt", "zz"},
                                      {"tree/docs/a.txt", "aaa"}, {"tree/b.bin", ""}, {"single.txt", "twin!!"}})
      ASSERT_TRUE(WriteFileBytes(dir_.File(name), bytes)) << name;
  }
  // What CollectSources made of these paths below the folder ("@/" in the
  // text): each group's folder (the first as set.root) and items, '/' after a
  // folder's, then the total size; or "! " and the error.
  std::string Walked(const std::vector<std::string>& paths) {
    std::vector<std::string> full;
    for (const std::string& path : paths) full.push_back(dir_.File(path));
    const SourceSet set = CollectSources(kPosixDialect, full, dir_.File("tree/self.tvx"));
    std::string text = set.error.empty() ? "" : "! " + set.error;
    for (size_t group = 0; group < set.roots.size(); ++group) {
      text += group ? " | " + set.roots[group] + ":" : set.root + ":";
      for (const SourceItem& item : GroupItems(set, group)) text += " " + item.relative + (item.directory ? "/" : "");
    }
    text += " = " + std::to_string(TotalSize(set.items));
    const std::string dir = dir_.path() + tvx::test::NativeSeparator();
    for (size_t at; (at = text.find(dir)) != std::string::npos;) text.replace(at, dir.size(), "@/");
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '\\', '/');  // below the folder either separator may stand
#endif
    return text;
  }
  TempDir dir_;
};

// Folders come before their contents, named relative to the folder that
// holds the path; paths from different folders form groups, and two of the
// same top name are refused. The archive itself, in the tree, is left out
// (single.txt, of its size, is not); a trailing separator still names the
// folder; a missing path is an error.
TEST_F(CliSourceWalk, FoldersComeBeforeTheirContentsInGroupsOfOneFolderEach) {
  ASSERT_TRUE(WriteFileBytes(dir_.File("tree/self.tvx"), "TOLVEX"));
  fs::create_directories(dir_.File("other/docs"));
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"tree", "single.txt"},
       "@/: tree/ tree/b.bin tree/docs/ tree/docs/a.txt tree/docs/deep/ tree/docs/deep/z.txt tree/empty/ single.txt "
       "= 11"},
      {{"tree/docs/"}, "@/tree/: docs/ docs/a.txt docs/deep/ docs/deep/z.txt = 5"},
      {{"tree/docs", "single.txt", "tree/b.bin"},
       "@/tree/: docs/ docs/a.txt docs/deep/ docs/deep/z.txt b.bin | @/: single.txt = 11"},
      {{"nope"}, "! no such file or folder: @/nope = 0"},
      {{"tree/docs", "other/docs"},
       "! two paths would give the same name docs in the archive: @/tree/docs and @/other/docs = 0"}};
  for (const auto& [paths, walked] : rows) EXPECT_EQ(Walked(paths), walked) << paths[0];
}

TEST_F(CliSourceWalk, AddListIsNulSeparatedWithFoldersMarked) {
  std::vector<SourceItem> items{{"", "tree", true, 0}, {"", "tree/a.txt", false, 3}};
  EXPECT_EQ(BuildAddList(kPosixDialect, items), std::string("tree/\0tree/a.txt\0\0", 18));
  EXPECT_EQ(BuildAddList(kWindowsDialect, items), std::string("tree\\\0tree\\a.txt\0\0", 18));
}

TEST_F(CliSourceWalk, IntoFolderBecomesSubPath) {
  std::string error;
  EXPECT_EQ(SubPathFromInto(kWindowsDialect, "/sub/dir/", error), "sub\\dir");
  EXPECT_EQ(SubPathFromInto(kPosixDialect, "sub//dir", error), "sub/dir");
  EXPECT_TRUE(error.empty());
  SubPathFromInto(kPosixDialect, "sub/../..", error);
  EXPECT_NE(error, "");
}

TEST_F(CliSourceWalk, MoveCleanupRemovesOnlyEmptiedFolders) {
  const SourceSet set = CollectSources(kPosixDialect, {dir_.File("tree")}, dir_.File("out.tvx"));
  ASSERT_TRUE(set.error.empty());
  // As after a move in which the module deleted every file but one.
  std::error_code ec;
  for (const char* gone : {"tree/docs/deep/z.txt", "tree/b.bin"}) fs::remove(dir_.File(gone), ec);
  RemoveEmptiedFolders(set.items);
  EXPECT_EQ(Walked({"tree"}), "@/: tree/ tree/docs/ tree/docs/a.txt = 3");
}

}  // namespace
}  // namespace tvx::cli
