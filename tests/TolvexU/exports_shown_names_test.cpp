// Names the host is shown in place of the stored ones (made safe, or
// shortened to fit FileName): each entry keeps a name of its own, and the host
// can delete and replace entries by the name it was shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using PluginShownNames = PluginTest;

bool IsFolderAttr(int attr) {
#ifdef _WIN32
  return (attr & 16) != 0;
#else
  return (attr & 0170000) == 0040000;
#endif
}

// A shown name as the host puts it into its lists: no leading separator.
std::string AsListItem(const std::string& shown) {
  return !shown.empty() && shown[0] == NativeSeparator()[0] ? shown.substr(1) : shown;
}

const std::string kDeep = "folder/" + std::string(200, 'd') + "/";

TEST_F(PluginShownNames, LongNamesAreShownDistinctAndOfTheirKind) {
  std::vector<RawEntry> entries = {
      {kDeep + std::string(80, 'e') + "-one.txt", "1"},
      {kDeep + std::string(80, 'e') + "-two.txt", "2"},
      {kDeep + std::string(80, 'e') + "-sub/", ""},
      {"f/" + std::string(250, 'g') + "/" + std::string(20, 'h'), "3"},  // cut inside a long component
  };
  Listing listing = ListArchive(module(), WriteArchive("long.tvx", entries));
  ASSERT_EQ(listing.entries.size(), 4u);
  // A short entry named exactly like a shortened name must not share it.
  entries.push_back({AsListItem(listing.entries[0].name), "4"});
  for (char& c : entries.back().name) {
    if (c == '\\') c = '/';
  }
  listing = ListArchive(module(), WriteArchive("long.tvx", entries));
  ASSERT_EQ(listing.entries.size(), 5u);

  std::set<std::string> names;
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    const bool folder = i == 2;
    EXPECT_LE(entry.name.size(), 259u);
    EXPECT_EQ(IsFolderAttr(entry.attr), folder) << entry.name;
    EXPECT_EQ(entry.name.back() == NativeSeparator()[0], folder) << entry.name;
    EXPECT_TRUE(names.insert(entry.name).second) << "shown twice: " << entry.name;
    const size_t lastComponent = entry.name.find_last_of(NativeSeparator(), entry.name.size() - 2);
    EXPECT_LE(entry.name.size() - lastComponent - 1 - (folder ? 1 : 0), 255u) << entry.name;
  }
}

TEST_F(PluginShownNames, PackFilesRefusesANameTheHostCouldNotShow) {
  ASSERT_TRUE(WriteFileBytes(Path("a.txt"), "content"));
  const std::string archive = WriteArchive("kept.tvx", {{"old.txt", "old"}});
  const std::string before = ReadFileBytes(archive);
  const std::string subPath = std::string(130, 'x') + NativeSeparator() + std::string(130, 'y');
  EXPECT_EQ(PackWith(module(), archive, subPath.c_str(), SrcPath(), {"a.txt"}, PK_PACK_SAVE_PATHS), E_NOT_SUPPORTED);
  EXPECT_EQ(ReadFileBytes(archive), before);
}

TEST_F(PluginShownNames, EntriesAreDeletedByTheNameTheHostWasShown) {
  std::vector<std::string> stored = {"", "/lead.txt", "a/../b.txt", kDeep + std::string(80, 'e') + ".txt",
                                     kDeep + std::string(80, 'f') + "/"};
#ifdef _WIN32
  for (const char* name : {"C:drive.txt", "back\\slash.txt", "CON.txt", "sub/aux", "dot.", "space ", "q?*.txt",
                           "pipe|\"quote\".txt", "tab\tname"}) {
    stored.push_back(name);
  }
#endif
  for (const std::string& name : stored) {
    const std::string archive = WriteArchive("del.tvx", {{name, name.empty() || name.back() != '/' ? "x" : ""},
                                                         {"keep.txt", "kept"}});
    const std::vector<std::string> shown = Names(archive);
    ASSERT_EQ(shown.size(), 2u) << name;
    std::string item = AsListItem(shown[0]);
    if (item.back() == NativeSeparator()[0]) item += "*.*";  // how hosts name a folder to delete
    EXPECT_EQ(DeleteWith(module(), archive, {item}), 0) << name;
    EXPECT_EQ(Names(archive), ReportedForms({"keep.txt"})) << "stored as \"" << name << "\", shown as " << shown[0];
  }
}

TEST_F(PluginShownNames, PackingReplacesAnEntryShownUnderTheSameName) {
  const std::string archive = WriteArchive("replace.tvx", {{"/lead.txt", "old"}, {"keep.txt", "kept"}});
  ASSERT_EQ(Names(archive), ReportedForms({"lead.txt", "keep.txt"}));
  ASSERT_TRUE(WriteFileBytes(Path("lead.txt"), "new content"));
  ASSERT_EQ(PackWith(module(), archive, nullptr, SrcPath(), {"lead.txt"}, PK_PACK_SAVE_PATHS), 0);
  EXPECT_EQ(ListedNamesAndSizes(module(), archive),
            (NamesAndSizes{{ReportedForm("keep.txt"), 4}, {ReportedForm("lead.txt"), 11}}));
}

#ifdef _WIN32
TEST_F(PluginShownNames, DeviceNamesTrailingDotsAndForbiddenCharactersAreShownMadeSafe) {
  const std::string archive = WriteArchive("devices.tvx", {{"CON", "x"},
                                                           {"aux.txt", "x"},
                                                           {"sub/com1.log", "x"},
                                                           {"dot.", "x"},
                                                           {"Lpt3/", ""},
                                                           {"a<b>|c?.txt", "x"},
                                                           {"\"q*\"\x01.txt", "x"}});
  const std::vector<std::string> shown = Names(archive);
  EXPECT_EQ(shown, (std::vector<std::string>{"\\_CON", "\\_aux.txt", "\\sub\\_com1.log", "\\dot._", "\\_Lpt3\\",
                                             "\\a_b__c_.txt", "\\_q___.txt"}));
  // Each extracts under the name shown, into the folders the host makes.
  const std::string out = Path("out") + NativeSeparator();
  ASSERT_TRUE(std::filesystem::create_directories(Path("out") + NativeSeparator() + "sub"));
  HostArchive opened(module(), archive);
  for (const std::string& name : shown) {
    ASSERT_EQ(opened.ReadHeader(), 0);
    ASSERT_EQ(opened.Process(PK_EXTRACT, &out, AsListItem(name)), 0) << name;
    EXPECT_TRUE(PathExists(out + AsListItem(name))) << name;
  }
}
#endif

}  // namespace
}  // namespace tvx::test
