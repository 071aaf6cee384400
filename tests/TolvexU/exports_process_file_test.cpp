// ProcessFile through the loaded module: testing, skipping and extracting the
// entry the last ReadHeader reported, and the names the host joins to its
// destination folder. (That the names reported are safe to join is
// reliability/hostile_names_test.cpp's.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using PluginProcessFile = PluginTest;

// Skipping reads nothing, so it succeeds on damaged data; testing and
// extracting find the damage; any other operation extracts. A damaged entry
// leaves no file of its own and keeps the user's file of that name.
TEST_F(PluginProcessFile, EachOperationOnGoodAndDamagedEntries) {
  const std::string good = Compressible(4000, 'g');
  RawEntry endsEarly = Deflated("short.txt", good);
  endsEarly.data.resize(endsEarly.data.size() / 2);
  const std::string archive = WriteArchive(
      "mixed.tvx", {Deflated("good.txt", good), DamagedDeflated("damaged.txt", Compressible(4000, 'd')), endsEarly,
                    {"stored.txt", "stored bytes"}});
  for (const int operation : {int{PK_SKIP}, int{PK_TEST}, int{PK_EXTRACT}, 3}) {
    SCOPED_TRACE("operation " + std::to_string(operation));
    const bool extracts = operation == PK_EXTRACT || operation == 3;
    const std::string out = Path("out" + std::to_string(operation));
    ASSERT_TRUE(std::filesystem::create_directory(out));
    const std::string users = out + NativeSeparator() + "short.txt";
    ASSERT_TRUE(WriteFileBytes(users, "the user's file"));
    HostArchive opened(module(), archive);
    for (const std::string name : {"good.txt", "damaged.txt", "short.txt", "stored.txt"}) {
      ASSERT_EQ(opened.ReadHeader(), 0);
      const bool bad = name == "damaged.txt" || name == "short.txt";
      EXPECT_EQ(opened.Process(operation, nullptr, out + NativeSeparator() + name),
                bad && operation != PK_SKIP ? E_BAD_DATA : 0)
          << name;
    }
    EXPECT_EQ(opened.ReadHeader(), E_END_ARCHIVE);
    EXPECT_EQ(FolderListing(out), extracts ? (std::vector<std::string>{"good.txt", "short.txt", "stored.txt"})
                                           : std::vector<std::string>{"short.txt"});
    EXPECT_EQ(ReadFileBytes(users), "the user's file");
    if (extracts) {
      EXPECT_EQ(ReadFileBytes(out + NativeSeparator() + "good.txt"), good);
      EXPECT_EQ(ReadFileBytes(out + NativeSeparator() + "stored.txt"), "stored bytes");
    }
  }
}

TEST_F(PluginProcessFile, DestPathAndDestNameAreJoinedWithOneSeparator) {
  HostArchive archive(module(), WriteArchive("five.tvx", {{"a.txt", "first"}, {"b.txt", "second"}, {"c.txt", "third"},
                                                          {"d/", ""}, {"e.txt", "fifth"}}));
  ASSERT_NE(archive.handle(), nullptr);

  const std::string folder = WorkFolder() + NativeSeparator();
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &folder, "a.txt"), 0);
  EXPECT_EQ(ReadFileBytes(Path("a.txt")), "first");

  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, nullptr, Path("b-full.txt")), 0);
  EXPECT_EQ(ReadFileBytes(Path("b-full.txt")), "second");

  // A DestPath without its separator is the folder all the same.
  const std::string out = Path("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &out, "c.txt"), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &out, "d"), 0);
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"c.txt", "d"}));
  EXPECT_TRUE(std::filesystem::is_directory(out + NativeSeparator() + "d"));
  EXPECT_FALSE(PathExists(Path("outc.txt")));

  // The host makes the folders; the module does not.
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.ExtractTo(Path("missing") + NativeSeparator() + "e.txt"), E_ECREATE);
  EXPECT_FALSE(PathExists(Path("missing")));
}

// The host's order: OpenArchive, ReadHeader and one ProcessFile per entry,
// the end repeated for every ReadHeader after the last; ProcessFile without
// a current entry touches none.
TEST_F(PluginProcessFile, HeadersComeInOrderAndProcessFileNeedsACurrentEntry) {
  const std::vector<std::vector<RawEntry>> archives = {
      {}, {{"docs/", ""}, {"docs/a.txt", "alpha"}, {"b.bin", "bravo!"}}};
  for (const std::vector<RawEntry>& entries : archives) {
    SCOPED_TRACE(std::to_string(entries.size()) + " entries");
    HostArchive archive(module(), WriteArchive("a.tvx", entries));
    ASSERT_NE(archive.handle(), nullptr);
    const std::string target = Path("target");
    const auto expectEnd = [&](const std::string& when) {
      for (int operation : {PK_SKIP, PK_TEST, PK_EXTRACT})
        EXPECT_EQ(archive.Process(operation, nullptr, target), E_END_ARCHIVE) << when << ", operation " << operation;
    };
    expectEnd("before the first ReadHeader");
    for (const RawEntry& entry : entries) {
      tHeaderData header{};
      ASSERT_EQ(archive.ReadHeader(header), 0);
      EXPECT_STREQ(header.FileName, ReportedForm(entry.name).c_str());
      ASSERT_EQ(archive.Skip(), 0);
      expectEnd("after " + entry.name + " was processed");
    }
    EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
    EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
    expectEnd("after the end");
    EXPECT_FALSE(PathExists(target));
  }
}

}  // namespace
}  // namespace tvx::test
