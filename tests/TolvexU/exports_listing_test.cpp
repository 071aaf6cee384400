// Opening and listing through the loaded module, in the host's calling order:
// OpenArchive, then ReadHeader and one ProcessFile per entry, then CloseArchive.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/plugin_test.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <time.h>
#endif

namespace tvx::test {
namespace {

using PluginListing = PluginTest;

const std::vector<RawEntry> kThreeEntries = {
    {"docs/", ""},
    {"docs/a.txt", "alpha"},
    {"b.bin", "bravo!"},
};

TEST_F(PluginListing, NamesAttributesAndSizesFollowTheHostDialect) {
  const std::string content = Compressible(1000);
  const std::string path = WriteArchive("dialect.tvx", {{"docs/", ""}, Deflated("docs/a.txt", content)});
  const Listing listing = ListArchive(module(), path);
  ASSERT_TRUE(listing.opened);
  ASSERT_EQ(listing.entries.size(), 2u);
  const ListedEntry& folder = listing.entries[0];
  const ListedEntry& file = listing.entries[1];
#ifdef _WIN32
  EXPECT_EQ(folder.name, "\\docs\\");
  EXPECT_EQ(file.name, "\\docs\\a.txt");
  EXPECT_EQ(folder.attr, 16);
  EXPECT_EQ(file.attr, 0);
#else
  EXPECT_EQ(folder.name, "docs/");
  EXPECT_EQ(file.name, "docs/a.txt");
  EXPECT_EQ(folder.attr, 040755);
  EXPECT_EQ(file.attr, 0100644);
#endif
  EXPECT_EQ(folder.unpSize, 0);
  EXPECT_EQ(file.unpSize, 1000);
  EXPECT_EQ(file.packSize, static_cast<int>(Deflated("x", content).data.size()));
}

#ifdef _WIN32

TEST_F(PluginListing, FileTimeIsTheEntrysWallClockAsDosDateAndTime) {
  RawEntry epoch{"epoch.txt", "e"};
  epoch.time = 0;
  RawEntry noon{"noon.txt", "n"};
  noon.time = 1118836800;  // 2005-06-15 12:00:00
  const Listing listing = ListArchive(module(), WriteArchive("times.tvx", {epoch, noon}));
  ASSERT_EQ(listing.entries.size(), 2u);
  // 1970 lies before the DOS epoch: the host is shown its first day.
  EXPECT_EQ(static_cast<uint32_t>(listing.entries[0].time), 0x00210000u);
  EXPECT_EQ(static_cast<uint32_t>(listing.entries[1].time), 0x32CF6000u);
}

#else

TEST_F(PluginListing, FileTimeIsTheEntrysWallClockReadAsLocalTime) {
  RawEntry epoch{"epoch.txt", "e"};
  epoch.time = 0;
  RawEntry noon{"noon.txt", "n"};
  noon.time = 1118836800;  // 2005-06-15 12:00:00 on the packer's wall clock
  const std::string path = WriteArchive("times.tvx", {epoch, noon});
  struct Case {
    const char* zone;
    int offsetEastSeconds;  // zones without daylight saving
  };
  for (const Case& c : {Case{"UTC0", 0}, Case{"XST-3", 3 * 3600}, Case{"YST5", -5 * 3600}}) {
    TimeZoneGuard zone(c.zone);
    const Listing listing = ListArchive(module(), path);
    ASSERT_EQ(listing.entries.size(), 2u) << c.zone;
    EXPECT_EQ(listing.entries[0].time, 0 - c.offsetEastSeconds) << c.zone;
    EXPECT_EQ(listing.entries[1].time, 1118836800 - c.offsetEastSeconds) << c.zone;
  }
}

#endif

// Hosts run archive operations on threads of their own, several at once:
// every listing must get its own archive's dates.
TEST_F(PluginListing, ListingsOnSeveralThreadsAtOnceEachGetTheirOwnDates) {
  // Each listing asks for a new hour at every other entry, in 2001 and in
  // 2017: state they shared would mix them up.
  constexpr int kEntries = 1000;
  std::vector<RawEntry> early;
  std::vector<RawEntry> late;
  for (int i = 0; i < kEntries; ++i) {
    early.push_back({"e" + std::to_string(i), "", -1, 978350400 + i / 2 * 3600});
    late.push_back({"l" + std::to_string(i), "", -1, 1500000000 + i / 2 * 3600});
  }
  const std::string paths[2] = {WriteArchive("early.tvx", early), WriteArchive("late.tvx", late)};
  const Listing expected[2] = {ListArchive(module(), paths[0]), ListArchive(module(), paths[1])};
  ASSERT_EQ(expected[0].entries.size(), static_cast<size_t>(kEntries));
  ASSERT_EQ(expected[1].entries.size(), static_cast<size_t>(kEntries));
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  OnThreads(kThreads, [&](int k) {
    for (int round = 0; round < 10; ++round) {
      const Listing listing = ListArchive(module(), paths[k % 2]);
      if (listing.entries.size() != static_cast<size_t>(kEntries)) ++wrong[k];
      for (size_t i = 0; i < listing.entries.size(); ++i) {
        if (listing.entries[i].time != expected[k % 2].entries[i].time) ++wrong[k];
      }
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
    EXPECT_EQ(header.CmtBuf, comment);
    EXPECT_STREQ(comment, "host's buffer");
    ASSERT_EQ(archive.Test(), 0) << entry.name;
  }
  ASSERT_NE(std::memchr(header.FileName, '\0', sizeof header.FileName), nullptr) << "FileName is not NUL-terminated";
  const std::string reported = header.FileName;
  EXPECT_LE(reported.size(), 259u);
  EXPECT_FALSE(reported.empty());
  const std::string beginning = reported.substr(0, reported.rfind('~'));
  EXPECT_EQ(ReportedForm(longName).compare(0, beginning.size(), beginning), 0)
      << "not a beginning of the full name and a mark of its own: " << reported;
}

// What OpenArchive and CanYouHandleThisFile make of a file: only the magic
// makes it ours, whatever its name; a damaged one is still ours.
struct FileKind {
  const char* label;
  const char* name;  // nullptr: the file is not there
  std::string bytes;
  int openResult;  // -1: not asked
  int canHandle;
};

TEST_F(PluginListing, OnlyTheMagicMakesAFileOursAndDamageKeepsItOurs) {
  std::string countTooLarge = ArchiveBytes({{"a", "1"}, {"b", "2"}});
  countTooLarge[10] = static_cast<char>(0xE8);  // 1000 records in a 60-byte file
  countTooLarge[11] = static_cast<char>(0x03);
  std::string recordCutShort = ArchiveBytes({{"a.txt", "1"}});
  recordCutShort.resize(14 + 2 + 3);  // the file ends inside the name
  const std::vector<FileKind> cases = {
      {"text file", "foreign-0.tvx", "Just some text, nothing else.\n", E_UNKNOWN_FORMAT, 0},
      {"empty file", "foreign-1.tvx", "", E_UNKNOWN_FORMAT, 0},
      {"missing name", nullptr, "", E_UNKNOWN_FORMAT, 0},
      {"magic cut short", "foreign-3.tvx", "TOLVE", E_UNKNOWN_FORMAT, 0},
      {"magic in lower case", "foreign-4.tvx", "tolvex" + std::string(20, '\0'), E_UNKNOWN_FORMAT, 0},
      {"magic alone, .txt", "notes.txt", "TOLVEX", -1, 1},
      {"archive named .jpg", "picture.jpg", ArchiveBytes(kThreeEntries), -1, 1},
      {"magic, no extension", "no-extension", "TOLVEX" + std::string(100, '\xFF'), -1, 1},
      {"count larger than the file holds", "damaged-0.tvx", countTooLarge, E_BAD_ARCHIVE, 1},
      {"directory ends inside a record", "damaged-1.tvx", recordCutShort, E_BAD_ARCHIVE, 1},
      {"header cut short", "damaged-2.tvx", std::string("TOLVEX\x64\0\0\0", 10), E_BAD_ARCHIVE, 1},
  };
  for (const FileKind& c : cases) {
    const std::string path = Path(c.name != nullptr ? c.name : "missing.tvx");
    if (c.name != nullptr) {
      ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    }
    if (c.openResult != -1) {
      HostArchive archive(module(), path);
      EXPECT_EQ(archive.handle(), nullptr) << c.label;
      EXPECT_EQ(archive.openResult(), c.openResult) << c.label;
    }
    EXPECT_EQ(CanHandle(module(), path), c.canHandle) << c.label;
  }
}

TEST_F(PluginListing, CapabilitiesAreNewModifyMultipleDeleteAndByContent) {
  EXPECT_EQ(module().get_packer_caps(),
            PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_BY_CONTENT);
}

}  // namespace
}  // namespace tvx::test
