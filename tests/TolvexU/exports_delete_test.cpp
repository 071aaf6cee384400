// DeleteFiles through the loaded module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using PluginDelete = PluginTest;

const std::vector<RawEntry> kTree = {
    {"docs/", ""},
    {"docs/a.txt", "a"},
    {"docs/sub/", ""},
    {"docs/sub/b.txt", "b"},
    {"docsx/c.txt", "c"},
    {"docs.txt", "d"},
    {"top.txt", "t"},
};

TEST_F(PluginDelete, MissingArchiveCannotBeOpened) {
  const std::string missing = Path("missing.tvx");
  EXPECT_EQ(DeleteWith(module(), missing, {"a.txt"}), E_EOPEN);
  EXPECT_FALSE(PathExists(missing));
}

TEST_F(PluginDelete, ForeignFileIsRefusedAndLeftAlone) {
  const std::string foreign = Path("foreign.tvx");
  ASSERT_TRUE(WriteFileBytes(foreign, "not an archive at all"));
  EXPECT_EQ(DeleteWith(module(), foreign, {"a.txt"}), E_UNKNOWN_FORMAT);
  EXPECT_EQ(ReadFileBytes(foreign), "not an archive at all");
}

TEST_F(PluginDelete, ListedItemsRemoveExactlyTheirEntries) {
  struct Case {
    const char* label;
    std::vector<std::string> items;  // entry form; the host's separators are put in below
    std::vector<std::string> remaining;
  };
  const std::vector<Case> cases = {
      {"a name not in the archive", {"nothing.txt"},
       {"docs/", "docs/a.txt", "docs/sub/", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"one file", {"docs/a.txt"}, {"docs/", "docs/sub/", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder with its contents", {"docs/*.*"}, {"docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder inside a folder", {"docs/sub/*.*"}, {"docs/", "docs/a.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder's own entry only", {"docs/sub/"}, {"docs/", "docs/a.txt", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"several items", {"top.txt", "docsx/c.txt", "docs/*.*"}, {"docs.txt"}},
  };
  for (const Case& c : cases) {
    const std::string archive = WriteArchive("tree.tvx", kTree);
    std::vector<std::string> items;
    for (const std::string& item : c.items) items.push_back(ListForm(item));
    EXPECT_EQ(DeleteWith(module(), archive, items), 0) << c.label;
    EXPECT_EQ(Names(archive), ReportedForms(c.remaining)) << c.label;
  }
}

TEST_F(PluginDelete, DeletingANameNotInTheArchiveKeepsEveryByte) {
  const std::string archive = WriteArchive("tree.tvx", kTree);
  const std::string before = ReadFileBytes(archive);
  EXPECT_EQ(DeleteWith(module(), archive, {"absent.txt"}), 0);
  EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(before));
}

TEST_F(PluginDelete, DeletingEveryEntryLeavesTheEmptyArchive) {
  const std::string archive = WriteArchive("tree.tvx", kTree);
  EXPECT_EQ(DeleteWith(module(), archive, {ListForm("docs/*.*"), ListForm("docsx/c.txt"), "docs.txt", "top.txt"}), 0);
  EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(EmptyArchiveBytes()));
}

TEST_F(PluginDelete, RemainingEntriesStillExtract) {
  const std::string archive =
      WriteArchive("mixed.tvx", {Deflated("gone.txt", Compressible(700, 'g')), {"s.txt", "stored"},
                                 Deflated("kept.txt", Compressible(800, 'k'))});
  ASSERT_EQ(DeleteWith(module(), archive, {"gone.txt"}), 0);
  HostArchive reopened(module(), archive);
  ASSERT_EQ(reopened.ReadHeader(), 0);
  EXPECT_EQ(reopened.ExtractTo(Path("s.txt")), 0);
  ASSERT_EQ(reopened.ReadHeader(), 0);
  EXPECT_EQ(reopened.ExtractTo(Path("kept.txt")), 0);
  EXPECT_EQ(ReadFileBytes(Path("s.txt")), "stored");
  EXPECT_EQ(ReadFileBytes(Path("kept.txt")), Compressible(800, 'k'));
}

}  // namespace
}  // namespace tvx::test
