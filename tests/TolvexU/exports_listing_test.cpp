// Opening and listing through the loaded module, in the host's calling order:
// OpenArchive, then ReadHeader and one ProcessFile per entry, then CloseArchive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/plugin_test.h"

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

TEST_F(PluginListing, EmptyArchiveOpensAndEndsAtTheFirstHeader) {
  const std::string path = WriteArchive("empty.tvx", {});
  ASSERT_EQ(ReadFileBytes(path).size(), 14u);
  HostArchive archive(module(), path);
  ASSERT_NE(archive.handle(), nullptr);
  EXPECT_EQ(archive.Skip(), E_END_ARCHIVE) << "ProcessFile before any ReadHeader";
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
}

TEST_F(PluginListing, ProcessFileBeforeTheFirstHeaderTouchesNoEntry) {
  const std::string path = WriteArchive("three.tvx", kThreeEntries);
  HostArchive archive(module(), path);
  ASSERT_NE(archive.handle(), nullptr);
  EXPECT_EQ(archive.ExtractTo(Path("early")), E_END_ARCHIVE);
  EXPECT_FALSE(PathExists(Path("early")));
  // The first ReadHeader still gives the first entry.
  tHeaderData header{};
  ASSERT_EQ(archive.ReadHeader(header), 0);
  EXPECT_STREQ(header.FileName, ReportedForm("docs/").c_str());
}

TEST_F(PluginListing, ThreeEntriesGiveThreeHeadersThenTheEndRepeatedly) {
  const std::string path = WriteArchive("three.tvx", kThreeEntries);
  HostArchive archive(module(), path);
  ASSERT_NE(archive.handle(), nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(archive.ReadHeader(), 0) << "entry " << i;
    EXPECT_EQ(archive.Skip(), 0) << "entry " << i;
  }
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
}

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
  // 1970 lies before the DOS epoch: the year bits wrap (1970 - 1980 mod 128).
  EXPECT_EQ(static_cast<uint32_t>(listing.entries[0].time), 0xEC210000u);
  EXPECT_EQ(static_cast<uint32_t>(listing.entries[1].time), 0x32CF6000u);
}

#else

// Sets TZ for the object's life; the module reads the same C library state.
class TimeZoneGuard {
 public:
  explicit TimeZoneGuard(const char* zone) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZoneGuard() {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

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

TEST_F(PluginListing, ReadHeaderLeavesTheHostsOwnFieldsAsTheyWere) {
  const std::string path = WriteArchive("three.tvx", kThreeEntries);
  HostArchive archive(module(), path);
  ASSERT_NE(archive.handle(), nullptr);
  char comment[16] = "host's buffer";
  tHeaderData header;
  std::memset(&header, 0xA5, sizeof header);
  header.CmtBuf = comment;
  const int pattern = static_cast<int>(0xA5A5A5A5u);

  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(archive.ReadHeader(header), 0);
    EXPECT_EQ(header.Flags, pattern);
    EXPECT_EQ(header.HostOS, pattern);
    EXPECT_EQ(header.FileCRC, pattern);
    EXPECT_EQ(header.UnpVer, pattern);
    EXPECT_EQ(header.Method, pattern);
    EXPECT_EQ(header.CmtBuf, comment);
    EXPECT_EQ(header.CmtBufSize, pattern);
    EXPECT_EQ(header.CmtSize, pattern);
    EXPECT_EQ(header.CmtState, pattern);
    EXPECT_STREQ(comment, "host's buffer");
    ASSERT_EQ(archive.Skip(), 0);
  }
}

TEST_F(PluginListing, LongNameIsCutToFitFileNameAndNothingBeyondIsWritten) {
  const std::string longName = "folder/" + std::string(200, 'd') + "/" + std::string(93, 'f');
  ASSERT_EQ(longName.size(), 301u);
  const std::string path = WriteArchive("long.tvx", {{longName, "content"}});
  HostArchive archive(module(), path);
  ASSERT_NE(archive.handle(), nullptr);
  tHeaderData header;
  std::memset(&header, 0xA5, sizeof header);
  ASSERT_EQ(archive.ReadHeader(header), 0);

  const void* nul = std::memchr(header.FileName, '\0', sizeof header.FileName);
  ASSERT_NE(nul, nullptr) << "FileName is not NUL-terminated";
  const std::string reported = header.FileName;
  EXPECT_LE(reported.size(), 259u);
  EXPECT_FALSE(reported.empty());
  const std::string beginning = reported.substr(0, reported.rfind('~'));
  EXPECT_EQ(ReportedForm(longName).compare(0, beginning.size(), beginning), 0)
      << "not a beginning of the full name and a mark of its own: " << reported;
  EXPECT_EQ(header.Flags, static_cast<int>(0xA5A5A5A5u)) << "written past FileName";
  EXPECT_EQ(archive.Test(), 0);
}

struct ForeignFile {
  const char* label;
  bool create;
  std::string bytes;
};

TEST_F(PluginListing, FilesOfAnotherFormatAreRefusedAsUnknown) {
  const std::vector<ForeignFile> cases = {
      {"text file", true, "Just some text, nothing else.\n"},
      {"empty file", true, ""},
      {"missing name", false, ""},
      {"magic cut short", true, "TOLVE"},
      {"magic in lower case", true, "tolvex" + std::string(20, '\0')},
  };
  for (const ForeignFile& c : cases) {
    const std::string path = Path(std::string("foreign-") + std::to_string(&c - &cases[0]) + ".tvx");
    if (c.create) {
      ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    }
    HostArchive archive(module(), path);
    EXPECT_EQ(archive.handle(), nullptr) << c.label;
    EXPECT_EQ(archive.openResult(), E_UNKNOWN_FORMAT) << c.label;
    EXPECT_EQ(CanHandle(module(), path), 0) << c.label;
  }
}

TEST_F(PluginListing, TheMagicAloneMakesAFileOursWhateverItsName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"notes.txt", "TOLVEX"},
      {"picture.jpg", ArchiveBytes(kThreeEntries)},
      {"no-extension", "TOLVEX" + std::string(100, '\xFF')},
  };
  for (const auto& c : cases) {
    const std::string path = Path(c.first);
    ASSERT_TRUE(WriteFileBytes(path, c.second));
    EXPECT_EQ(CanHandle(module(), path), 1) << c.first;
  }
}

TEST_F(PluginListing, DamagedDirectoryIsABadArchiveThatIsStillOurs) {
  std::string countTooLarge = ArchiveBytes({{"a", "1"}, {"b", "2"}});
  countTooLarge[10] = static_cast<char>(0xE8);  // 1000 records in a 60-byte file
  countTooLarge[11] = static_cast<char>(0x03);
  std::string recordCutShort = ArchiveBytes({{"a.txt", "1"}});
  recordCutShort.resize(14 + 2 + 3);  // the file ends inside the name
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"count larger than the file holds", countTooLarge},
      {"directory ends inside a record", recordCutShort},
      {"header cut short", std::string("TOLVEX\x64\0\0\0", 10)},
  };
  for (const auto& c : cases) {
    const std::string path = Path("damaged.tvx");
    ASSERT_TRUE(WriteFileBytes(path, c.second));
    HostArchive archive(module(), path);
    EXPECT_EQ(archive.handle(), nullptr) << c.first;
    EXPECT_EQ(archive.openResult(), E_BAD_ARCHIVE) << c.first;
    EXPECT_EQ(CanHandle(module(), path), 1) << c.first;
  }
}

TEST_F(PluginListing, CapabilitiesAreNewModifyMultipleDeleteAndByContent) {
  EXPECT_EQ(module().get_packer_caps(), 79);
  EXPECT_EQ(module().get_packer_caps(),
            PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_BY_CONTENT);
}

}  // namespace
}  // namespace tvx::test
