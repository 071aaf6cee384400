// What `add` hands to PackFiles, and the clean-up after a move.
#include "source_walk.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace tvx::cli {
namespace {

namespace fs = std::filesystem;
using tvx::test::TempDir;
using tvx::test::WriteFileBytes;

std::vector<std::string> Relatives(const SourceSet& set) {
  std::vector<std::string> names;
  for (const SourceItem& item : set.items) names.push_back(item.relative + (item.directory ? "/" : ""));
  return names;
}

class CliSourceWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(fs::path(dir_.path()) / "tree" / "docs" / "deep");
    fs::create_directories(fs::path(dir_.path()) / "tree" / "empty");
    ASSERT_TRUE(WriteFileBytes(dir_.File("tree/docs/deep/z.txt"), "zz"));
    ASSERT_TRUE(WriteFileBytes(dir_.File("tree/docs/a.txt"), "aaa"));
    ASSERT_TRUE(WriteFileBytes(dir_.File("tree/b.bin"), ""));
    ASSERT_TRUE(WriteFileBytes(dir_.File("single.txt"), "s"));
  }
  TempDir dir_;
};

// The archive itself, in the tree, is left out.
TEST_F(CliSourceWalk, FoldersComeBeforeTheirContentsRelativeToTheCommonFolder) {
  ASSERT_TRUE(WriteFileBytes(dir_.File("tree/self.tvx"), "TOLVEX"));
  const SourceSet set = CollectSources(kPosixDialect, {dir_.File("tree"), dir_.File("single.txt")},
                                       dir_.File("tree/self.tvx"));
  ASSERT_TRUE(set.error.empty()) << set.error;
  EXPECT_EQ(Relatives(set), (std::vector<std::string>{"tree/", "tree/b.bin", "tree/docs/", "tree/docs/a.txt",
                                                      "tree/docs/deep/", "tree/docs/deep/z.txt", "tree/empty/",
                                                      "single.txt"}));
  EXPECT_EQ(set.root, dir_.path() + tvx::test::NativeSeparator());
  EXPECT_EQ(TotalSize(set.items), 6);
  // A trailing separator still names the folder; a missing path is an error.
  EXPECT_EQ(Relatives(CollectSources(kPosixDialect, {dir_.File("tree/docs/")}, dir_.File("out.tvx"))).front(), "docs/");
  EXPECT_NE(CollectSources(kPosixDialect, {dir_.File("nope")}, dir_.File("out.tvx")).error.find("nope"), std::string::npos);
}

TEST_F(CliSourceWalk, PathsFromDifferentFoldersFormGroupsAndSameTopNamesAreRefused) {
  const SourceSet set = CollectSources(kPosixDialect, {dir_.File("tree/docs"), dir_.File("single.txt"),
                                                       dir_.File("tree/b.bin")},
                                       dir_.File("out.tvx"));
  ASSERT_TRUE(set.error.empty()) << set.error;
  ASSERT_EQ(set.roots.size(), 2u);
  EXPECT_EQ(set.roots[1], dir_.path() + tvx::test::NativeSeparator());
  std::vector<std::string> first;
  for (const SourceItem& item : GroupItems(set, 0)) first.push_back(item.relative);
  EXPECT_EQ(first, (std::vector<std::string>{"docs", "docs/a.txt", "docs/deep", "docs/deep/z.txt", "b.bin"}));
  EXPECT_EQ(GroupItems(set, 1).size(), 1u);

  fs::create_directories(dir_.File("other/docs"));
  const SourceSet clash = CollectSources(kPosixDialect, {dir_.File("tree/docs"), dir_.File("other/docs")},
                                         dir_.File("out.tvx"));
  EXPECT_NE(clash.error.find("same name docs"), std::string::npos) << clash.error;
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
  fs::remove(dir_.File("tree/docs/deep/z.txt"), ec);
  fs::remove(dir_.File("tree/b.bin"), ec);
  RemoveEmptiedFolders(set.items);
  EXPECT_FALSE(fs::exists(dir_.File("tree/docs/deep")));
  EXPECT_FALSE(fs::exists(dir_.File("tree/empty")));
  EXPECT_TRUE(fs::exists(dir_.File("tree/docs/a.txt")));
  EXPECT_TRUE(fs::exists(dir_.File("tree")));
}

}  // namespace
}  // namespace tvx::cli
