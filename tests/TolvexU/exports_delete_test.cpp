// DeleteFiles through the loaded module.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using PluginDelete = PluginTest;

// Deflated entries among stored ones: the kept data must be copied as it is
// and found again at its new place.
const std::vector<RawEntry> kTree = {
    {"docs/", ""},
    Deflated("docs/a.txt", Compressible(700, 'a')),
    {"docs/sub/", ""},
    {"docs/sub/b.txt", "b"},
    {"docsx/c.txt", "c"},
    {"docs.txt", "d"},
    Deflated("top.txt", Compressible(800, 't')),
};

TEST_F(PluginDelete, WhatIsNotAnArchiveIsRefusedAndLeftAlone) {
  const std::string missing = Path("missing.tvx");
  EXPECT_EQ(DeleteWith(module(), missing, {"a.txt"}), E_EOPEN);
  EXPECT_FALSE(PathExists(missing));
  const std::string foreign = Path("foreign.tvx");
  ASSERT_TRUE(WriteFileBytes(foreign, "not an archive at all"));
  EXPECT_EQ(DeleteWith(module(), foreign, {"a.txt"}), E_UNKNOWN_FORMAT);
  EXPECT_EQ(ReadFileBytes(foreign), "not an archive at all");
}

// The archive left is exactly the kept entries, in their order, as the
// format lays them down: nothing else changes, not even for a name that is
// not there, and deleting everything leaves the empty archive.
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
      {"every entry", {"docs/*.*", "docsx/c.txt", "docs.txt", "top.txt"}, {}},
  };
  for (const Case& c : cases) {
    const std::string archive = WriteArchive("tree.tvx", kTree);
    std::vector<std::string> items;
    for (const std::string& item : c.items) items.push_back(ListForm(item));
    std::vector<RawEntry> kept;
    for (const RawEntry& entry : kTree) {
      if (std::count(c.remaining.begin(), c.remaining.end(), entry.name) != 0) kept.push_back(entry);
    }
    EXPECT_EQ(DeleteWith(module(), archive, items), 0) << c.label;
    EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(ArchiveBytes(kept))) << c.label;
    EXPECT_EQ(Names(archive), ReportedForms(c.remaining)) << c.label;
  }
}

// A name listed once takes every entry of that name, also the one after the
// entry it matched first.
TEST_F(PluginDelete, AListedNameTakesEveryEntryOfThatName) {
  const std::string archive = WriteArchive("twice.tvx", {{"a.txt", "1"}, {"b.txt", "2"}, {"a.txt", "3"}});
  EXPECT_EQ(DeleteWith(module(), archive, {"a.txt"}), 0);
  EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(ArchiveBytes({{"b.txt", "2"}})));
}

}  // namespace
}  // namespace tvx::test
