// The archive's bytes on disk: directory records, and what the reader makes of
// good, foreign and damaged files. Archives are written byte by byte here, so
// the reader is held to the layout rather than to the writer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "packU/archive.h"
#include "packU/archive_entry.h"
#include "packU/format.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using namespace test;

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

// What the reader made of a file: foreign, damaged or whole, its version and
// size, and for a whole archive where its data begins; then each entry.
std::string Reading(const Archive& a) {
  std::string text = !a.valid() ? "foreign" : a.damaged() ? "damaged" : "whole";
  text += " v" + std::to_string(a.version()) + " size " + std::to_string(a.fileSize());
  if (a.valid() && !a.damaged()) text += " data@" + std::to_string(a.dataStart());
  for (const ArchiveEntry& e : a.entries()) text += " | " + RecordText(e);
  return text;
}

// --- records ---------------------------------------------------------------------

// A record is its name's length, the name, then four little-endian numbers;
// parsed back it gives every field, and cut anywhere it is refused.
TEST(ArchiveRecord, RecordsRoundTripEveryFieldAndEveryTruncatedOneIsRefused) {
  std::string folder;
  AppendRecord({"d/", 1118836800, 0, 0, 0}, folder);
  EXPECT_EQ(Hex(folder), Hex(FromHex(kOneFolderArchive).substr(kHeaderSize)));
  const std::vector<ArchiveEntry> cases = {
      {"a.txt", 1118836800, 10, 10, 0}, {"docs/", 0, 0, 0, 0}, {"", -1, -2, -3, -4},
      {"x/y/z.bin", INT32_MIN, INT32_MAX, 0x01020304, -0x7F000001}, {std::string(300, 'n'), 0x12345678, 5, 4, 3},
  };
  for (const ArchiveEntry& original : cases) {
    std::string bytes = "junk";  // the record need not start the buffer
    AppendRecord(original, bytes);
    EXPECT_EQ(original.RecordSize(), bytes.size() - 4) << original.name;
    bytes += "tail";
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t pos = 4;
    ArchiveEntry parsed;
    ASSERT_TRUE(ParseRecord(data, bytes.size(), pos, parsed));
    EXPECT_EQ(pos, bytes.size() - 4) << original.name;
    EXPECT_EQ(RecordText(parsed), RecordText(original));
    for (size_t size = 4; size < bytes.size() - 4; ++size) {
      pos = 4;
      EXPECT_FALSE(ParseRecord(data, size, pos, parsed)) << original.name << " cut at " << size;
    }
  }
}

TEST(ArchiveRecord, KindIsToldByTheTrailingSlashAndTheSizesOnly) {
  const auto kind = [](const char* name, int32_t unpacked, int32_t packed) {
    const ArchiveEntry e{name, 0, unpacked, packed, 0};
    return std::string(e.IsDirectory() ? " directory" : "") + (e.IsDeflated() ? " deflated" : "") +
           (e.HasContent() ? " content" : "");
  };
  EXPECT_EQ(kind("d/", 10, 10) + " |" + kind("a/b/", 10, 9) + " |" + kind("/", 10, 11) + " |" + kind("", 0, 0) + " |" +
                kind("d", 0, 5) + " |" + kind("a/b", -1, 0) + " |" + kind("d\\", 10, 9),
            " directory content | directory deflated content | directory content | | | | deflated content");
}

// --- reading whole, foreign and damaged files ----------------------------------------

TEST(ArchiveReader, ReadsWhatTheBytesSay) {
  TempDir dir;
  const std::string tail = FromHex("64 00 00 00 00 00 00 00");
  const std::string a = RecordBytes({"a.txt", 1, 1, 1, 0});
  const std::string b = RecordBytes({"b.txt", 1, 1, 1, 1});
  std::string nameTooLong = test::HeaderBytes(1);
  test::PutLe(nameTooLong, 40, 2);  // claims 40 name bytes, the file has 20 after it
  nameTooLong += std::string(20, 'n');
  // Every record takes 18 bytes at least: three with empty names fill 54 exactly.
  const std::string threeSmallest =
      RecordBytes({"", 0, 0, 0, 0}) + RecordBytes({"", 1, 0, 0, 0}) + RecordBytes({"", 2, 0, 0, 0});
  std::string largeCutShort = test::HeaderBytes(15000);  // a directory of several read blocks
  for (int i = 0; i < 15000; ++i) largeCutShort += RecordBytes({"entry" + std::to_string(i), 0, 0, 0, 0});
  largeCutShort.resize(largeCutShort.size() - 5);
  // Records after a count of zero or less are ignored, not read.
  const std::string ignored = RecordBytes({"a", 0, 1, 1, 0}) + "x";
  // What the file is, its bytes, what the reader makes of them.
  const std::vector<std::tuple<const char*, std::string, std::string>> cases = {
      {"the empty archive", FromHex("54 4F 4C 56 45 58 64 00 00 00 00 00 00 00"), "whole v100 size 14 data@14"},
      {"one folder", FromHex(kOneFolderArchive), "whole v100 size 34 data@34 | d/ 1118836800 0/0@0"},
      {"stored data right after the directory", test::ArchiveBytes({{"a.txt", "0123456789"}}),
       "whole v100 size 47 data@37 | a.txt 1600000000 10/10@0"},  // 14 + 2 + 5 + 16
      {"data start counts every record", test::ArchiveBytes({{"a.txt", "x"}, {"docs/", ""}}),
       "whole v100 size 61 data@60 | a.txt 1600000000 1/1@0 | docs/ 1600000000 0/0@1"},
      {"a record with an empty name is a file", test::ArchiveBytes({{"", "abc"}}),
       "whole v100 size 35 data@32 |  1600000000 3/3@0"},
      {"another version", test::ArchiveBytes({{"a", "1"}}, 7), "whole v7 size 34 data@33 | a 1600000000 1/1@0"},
      {"count zero", test::HeaderBytes(0) + ignored, "whole v100 size 34 data@14"},
      {"negative count", test::HeaderBytes(0x80000000u) + ignored, "whole v100 size 34 data@14"},
      {"count -1", test::HeaderBytes(0xFFFFFFFFu) + ignored, "whole v100 size 34 data@14"},
      {"smallest records filling the file", test::HeaderBytes(3) + threeSmallest,
       "whole v100 size 68 data@68 |  0 0/0@0 |  1 0/0@0 |  2 0/0@0"},
      {"zero-length file", "", "foreign v65535 size 0"}, {"five bytes of the magic", "TOLVE", "foreign v65535 size 5"},
      {"magic in other case", "TOLVEx" + tail, "foreign v65535 size 14"},
      {"magic all lower case", "tolvex" + tail, "foreign v65535 size 14"},
      {"another format", "PK\x03\x04 and more bytes", "foreign v65535 size 19"},
      {"magic only", "TOLVEX", "damaged v0 size 6"},
      {"ends inside the version", FromHex("54 4F 4C 56 45 58 64 00"), "damaged v0 size 8"},
      {"ends inside the count, the version kept", FromHex("54 4F 4C 56 45 58 64 00 00 00 01"), "damaged v100 size 11"},
      {"ends inside the count", FromHex("54 4F 4C 56 45 58 64 00 00 00 01 00"), "damaged v100 size 12"},
      {"ends in the middle of the last record", test::HeaderBytes(2) + a + b.substr(0, b.size() - 3),
       "damaged v100 size 57"},
      {"ends inside the last name length", test::HeaderBytes(2) + a + b.substr(0, 1), "damaged v100 size 38"},
      {"one record fewer than counted", test::HeaderBytes(3) + a + b + std::string(17, '\0'), "damaged v100 size 77"},
      {"name length running past the end", nameTooLong, "damaged v100 size 36"},
      {"one more record than the smallest fit", test::HeaderBytes(4) + threeSmallest, "damaged v100 size 68"},
      // A reserve() for 2^31 entries would abort or take seconds; a refusal is instant.
      {"huge count on a small file", test::HeaderBytes(0x7FFFFFFF) + std::string(16, '\0'), "damaged v100 size 30"},
      {"large directory cut short", largeCutShort, "damaged v100 size " + std::to_string(largeCutShort.size())},
  };
  for (const auto& [what, bytes, reading] : cases) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Reading(*OpenBytes(dir, bytes)), reading) << what;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << what;
  }
  EXPECT_EQ(Reading(*Archive::NewArchive(platform::OsSystem(), dir.File("absent.tvx"))), "foreign v65535 size 0");
}

// --- directories larger than one read block ----------------------------------------

// Each entry is found by its index, and its data after the directory.
TEST(ArchiveReaderLargeDirectory, RecordSplitAtAnyByteByTheBlockEndIsReadWhole) {
  TempDir dir;
  // 26-byte records after one lead record of 18..43 bytes: across the cases
  // each block ends at every byte of a record, including inside its length.
  constexpr int kRecords = 31000;  // 806,000 bytes: past three 256 KiB blocks
  for (size_t lead = 0; lead < 26; ++lead) {
    std::vector<RawRecord> records = {{std::string(lead, 'L'), 0, 0, 0, 0}};
    std::string bytes = test::HeaderBytes(kRecords + 1) + RecordBytes(records.back());
    for (int i = 0; i < kRecords; ++i) {
      records.push_back({std::to_string(10000000 + i), i, i % 7, i % 7, i});  // eight digits
      bytes += RecordBytes(records.back());
    }
    const size_t dataStart = bytes.size();
    bytes += std::string(kRecords + 6, 'D');
    auto archive = OpenBytes(dir, bytes);
    ASSERT_EQ(archive->entries().size(), records.size()) << "lead " << lead << ": " << Reading(*archive);
    EXPECT_EQ(archive->dataStart(), dataStart) << lead;
    for (size_t i = 0; i < records.size(); ++i) {
      ASSERT_EQ(RecordText(archive->entries()[i]), RecordText(records[i])) << lead;
    }
    const ArchiveEntry& last = archive->entries().back();
    EXPECT_EQ(archive->EntryAt(kRecords), &last);
    EXPECT_TRUE(archive->EntryAt(kRecords + 1) == nullptr && archive->EntryAt(-1) == nullptr);
    EXPECT_EQ(archive->EntryDataPosition(last), dataStart + kRecords - 1);
    EXPECT_TRUE(archive->EntryDataPresent(last));
  }
}

}  // namespace
}  // namespace tvx
