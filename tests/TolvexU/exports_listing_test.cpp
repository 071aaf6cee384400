// Opening and listing through the loaded module, in the host's calling order:
// OpenArchive, then ReadHeader and one ProcessFile per entry, then CloseArchive;
// and the names the host is shown in place of the stored ones (made safe, or
// shortened to fit FileName): each entry keeps a name of its own, and the host
// can delete and replace entries by the name it was shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/plugin_test.h"
#include "support/windows_headers.h"

namespace tvx::test {
namespace {

using PluginListing = PluginTest;

const std::vector<RawEntry> kThreeEntries = {{"docs/", ""}, {"docs/a.txt", "alpha"}, {"b.bin", "bravo!"}};

// An entry as the host lists it, on one line.
std::string Line(const std::string& name, int attr, int unpSize, int packSize, int time) {
  std::ostringstream out;
  out << name << " attr " << std::oct << attr << std::dec << ", " << unpSize << " -> " << packSize << " bytes, time "
      << time;
  return out.str();
}
std::vector<std::string> Lines(const Listing& listing) {
  std::vector<std::string> lines;
  for (const ListedEntry& e : listing.entries) lines.push_back(Line(e.name, e.attr, e.unpSize, e.packSize, e.time));
  return lines;
}

TEST_F(PluginListing, NamesAttributesSizesAndTimesFollowTheHostDialect) {
  RawEntry file = Deflated("docs/a.txt", Compressible(1000));
  file.time = 1118836800;  // 2005-06-15 12:00:00 on the packer's wall clock
  const int packed = static_cast<int>(file.data.size());
  const std::string path = WriteArchive("dialect.tvx", {{"docs/", "", -1, 0}, file});
#ifdef _WIN32
  // FileTime is DOS date and time; 1970 lies before their epoch: the host is
  // shown its first day.
  EXPECT_EQ(Lines(ListArchive(module(), path)),
            (std::vector<std::string>{Line("\\docs\\", 16, 0, 0, 0x00210000),
                                      Line("\\docs\\a.txt", 0, 1000, packed, 0x32CF6000)}));
#else
  // FileTime is the wall clock read as local time (zones without daylight saving).
  const std::pair<const char*, int> zones[] = {{"UTC0", 0}, {"XST-3", 3 * 3600}, {"YST5", -5 * 3600}};
  for (const auto& [zone, east] : zones) {
    TimeZoneGuard guard(zone);
    EXPECT_EQ(Lines(ListArchive(module(), path)),
              (std::vector<std::string>{Line("docs/", 040755, 0, 0, -east),
                                        Line("docs/a.txt", 0100644, 1000, packed, 1118836800 - east)}))
        << zone;
  }
#endif
}

// Hosts run archive operations on threads of their own, several at once:
// every listing must get its own archive's dates.
TEST_F(PluginListing, ListingsOnSeveralThreadsAtOnceEachGetTheirOwnDates) {
  // Each listing asks for a new hour at every other entry, in 2001 and in
  // 2017: state they shared would mix them up.
  constexpr int kEntries = 1000;
  std::vector<RawEntry> early, late;
  for (int i = 0; i < kEntries; ++i) {
    early.push_back({"e" + std::to_string(i), "", -1, 978350400 + i / 2 * 3600});
    late.push_back({"l" + std::to_string(i), "", -1, 1500000000 + i / 2 * 3600});
  }
  const std::string paths[2] = {WriteArchive("early.tvx", early), WriteArchive("late.tvx", late)};
  const Listing expected[2] = {ListArchive(module(), paths[0]), ListArchive(module(), paths[1])};
  ASSERT_TRUE(expected[0].entries.size() == kEntries && expected[1].entries.size() == kEntries);
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  OnThreads(kThreads, [&](int k) {
    for (int round = 0; round < 10; ++round) {
      if (Lines(ListArchive(module(), paths[k % 2])) != Lines(expected[k % 2])) ++wrong[k];
    }
  });
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

// The host's own fields stay as it left them, and a name too long for
// FileName is cut to a beginning of its own with nothing written beyond.
TEST_F(PluginListing, ReadHeaderWritesOnlyItsFieldsAndCutsLongNamesToFit) {
  const std::string longName = "folder/" + std::string(200, 'd') + "/" + std::string(93, 'f');
  ASSERT_EQ(longName.size(), 301u);
  std::vector<RawEntry> entries = kThreeEntries;
  entries.push_back({longName, "content"});
  HostArchive archive(module(), WriteArchive("three.tvx", entries));
  ASSERT_NE(archive.handle(), nullptr);
  char comment[16] = "host's buffer";
  tHeaderData header;
  std::memset(&header, 0xA5, sizeof header);
  header.CmtBuf = comment;
  const int pattern = static_cast<int>(0xA5A5A5A5u);
  for (const RawEntry& entry : entries) {
    ASSERT_EQ(archive.ReadHeader(header), 0);
    EXPECT_EQ((std::vector<int>{header.Flags, header.HostOS, header.FileCRC, header.UnpVer, header.Method,
                                header.CmtBufSize, header.CmtSize, header.CmtState}),
              std::vector<int>(8, pattern))
        << entry.name;
    EXPECT_TRUE(header.CmtBuf == comment && std::string(comment) == "host's buffer") << entry.name;
    ASSERT_EQ(archive.Test(), 0) << entry.name;
  }
  // That it ends within FileName: reliability/hostile_names_test.
  const std::string reported = header.FileName;
  const std::string beginning = reported.substr(0, reported.rfind('~'));
  EXPECT_EQ(ReportedForm(longName).compare(0, beginning.size(), beginning), 0)
      << "not a beginning of the full name and a mark of its own: " << reported;
}

// What OpenArchive and CanYouHandleThisFile make of a file: only the magic
// makes it ours, whatever its name; a damaged one is still ours (an archive
// cut anywhere: reliability/damage_sweep_test). (The host asks
// CanYouHandleThisFile only of a module whose capabilities say so.)
TEST_F(PluginListing, OnlyTheMagicMakesAFileOursAndDamageKeepsItOurs) {
  EXPECT_EQ(module().get_packer_caps(),
            PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_BY_CONTENT);
  std::string countTooLarge = ArchiveBytes({{"a", "1"}, {"b", "2"}});
  countTooLarge[10] = static_cast<char>(0xE8);  // 1000 records in a 60-byte file
  countTooLarge[11] = static_cast<char>(0x03);
  // What the file is; its name (nullptr: the file is not there) and bytes;
  // OpenArchive's answer (-1: not asked) and CanYouHandleThisFile's.
  const std::vector<std::tuple<const char*, const char*, std::string, int, int>> cases = {
      {"text file", "foreign-0.tvx", "Just some text, nothing else.\n", E_UNKNOWN_FORMAT, 0},
      {"missing name", nullptr, "", E_UNKNOWN_FORMAT, 0}, {"magic alone, .txt", "notes.txt", "TOLVEX", -1, 1},
      {"magic in lower case", "foreign-4.tvx", "tolvex" + std::string(20, '\0'), E_UNKNOWN_FORMAT, 0},
      {"archive named .jpg", "picture.jpg", ArchiveBytes(kThreeEntries), -1, 1},
      {"magic, no extension", "no-extension", "TOLVEX" + std::string(100, '\xFF'), -1, 1},
      {"count larger than the file holds", "damaged-0.tvx", countTooLarge, E_BAD_ARCHIVE, 1},
  };
  for (const auto& [label, name, bytes, openResult, canHandle] : cases) {
    const std::string path = Path(name != nullptr ? name : "missing.tvx");
    ASSERT_TRUE(name == nullptr || WriteFileBytes(path, bytes));
    if (openResult != -1) {
      const HostArchive archive(module(), path);
      EXPECT_EQ(std::make_pair(archive.handle(), archive.openResult()), std::make_pair(HANDLE_WCX{}, openResult))
          << label;
    }
    EXPECT_EQ(CanHandle(module(), path), canHandle) << label;
  }
}

// --- names shown in place of the stored ones -------------------------------------

using PluginShownNames = PluginTest;

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
  std::replace(entries.back().name.begin(), entries.back().name.end(), '\\', '/');
  listing = ListArchive(module(), WriteArchive("long.tvx", entries));
  ASSERT_EQ(listing.entries.size(), 5u);

  std::set<std::string> names;
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    const bool folder = i == 2;
    EXPECT_LE(entry.name.size(), 259u);
#ifdef _WIN32
    EXPECT_EQ((entry.attr & 16) != 0, folder) << entry.name;
#else
    EXPECT_EQ((entry.attr & 0170000) == 0040000, folder) << entry.name;
#endif
    EXPECT_EQ(entry.name.back() == NativeSeparator()[0], folder) << entry.name;
    EXPECT_TRUE(names.insert(entry.name).second) << "shown twice: " << entry.name;
    const size_t lastComponent = entry.name.find_last_of(NativeSeparator(), entry.name.size() - 2);
    EXPECT_LE(entry.name.size() - lastComponent - 1 - (folder ? 1 : 0), 255u) << entry.name;
  }
}

TEST_F(PluginShownNames, EntriesAreDeletedByTheNameTheHostWasShown) {
  std::vector<std::string> stored = {"", "/lead.txt", "a/../b.txt", kDeep + std::string(80, 'e') + ".txt",
                                     kDeep + std::string(80, 'f') + "/"};
#ifdef _WIN32
  stored.insert(stored.end(), {"C:drive.txt", "back\\slash.txt", "CON.txt", "sub/aux", "dot.", "space ", "q?*.txt",
                               "pipe|\"quote\".txt", "tab\tname"});
#endif
  for (const std::string& name : stored) {
    const std::string archive =
        WriteArchive("del.tvx", {{name, name.empty() || name.back() != '/' ? "x" : ""}, {"keep.txt", "kept"}});
    const std::vector<std::string> shown = Names(archive);
    ASSERT_EQ(shown.size(), 2u) << name;
    std::string item = AsListItem(shown[0]);
    if (item.back() == NativeSeparator()[0]) item += "*.*";  // how hosts name a folder to delete
    EXPECT_EQ(DeleteWith(module(), archive, {item}), 0) << name;
    EXPECT_EQ(Names(archive), ReportedForms({"keep.txt"})) << "stored as \"" << name << "\", shown as " << shown[0];
  }
}

#ifdef _WIN32
TEST_F(PluginShownNames, DeviceNamesTrailingDotsAndForbiddenCharactersAreShownMadeSafe) {
  const std::string archive = WriteArchive("devices.tvx", {{"CON", "x"}, {"aux.txt", "x"}, {"sub/com1.log", "x"},
                                                           {"dot.", "x"}, {"Lpt3/", ""}, {"a<b>|c?.txt", "x"},
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
