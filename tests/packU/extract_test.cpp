// Extracting, testing and skipping entries of archives written byte by byte:
// good stored and deflated entries, and every way an entry's bytes can be
// wrong. A failed extraction must never leave a file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "packU/archive.h"
#include "packU/extract.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx {
namespace {

using test::RawEntry;
using test::TempDir;

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ExtractTest : public ::testing::Test {
 protected:
  // Writes the archive into the scratch folder and opens it.
  Archive& Open(const std::string& bytes) {
    archive_.reset();  // Windows would refuse to replace a file still open
    const std::string path = dir_.File("test.tvx");
    EXPECT_TRUE(test::WriteFileBytes(path, bytes));
    archive_ = Archive::NewArchive(faults_, path);  // extraction goes through it too
    EXPECT_TRUE(archive_->valid());
    EXPECT_FALSE(archive_->damaged());
    return *archive_;
  }
  Archive& Open(const std::vector<RawEntry>& entries) { return Open(test::ArchiveBytes(entries)); }

  const ArchiveEntry& Entry(size_t index) { return archive_->entries().at(index); }
  std::string Target(const std::string& name) const { return dir_.File(name); }
  std::string Read(const std::string& name) const { return test::ReadFileBytes(dir_.File(name)); }
  bool Exists(const std::string& name) const { return test::PathExists(dir_.File(name)); }
  // Only the archive (and what a test names) may be in the folder.
  std::vector<std::string> Files() const { return Listing(dir_.path()); }

  test::FaultySystem faults_;  // fails nothing until a test gives it a plan
  TempDir dir_;
  std::unique_ptr<Archive> archive_;
};

// --- good entries -----------------------------------------------------------------

TEST_F(ExtractTest, StoredAndDeflatedEntriesExtractByteForByte) {
  const std::string stored = test::NoiseBytes(1000);
  const std::string text = test::TextLikeBytes(50000);
  const std::string big = test::TextLikeBytes(3 * 1024 * 1024 + 17);  // more than one 1 MiB piece
  const std::string bigNoise = test::NoiseBytes(2 * 1024 * 1024 + 5);
  Archive& archive = Open({{"s.bin", stored},
                           {"d.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size())},
                           {"big.txt", test::ZlibCompress(big), static_cast<int32_t>(big.size())},
                           {"noise.bin", bigNoise}});
  ASSERT_TRUE(Entry(1).IsDeflated());
  ASSERT_TRUE(Entry(2).IsDeflated());
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("s.bin")), Status::kOk);
  EXPECT_EQ(ExtractEntry(archive, Entry(1), Target("d.txt")), Status::kOk);
  EXPECT_EQ(ExtractEntry(archive, Entry(2), Target("big.txt")), Status::kOk);
  EXPECT_EQ(ExtractEntry(archive, Entry(3), Target("noise.bin")), Status::kOk);
  EXPECT_TRUE(Read("s.bin") == stored);
  EXPECT_TRUE(Read("d.txt") == text);
  EXPECT_TRUE(Read("big.txt") == big);
  EXPECT_TRUE(Read("noise.bin") == bigNoise);
  EXPECT_EQ(Files(), (std::vector<std::string>{"big.txt", "d.txt", "noise.bin", "s.bin", "test.tvx"}));
}

TEST_F(ExtractTest, StoredEntryWithSpareBytesGivesOnlyItsContent) {
  Archive& archive = Open({{"a", "abcdef", 4}, {"b", "XY"}});
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("a")), Status::kOk);
  EXPECT_EQ(Read("a"), "abcd");
  EXPECT_EQ(ExtractEntry(archive, Entry(1), Target("b")), Status::kOk);
  EXPECT_EQ(Read("b"), "XY");
}

TEST_F(ExtractTest, ZeroUnpackedSizeGivesAnEmptyFileWhateverIsPacked) {
  Archive& archive = Open({{"empty", ""}, {"claims-bytes", "abcde", 0}});
  ASSERT_TRUE(test::WriteFileBytes(Target("claims-bytes"), "old content"));
  for (size_t i = 0; i < 2; ++i) {
    const std::string name = Entry(i).name;
    EXPECT_EQ(ExtractEntry(archive, Entry(i), Target(name)), Status::kOk) << name;
    EXPECT_TRUE(test::PathExists(Target(name))) << name;
    EXPECT_EQ(Read(name), "") << name;
    EXPECT_EQ(TestEntry(archive, Entry(i)), Status::kOk) << name;
  }
}

TEST_F(ExtractTest, TrailingBytesAfterACompleteZlibStreamAreIgnored) {
  const std::string text = test::TextLikeBytes(4000);
  Archive& archive = Open({{"t.txt", test::ZlibCompress(text) + "trailing junk", static_cast<int32_t>(text.size())}});
  ASSERT_TRUE(Entry(0).IsDeflated());
  EXPECT_EQ(TestEntry(archive, Entry(0)), Status::kOk);
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("t.txt")), Status::kOk);
  EXPECT_TRUE(Read("t.txt") == text);
}

// --- folders ------------------------------------------------------------------------

TEST_F(ExtractTest, FolderEntryCreatesTheFolderAndNeverAFile) {
  Archive& archive = Open({{"d/", ""}});
  const std::string target = Target("d");  // no trailing separator
  EXPECT_EQ(ExtractEntry(archive, Entry(0), target), Status::kOk);
  EXPECT_TRUE(platform::OsSystem().DirectoryExists(target));
  EXPECT_FALSE(platform::OsSystem().FileExists(target));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), target), Status::kOk);  // again: already there
  EXPECT_EQ(ExtractEntry(archive, Entry(0), target + test::NativeSeparator()), Status::kOk);
  EXPECT_TRUE(platform::OsSystem().DirectoryExists(target));
  EXPECT_EQ(Files(), (std::vector<std::string>{"d", "test.tvx"}));
}

TEST_F(ExtractTest, FolderEntryInAMissingFolderFails) {
  Archive& archive = Open({{"d/", ""}});
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("missing") + test::NativeSeparator() + "d"),
            Status::kCreateFailed);
  EXPECT_FALSE(Exists("missing"));
}

TEST_F(ExtractTest, FileEntryDoesNotReplaceAFolder) {
  Archive& archive = Open({{"x", "content"}});
  ASSERT_TRUE(platform::OsSystem().MakeDirectory(Target("x")));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("x")), Status::kCreateFailed);
  EXPECT_TRUE(platform::OsSystem().DirectoryExists(Target("x")));
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx", "x"}));
}

TEST_F(ExtractTest, FileTargetInAMissingFolderFails) {
  Archive& archive = Open({{"a.txt", "content"}});
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("missing") + test::NativeSeparator() + "a.txt"),
            Status::kCreateFailed);
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"}));
}

// --- damaged entries ----------------------------------------------------------------

TEST_F(ExtractTest, EveryFlippedByteOfADeflatedEntryIsFound) {
  const std::string text = test::TextLikeBytes(3000);
  const std::string packed = test::ZlibCompress(text);
  ASSERT_LT(packed.size(), text.size());
  for (size_t at = 0; at < packed.size(); ++at) {
    std::string bad = packed;
    bad[at] = static_cast<char>(bad[at] ^ 0xFF);
    Archive& archive = Open({{"t.txt", bad, static_cast<int32_t>(text.size())}});
    ASSERT_EQ(TestEntry(archive, Entry(0)), Status::kBadData) << "byte " << at;
  }
}

TEST_F(ExtractTest, DamagedEntryLeavesNoFileBehind) {
  const std::string text = test::TextLikeBytes(200000);
  std::string packed = test::ZlibCompress(text);
  packed[packed.size() / 2] = static_cast<char>(packed[packed.size() / 2] ^ 0x55);
  Archive& archive = Open({{"t.txt", packed, static_cast<int32_t>(text.size())}});
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("t.txt")), Status::kBadData);
  EXPECT_FALSE(Exists("t.txt"));
  EXPECT_FALSE(Exists("t.txt.tvxpart"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"}));
}

// A new name is created in place, and a failure removes it again: nothing
// is left, neither under the name nor beside it.
TEST_F(ExtractTest, FailedWriteToANewNameLeavesNothing) {
  const std::string text = test::TextLikeBytes(300000);
  Archive& archive = Open({{"t.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size())}});
  test::FaultPlan plan;
  plan.failWriteAt = 1;
  faults_.SetPlan(plan);
  const Status status = ExtractEntry(archive, Entry(0), Target("t.txt"));
  faults_.ClearPlan();
  EXPECT_EQ(status, Status::kWriteFailed);
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"}));
}

// A failed read of the archive is a disk error, not damage: the host says
// "read error", and the user need not think the archive broken.
TEST_F(ExtractTest, FailedReadOfTheArchiveIsAReadErrorNotBadData) {
  const std::string text = test::TextLikeBytes(300000);
  Archive& archive = Open({{"t.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size())},
                           {"s.txt", "stored"}});
  test::FaultPlan plan;
  plan.failReadAt = 1;
  for (size_t index : {0, 1}) {
    faults_.SetPlan(plan);
    EXPECT_EQ(TestEntry(archive, Entry(index)), Status::kReadFailed) << index;
    faults_.SetPlan(plan);
    EXPECT_EQ(ExtractEntry(archive, Entry(index), Target("out")), Status::kReadFailed) << index;
    faults_.ClearPlan();
    EXPECT_FALSE(Exists("out")) << index;
  }
  EXPECT_EQ(TestEntry(archive, Entry(0)), Status::kOk);
}

TEST_F(ExtractTest, ExistingFileSurvivesAFailedExtractionUnchanged) {
  const std::string text = test::TextLikeBytes(5000);
  std::string packed = test::ZlibCompress(text);
  packed[packed.size() - 1] = static_cast<char>(packed[packed.size() - 1] ^ 1);  // the checksum
  Archive& archive = Open({{"t.txt", packed, static_cast<int32_t>(text.size())}});
  ASSERT_TRUE(test::WriteFileBytes(Target("t.txt"), "the user's own file"));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("t.txt")), Status::kBadData);
  EXPECT_EQ(Read("t.txt"), "the user's own file");
  EXPECT_EQ(Files(), (std::vector<std::string>{"t.txt", "test.tvx"}));
}

TEST_F(ExtractTest, LeftoverPartialFileDoesNotBlockExtraction) {
  Archive& archive = Open({{"a.txt", "fresh"}});
  ASSERT_TRUE(test::WriteFileBytes(Target("a.txt"), "old"));  // replaced through a partial file
  ASSERT_TRUE(test::WriteFileBytes(Target("a.txt.tvxpart"), "somebody else's"));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("a.txt")), Status::kOk);
  EXPECT_EQ(Read("a.txt"), "fresh");
  EXPECT_EQ(Read("a.txt.tvxpart"), "somebody else's");
}

// When every partial name is taken, none of those files may be emptied.
TEST_F(ExtractTest, ExtractionNeverUsesAFileThatAlreadyExistsAsItsPartialFile) {
  Archive& archive = Open({{"a.txt", "fresh"}});
  const std::string target = Target("a.txt");
  ASSERT_TRUE(test::WriteFileBytes(target, "old"));
  ASSERT_TRUE(test::WriteFileBytes(target + ".tvxpart", "mine"));
  for (int n = 2; n < 1000; ++n) ASSERT_TRUE(test::WriteFileBytes(target + ".tvxpart" + std::to_string(n), "mine"));
  const Status status = ExtractEntry(archive, Entry(0), target);
  EXPECT_TRUE(status == Status::kOk || status == Status::kCreateFailed);
  EXPECT_EQ(test::ReadFileBytes(target + ".tvxpart"), "mine");
  for (int n = 2; n < 1000; ++n) {
    ASSERT_EQ(test::ReadFileBytes(target + ".tvxpart" + std::to_string(n)), "mine") << n;
  }
}

TEST_F(ExtractTest, WrongSizesAndMissingBytesAreBadData) {
  const std::string text = test::TextLikeBytes(100);
  const std::string z = test::ZlibCompress(text);
  const auto size = static_cast<int32_t>(text.size());
  struct Case {
    const char* what;
    std::string bytes;  // the whole archive
  };
  std::string storedPastEnd = test::ArchiveBytes({{"s", std::string(50, 's')}});
  storedPastEnd.resize(storedPastEnd.size() - 1);
  std::string deflatedPastEnd = test::ArchiveBytes({{"d", z, size}});
  deflatedPastEnd.resize(deflatedPastEnd.size() - 6);
  const std::vector<Case> cases = {
      {"stored entry running past the end", storedPastEnd},
      {"deflated entry running past the end", deflatedPastEnd},
      {"stream inflates to more than unpackedSize", test::ArchiveBytes({{"d", z, size - 1}})},
      {"stream inflates to fewer than unpackedSize", test::ArchiveBytes({{"d", z, size + 1}})},
      {"stream much shorter than unpackedSize", test::ArchiveBytes({{"d", z, 1 << 22}})},
      {"not a zlib stream", test::ArchiveBytes({{"d", std::string(30, 'x'), 500}})},
      {"zlib stream cut before its checksum", test::ArchiveBytes({{"d", z.substr(0, z.size() - 4), size}})},
  };
  for (const Case& c : cases) {
    Archive& archive = Open(c.bytes);
    ASSERT_EQ(archive.entries().size(), 1u) << c.what;
    EXPECT_EQ(TestEntry(archive, Entry(0)), Status::kBadData) << c.what;
    EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("out")), Status::kBadData) << c.what;
    EXPECT_FALSE(Exists("out")) << c.what;
    EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"})) << c.what;
  }
}

TEST_F(ExtractTest, TestEntryAgreesWithExtractEntryAndWritesNothing) {
  const std::string text = test::TextLikeBytes(20000);
  std::string bad = test::ZlibCompress(text);
  bad[10] = static_cast<char>(bad[10] ^ 0x20);
  Archive& archive = Open({{"good.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size())},
                           {"bad.txt", bad, static_cast<int32_t>(text.size())},
                           {"stored", "plain bytes"},
                           {"folder/", ""},
                           {"beyond", "xy"},
                           {"claims-bytes/", "zz", 5}});
  // This entry claims bytes beyond the file's end.
  std::vector<ArchiveEntry> entries = archive.entries();
  entries[4].packedSize = 1000;
  entries[4].unpackedSize = 1000;
  std::vector<Status> tested;
  for (const ArchiveEntry& e : entries) tested.push_back(TestEntry(archive, e));
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"}));
  // A folder has no content to test, whatever its record claims.
  EXPECT_EQ(tested, (std::vector<Status>{Status::kOk, Status::kBadData, Status::kOk, Status::kOk,
                                         Status::kBadData, Status::kOk}));
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(ExtractEntry(archive, entries[i], Target("out" + std::to_string(i))), tested[i]) << i;
  }
}

// --- order ----------------------------------------------------------------------------

TEST_F(ExtractTest, EntriesCanBeProcessedInAnyOrderAndTwice) {
  const std::string a = test::TextLikeBytes(70000);
  const std::string b = test::NoiseBytes(3000);
  const std::string c = test::TextLikeBytes(9000) + "c";
  Archive& archive = Open({{"a", test::ZlibCompress(a), static_cast<int32_t>(a.size())},
                           {"b", b},
                           {"c", test::ZlibCompress(c), static_cast<int32_t>(c.size())}});
  const std::string expected[] = {a, b, c};
  for (size_t i : {2u, 0u, 1u, 1u, 2u, 0u}) {
    // Reading another entry first leaves the archive at that entry's bytes.
    EXPECT_EQ(TestEntry(archive, Entry((i + 1) % 3)), Status::kOk) << i;
    EXPECT_EQ(TestEntry(archive, Entry(i)), Status::kOk) << i;
    EXPECT_EQ(ExtractEntry(archive, Entry(i), Target("out")), Status::kOk) << i;
    EXPECT_TRUE(Read("out") == expected[i]) << i;
  }
}

// Skipping reads and writes nothing, and whatever was skipped, every later
// extraction still finds its own bytes.
TEST_F(ExtractTest, SkippedEntriesLeaveLaterExtractionsIntact) {
  Archive& archive = Open({{"a", "12345"}, {"b", "6789"}, {"c/", ""}});
  for (size_t i = 0; i < 3; ++i) SkipEntry(archive, Entry(i));
  EXPECT_EQ(Files(), (std::vector<std::string>{"test.tvx"}));
  SkipEntry(archive, Entry(0));
  EXPECT_EQ(ExtractEntry(archive, Entry(1), Target("b")), Status::kOk);
  SkipEntry(archive, Entry(1));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), Target("a")), Status::kOk);
  EXPECT_EQ(Read("a"), "12345");
  EXPECT_EQ(Read("b"), "6789");
}

}  // namespace
}  // namespace tvx
