// The archive's bytes on disk: directory records, and what the reader makes of
// good, foreign and damaged files. Archives are written byte by byte here, so
// the reader is held to the layout rather than to the writer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "packU/archive.h"
#include "packU/archive_entry.h"
#include "packU/format.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using test::FromHex;
using test::Hex;
using test::RawRecord;
using test::RecordBytes;
using test::TempDir;

// The folder "d/" packed on 2005-06-15 12:00:00.
const char kOneFolderArchive[] =
    "54 4F 4C 56 45 58 64 00 00 00 01 00 00 00 02 00 64 2F 40 18 B0 42"
    " 00 00 00 00 00 00 00 00 00 00 00 00";

// Each call gets a file of its own: Windows cannot replace a file still open.
std::unique_ptr<Archive> OpenBytes(const TempDir& dir, const std::string& bytes) {
  static int serial = 0;
  const std::string path = dir.File("archive" + std::to_string(++serial) + ".tvx");
  EXPECT_TRUE(test::WriteFileBytes(path, bytes));
  return Archive::NewArchive(platform::OsSystem(), path);
}

// --- records ---------------------------------------------------------------------

TEST(ArchiveRecord, AppendRecordWritesLengthNameThenFourLittleEndianNumbers) {
  ArchiveEntry entry;
  entry.name = "d/";
  entry.time = 1118836800;
  std::string bytes;
  AppendRecord(entry, bytes);
  EXPECT_EQ(Hex(bytes), Hex(FromHex(kOneFolderArchive).substr(kHeaderSize)));
  EXPECT_EQ(entry.RecordSize(), bytes.size());
}

TEST(ArchiveRecord, ParseRecordRoundTripsEveryFieldIncludingNegatives) {
  const std::vector<ArchiveEntry> cases = {
      {"a.txt", 1118836800, 10, 10, 0},
      {"docs/", 0, 0, 0, 0},
      {"", -1, -2, -3, -4},
      {"x/y/z.bin", INT32_MIN, INT32_MAX, 0x01020304, -0x7F000001},
      {std::string(300, 'n'), 0x12345678, 5, 4, 3},
  };
  for (const ArchiveEntry& original : cases) {
    std::string bytes = "junk";  // the record need not start the buffer
    AppendRecord(original, bytes);
    bytes += "tail";
    size_t pos = 4;
    ArchiveEntry parsed;
    ASSERT_TRUE(ParseRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pos, parsed));
    EXPECT_EQ(pos, bytes.size() - 4) << original.name;
    EXPECT_EQ(parsed.name, original.name);
    EXPECT_EQ(parsed.time, original.time);
    EXPECT_EQ(parsed.unpackedSize, original.unpackedSize);
    EXPECT_EQ(parsed.packedSize, original.packedSize);
    EXPECT_EQ(parsed.dataOffset, original.dataOffset);
  }
}

TEST(ArchiveRecord, ParseRecordRefusesEveryTruncatedRecord) {
  const std::string bytes = RecordBytes({"docs/a.txt", 1, 2, 3, 4});
  for (size_t size = 0; size < bytes.size(); ++size) {
    size_t pos = 0;
    ArchiveEntry parsed;
    EXPECT_FALSE(ParseRecord(reinterpret_cast<const uint8_t*>(bytes.data()), size, pos, parsed)) << size;
  }
}

TEST(ArchiveRecord, DirectoryAndFileAreToldApartByTheTrailingSlashOnly) {
  struct Case {
    const char* name;
    bool directory;
  };
  for (const Case& c : {Case{"d/", true}, Case{"a/b/", true}, Case{"/", true}, Case{"", false},
                        Case{"d", false}, Case{"a/b", false}, Case{"d\\", false}}) {
    ArchiveEntry entry;
    entry.name = c.name;
    EXPECT_EQ(entry.IsDirectory(), c.directory) << '"' << c.name << '"';
  }
}

TEST(ArchiveRecord, PackedSmallerThanUnpackedMeansDeflated) {
  struct Case {
    int32_t unpacked, packed;
    bool deflated, content;
  };
  for (const Case& c : {Case{10, 10, false, true}, Case{10, 9, true, true}, Case{10, 11, false, true},
                        Case{0, 0, false, false}, Case{0, 5, false, false}, Case{-1, 0, false, false}}) {
    ArchiveEntry entry;
    entry.unpackedSize = c.unpacked;
    entry.packedSize = c.packed;
    EXPECT_EQ(entry.IsDeflated(), c.deflated) << c.unpacked << "/" << c.packed;
    EXPECT_EQ(entry.HasContent(), c.content) << c.unpacked << "/" << c.packed;
  }
}

// --- reading good archives -----------------------------------------------------------

TEST(ArchiveReader, ReadsTheEmptyArchive) {
  TempDir dir;
  auto archive = OpenBytes(dir, FromHex("54 4F 4C 56 45 58 64 00 00 00 00 00 00 00"));
  EXPECT_TRUE(archive->valid());
  EXPECT_FALSE(archive->damaged());
  EXPECT_EQ(archive->version(), 100u);
  EXPECT_TRUE(archive->entries().empty());
  EXPECT_EQ(archive->dataStart(), 14u);
  EXPECT_EQ(archive->fileSize(), 14u);
}

TEST(ArchiveReader, ReadsTheFieldsOfAOneFolderArchive) {
  TempDir dir;
  auto archive = OpenBytes(dir, FromHex(kOneFolderArchive));
  ASSERT_TRUE(archive->valid());
  ASSERT_FALSE(archive->damaged());
  ASSERT_EQ(archive->entries().size(), 1u);
  const ArchiveEntry& d = archive->entries()[0];
  EXPECT_EQ(d.name, "d/");
  EXPECT_TRUE(d.IsDirectory());
  EXPECT_EQ(d.time, 1118836800);
  EXPECT_EQ(d.unpackedSize, 0);
  EXPECT_EQ(d.packedSize, 0);
  EXPECT_EQ(d.dataOffset, 0);
  EXPECT_EQ(archive->dataStart(), 34u);
  EXPECT_EQ(archive->EntryAt(0), &archive->entries()[0]);
  EXPECT_EQ(archive->EntryAt(1), nullptr);
  EXPECT_EQ(archive->EntryAt(-1), nullptr);
}

TEST(ArchiveReader, StoredFileDataBeginsRightAfterTheDirectory) {
  TempDir dir;
  const std::string content = "0123456789";
  auto archive = OpenBytes(dir, test::ArchiveBytes({{"a.txt", content}}));
  ASSERT_TRUE(archive->valid());
  ASSERT_EQ(archive->entries().size(), 1u);
  const ArchiveEntry& a = archive->entries()[0];
  EXPECT_EQ(archive->dataStart(), 37u);  // 14 + 2 + 5 + 16
  EXPECT_EQ(archive->fileSize(), 47u);
  EXPECT_EQ(archive->EntryDataPosition(a), 37u);
  EXPECT_TRUE(archive->EntryDataPresent(a));
  EXPECT_FALSE(a.IsDeflated());
}

TEST(ArchiveReader, DataStartCountsEveryRecord) {
  TempDir dir;
  auto archive = OpenBytes(dir, test::ArchiveBytes({{"a.txt", "x"}, {"docs/", ""}}));
  ASSERT_EQ(archive->entries().size(), 2u);
  EXPECT_EQ(archive->dataStart(), 60u);  // 14 + 23 + 23
  EXPECT_EQ(archive->entries()[1].name, "docs/");
}

TEST(ArchiveReader, RecordWithEmptyNameIsAFileEntry) {
  TempDir dir;
  auto archive = OpenBytes(dir, test::ArchiveBytes({{"", "abc"}}));
  ASSERT_FALSE(archive->damaged());
  ASSERT_EQ(archive->entries().size(), 1u);
  EXPECT_EQ(archive->entries()[0].name, "");
  EXPECT_FALSE(archive->entries()[0].IsDirectory());
  EXPECT_EQ(archive->entries()[0].unpackedSize, 3);
  EXPECT_EQ(archive->dataStart(), 32u);
}

TEST(ArchiveReader, ZeroOrNegativeCountMeansNoEntriesAndNoDamage) {
  TempDir dir;
  for (uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    // Records after the header must be ignored, not read.
    auto archive = OpenBytes(dir, test::HeaderBytes(count) + RecordBytes({"a", 0, 1, 1, 0}) + "x");
    EXPECT_TRUE(archive->valid()) << count;
    EXPECT_FALSE(archive->damaged()) << count;
    EXPECT_TRUE(archive->entries().empty()) << count;
    EXPECT_EQ(archive->dataStart(), 14u) << count;
  }
}

TEST(ArchiveReader, OtherVersionsAreReadAndReported) {
  TempDir dir;
  auto archive = OpenBytes(dir, test::ArchiveBytes({{"a", "1"}}, 7));
  EXPECT_TRUE(archive->valid());
  EXPECT_FALSE(archive->damaged());
  EXPECT_EQ(archive->version(), 7u);
  EXPECT_EQ(archive->entries().size(), 1u);
}

// --- files that are not archives ---------------------------------------------------

TEST(ArchiveReader, FilesWithoutTheExactMagicAreNotArchives) {
  TempDir dir;
  const std::string tail = FromHex("64 00 00 00 00 00 00 00");
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"zero-length file", ""},
      {"five bytes of the magic", "TOLVE"},
      {"magic in other case", "TOLVEx" + tail},
      {"magic all lower case", "tolvex" + tail},
      {"another format", "PK\x03\x04 and more bytes"},
  };
  for (const Case& c : cases) {
    auto archive = OpenBytes(dir, c.bytes);
    EXPECT_FALSE(archive->valid()) << c.what;
    EXPECT_FALSE(archive->damaged()) << c.what;
    EXPECT_EQ(archive->version(), 0xFFFFu) << c.what;
    EXPECT_TRUE(archive->entries().empty()) << c.what;
  }
}

TEST(ArchiveReader, MissingFileIsNotAnArchive) {
  TempDir dir;
  auto archive = Archive::NewArchive(platform::OsSystem(), dir.File("absent.tvx"));
  EXPECT_FALSE(archive->valid());
  EXPECT_EQ(archive->version(), 0xFFFFu);
  EXPECT_TRUE(archive->entries().empty());
}

// --- damaged directories ----------------------------------------------------------

TEST(ArchiveReader, DamagedDirectoriesAreValidButHoldNoEntries) {
  TempDir dir;
  const std::string a = RecordBytes({"a.txt", 1, 1, 1, 0});
  const std::string b = RecordBytes({"b.txt", 1, 1, 1, 1});
  std::string nameTooLong = test::HeaderBytes(1);
  test::PutLe(nameTooLong, 40, 2);  // claims 40 name bytes, the file has 20 after it
  nameTooLong += std::string(20, 'n');
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"magic only", "TOLVEX"},
      {"ends inside the version", FromHex("54 4F 4C 56 45 58 64 00")},
      {"ends inside the count", FromHex("54 4F 4C 56 45 58 64 00 00 00 01 00")},
      {"ends in the middle of the last record", test::HeaderBytes(2) + a + b.substr(0, b.size() - 3)},
      {"ends inside the last name length", test::HeaderBytes(2) + a + b.substr(0, 1)},
      {"one record fewer than counted", test::HeaderBytes(3) + a + b + std::string(17, '\0')},
      {"name length running past the end", nameTooLong},
      {"huge count on a small file", test::HeaderBytes(0x7FFFFFFF) + std::string(16, '\0')},
  };
  for (const Case& c : cases) {
    auto archive = OpenBytes(dir, c.bytes);
    EXPECT_TRUE(archive->valid()) << c.what;
    EXPECT_TRUE(archive->damaged()) << c.what;
    EXPECT_TRUE(archive->entries().empty()) << c.what;
  }
}

TEST(ArchiveReader, VersionIsKeptWhenTheFileEndsInsideTheCount) {
  TempDir dir;
  auto archive = OpenBytes(dir, FromHex("54 4F 4C 56 45 58 64 00 00 00 01"));
  EXPECT_TRUE(archive->damaged());
  EXPECT_EQ(archive->version(), 100u);
}

TEST(ArchiveReader, HugeCountIsRefusedBeforeAnythingIsAllocated) {
  TempDir dir;
  // A reserve() for 2^31 entries would abort or take seconds; a refusal is instant.
  const auto begin = std::chrono::steady_clock::now();
  auto archive = OpenBytes(dir, test::HeaderBytes(0x7FFFFFFF) + std::string(16, '\0'));
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_TRUE(archive->damaged());
  EXPECT_EQ(archive->fileSize(), 30u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

TEST(ArchiveReader, CountIsCheckedAgainstTheSmallestPossibleRecords) {
  TempDir dir;
  // Ten 18-byte records with empty names fill 180 bytes exactly.
  std::string records;
  for (int i = 0; i < 10; ++i) records += RecordBytes({"", i, 0, 0, 0});
  auto fits = OpenBytes(dir, test::HeaderBytes(10) + records);
  EXPECT_FALSE(fits->damaged());
  EXPECT_EQ(fits->entries().size(), 10u);
  EXPECT_EQ(fits->dataStart(), fits->fileSize());
  auto oneMore = OpenBytes(dir, test::HeaderBytes(11) + records);
  EXPECT_TRUE(oneMore->damaged());
  EXPECT_TRUE(oneMore->entries().empty());
}

// --- directories larger than one read block ----------------------------------------

TEST(ArchiveReaderLargeDirectory, ReadsTwentyThousandRecordsOfVaryingLength) {
  TempDir dir;
  constexpr int kCount = 20000;
  std::string bytes = test::HeaderBytes(kCount);
  std::vector<std::string> names;
  for (int i = 0; i < kCount; ++i) {
    names.push_back("folder/" + std::string(static_cast<size_t>(i % 53), static_cast<char>('a' + i % 26)) + std::to_string(i));
    bytes += RecordBytes({names.back(), i, i % 7, i % 7, i});
  }
  const size_t dataStart = bytes.size();
  ASSERT_GT(dataStart, 3u * 256 * 1024);  // several blocks
  bytes += std::string(kCount + 10, 'D');
  auto archive = OpenBytes(dir, bytes);
  ASSERT_TRUE(archive->valid());
  ASSERT_FALSE(archive->damaged());
  ASSERT_EQ(archive->entries().size(), static_cast<size_t>(kCount));
  EXPECT_EQ(archive->dataStart(), dataStart);
  for (int i = 0; i < kCount; ++i) {
    const ArchiveEntry& e = archive->entries()[static_cast<size_t>(i)];
    ASSERT_EQ(e.name, names[static_cast<size_t>(i)]) << i;
    ASSERT_EQ(e.time, i);
    ASSERT_EQ(e.unpackedSize, i % 7);
    ASSERT_EQ(e.dataOffset, i);
  }
}

TEST(ArchiveReaderLargeDirectory, RecordSplitAtAnyByteByTheBlockEndIsReadWhole) {
  TempDir dir;
  // 26-byte records after one lead record of 18..43 bytes: across the cases the
  // first block ends at every byte of a record, including inside its length.
  constexpr int kRecords = 11000;  // 286,000 bytes: past the 256 KiB block
  for (size_t lead = 0; lead < 26; ++lead) {
    std::string bytes = test::HeaderBytes(kRecords + 1) + RecordBytes({std::string(lead, 'L'), 0, 0, 0, 0});
    for (int i = 0; i < kRecords; ++i) {
      char name[9];
      std::snprintf(name, sizeof name, "n%07d", i);
      bytes += RecordBytes({name, i, 0, 0, 0});
    }
    auto archive = OpenBytes(dir, bytes);
    ASSERT_FALSE(archive->damaged()) << lead;
    ASSERT_EQ(archive->entries().size(), static_cast<size_t>(kRecords + 1)) << lead;
    EXPECT_EQ(archive->dataStart(), bytes.size()) << lead;
    for (int i = 0; i < kRecords; ++i) {
      const ArchiveEntry& e = archive->entries()[static_cast<size_t>(i) + 1];
      char name[9];
      std::snprintf(name, sizeof name, "n%07d", i);
      ASSERT_EQ(e.name, name) << "lead " << lead;
      ASSERT_EQ(e.time, i) << "lead " << lead;
    }
  }
}

TEST(ArchiveReaderLargeDirectory, LargeDirectoryCutShortIsDamaged) {
  TempDir dir;
  std::string bytes = test::HeaderBytes(15000);
  for (int i = 0; i < 15000; ++i) bytes += RecordBytes({"entry" + std::to_string(i), 0, 0, 0, 0});
  bytes.resize(bytes.size() - 5);
  auto archive = OpenBytes(dir, bytes);
  EXPECT_TRUE(archive->valid());
  EXPECT_TRUE(archive->damaged());
  EXPECT_TRUE(archive->entries().empty());
}

}  // namespace
}  // namespace tvx
