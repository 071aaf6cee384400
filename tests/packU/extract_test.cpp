// Extracting, testing and skipping entries of archives written byte by byte:
// good stored and deflated entries, and every way an entry's bytes can be
// wrong. A failed extraction must never leave a file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "packU/archive.h"
#include "packU/extract.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx {
namespace {

using namespace test;

class ExtractTest : public ::testing::Test {
 protected:
  // Writes the archive into the scratch folder and opens it.
  Archive& Open(const std::string& bytes) {
    archive_.reset();  // Windows would refuse to replace a file still open
    const std::string path = dir_.File("test.tvx");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    archive_ = Archive::NewArchive(faults_, path);  // extraction goes through it too
    EXPECT_TRUE(archive_->valid() && !archive_->damaged());
    return *archive_;
  }
  Archive& Open(const std::vector<RawEntry>& entries) { return Open(ArchiveBytes(entries)); }

  const ArchiveEntry& Entry(size_t index) { return archive_->entries().at(index); }
  std::string Target(const std::string& name) const { return dir_.File(name); }
  std::string Read(const std::string& name) const { return ReadFileBytes(dir_.File(name)); }
  // The names in the folder, sorted: only the archive and what a test names may be there.
  std::string Files() const {
    std::string text;
    for (const std::string& name : FolderListing(dir_.path())) text += (text.empty() ? "" : " ") + name;
    return text;
  }

  test::FaultySystem faults_;  // fails nothing until a test gives it a plan
  TempDir dir_;
  std::unique_ptr<Archive> archive_;
};

// --- good entries -----------------------------------------------------------------

// Skipping reads and writes nothing, and whatever was skipped or read before,
// every extraction finds its own bytes.
TEST_F(ExtractTest, GoodEntriesExtractByteForByteInAnyOrderAndTwice) {
  const std::string stored = NoiseBytes(1000), text = TextLikeBytes(50000);
  const std::string big = TextLikeBytes(3 * 1024 * 1024 + 17);  // more than one 1 MiB piece
  const std::string bigNoise = NoiseBytes(2 * 1024 * 1024 + 5), shortText = TextLikeBytes(4000);
  const std::vector<std::pair<RawEntry, std::string>> cases = {
      {Stored("s.bin", stored), stored}, {Deflated("d.txt", text), text}, {Deflated("big.txt", big), big},
      {Stored("noise.bin", bigNoise), bigNoise},
      {{"spare", "abcdef", 4}, "abcd"},    // a stored entry with spare bytes gives only its content
      {{"empty", ""}, ""},
      {{"claims-bytes", "abcde", 0}, ""},  // no unpacked size: an empty file, whatever is packed
      {{"trailing", ZlibCompress(shortText) + "trailing junk", static_cast<int32_t>(shortText.size())},
       shortText},  // bytes after a complete zlib stream are ignored
  };
  std::vector<RawEntry> entries;
  for (const auto& c : cases) entries.push_back(c.first);
  Archive& archive = Open(entries);
  ASSERT_TRUE(Entry(1).IsDeflated() && Entry(2).IsDeflated() && Entry(7).IsDeflated());
  ASSERT_TRUE(WriteFileBytes(Target("claims-bytes"), "old content"));
  for (const ArchiveEntry& e : archive.entries()) SkipEntry(archive, e);
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string& name = cases[i].first.name;
    EXPECT_EQ((std::vector<Status>{TestEntry(archive, Entry(i)), ExtractEntry(archive, Entry(i), Target(name))}),
              (std::vector<Status>{Status::kOk, Status::kOk})) << name;
    EXPECT_TRUE(Read(name) == cases[i].second) << name;
  }
  EXPECT_EQ(Files(), "big.txt claims-bytes d.txt empty noise.bin s.bin spare test.tvx trailing");
  for (size_t i : {7u, 0u, 2u, 2u, 5u, 1u, 4u, 6u, 3u, 0u}) {
    const size_t next = (i + 1) % cases.size();
    SkipEntry(archive, Entry(next));
    EXPECT_EQ((std::vector<Status>{TestEntry(archive, Entry(next)), TestEntry(archive, Entry(i)),
                                   ExtractEntry(archive, Entry(i), Target("out"))}),
              std::vector<Status>(3, Status::kOk)) << i;
    EXPECT_TRUE(Read("out") == cases[i].second) << i;
  }
}

// --- folders ------------------------------------------------------------------------

// A folder entry makes a folder (and has no content to test, whatever its
// record claims); nothing is made where a target cannot be, and a file entry
// does not replace a folder.
TEST_F(ExtractTest, FolderEntryCreatesTheFolderAndNothingIsCreatedWhereTheTargetCannotBe) {
  Archive& archive = Open({{"d/", ""}, {"claims/", "zz", 5}, {"x", "content"}});
  const std::string missing = Target("missing") + NativeSeparator(), target = Target("d");  // no trailing separator
  // Braced: in this order. Into a missing folder; the folder, again (already
  // there), with a trailing separator; the folder that claims bytes, tested
  // and extracted; a file onto that folder.
  const std::vector<Status> answers = {
      ExtractEntry(archive, Entry(0), missing + "d"),  ExtractEntry(archive, Entry(2), missing + "x"),
      ExtractEntry(archive, Entry(0), target),         ExtractEntry(archive, Entry(0), target),
      ExtractEntry(archive, Entry(0), target + NativeSeparator()), TestEntry(archive, Entry(1)),
      ExtractEntry(archive, Entry(1), Target("x")),    ExtractEntry(archive, Entry(2), Target("x"))};
  EXPECT_EQ(answers, (std::vector<Status>{Status::kCreateFailed, Status::kCreateFailed, Status::kOk, Status::kOk,
                                          Status::kOk, Status::kOk, Status::kOk, Status::kCreateFailed}));
  platform::System& os = platform::OsSystem();
  EXPECT_TRUE(os.DirectoryExists(target) && os.DirectoryExists(Target("x")));
  EXPECT_EQ(Files(), "d test.tvx x");
}

// --- damaged entries ----------------------------------------------------------------

// Testing and extracting agree, and a failed extraction leaves nothing behind:
// neither a new file nor a partial one, and an existing file stays as it was.
TEST_F(ExtractTest, WrongSizesAndMissingOrDamagedBytesAreBadDataAndLeaveNothing) {
  const std::string text = TextLikeBytes(100);
  const std::string z = ZlibCompress(text);
  const auto size = static_cast<int32_t>(text.size());
  const auto flipped = [](size_t textBytes, size_t at) {
    RawEntry entry = Deflated("d", TextLikeBytes(textBytes));
    entry.data[at ? at : entry.data.size() / 2] ^= 0x55;
    return ArchiveBytes({entry});
  };
  const auto cut = [](std::string bytes, size_t by) { return bytes.substr(0, bytes.size() - by); };
  std::vector<std::pair<std::string, std::string>> cases = {  // what is wrong, the whole archive
      {"stored entry running past the end", cut(ArchiveBytes({{"s", std::string(50, 's')}}), 1)},
      {"deflated entry running past the end", cut(ArchiveBytes({{"d", z, size}}), 6)},
      {"stream inflates to more than unpackedSize", ArchiveBytes({{"d", z, size - 1}})},
      {"stream inflates to fewer than unpackedSize", ArchiveBytes({{"d", z, size + 1}})},
      {"stream much shorter than unpackedSize", ArchiveBytes({{"d", z, 1 << 22}})},
      {"not a zlib stream", ArchiveBytes({{"d", std::string(30, 'x'), 500}})},
      {"zlib stream cut before its checksum", ArchiveBytes({{"d", z.substr(0, z.size() - 4), size}})},
      {"wrong checksum, found after every byte is out", ArchiveBytes({DamagedDeflated("d", text)})},
      {"byte flipped early in the stream", flipped(20000, 10)},
      {"byte flipped in the middle of a long stream", flipped(200000, 0)},
  };
  // Every byte of a deflated entry flipped (a stored entry would pass).
  const RawEntry good = Deflated("d", TextLikeBytes(3000));
  for (size_t at = 0; at < good.data.size(); ++at) {
    RawEntry bad = good;
    bad.data[at] = static_cast<char>(bad.data[at] ^ 0xFF);
    cases.push_back({"every byte flipped", ArchiveBytes({bad})});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first + " " + std::to_string(i));
    Archive& archive = Open(cases[i].second);
    ASSERT_EQ(archive.entries().size(), 1u);
    using Seen = std::tuple<Status, Status, std::string>;  // braced: in this order
    EXPECT_EQ((Seen{TestEntry(archive, Entry(0)), ExtractEntry(archive, Entry(0), Target("out")), Files()}),
              (Seen{Status::kBadData, Status::kBadData, "test.tvx"}));
    ASSERT_TRUE(WriteFileBytes(Target("out"), "the user's own file"));
    using Over = std::tuple<Status, std::string, std::string>;  // once more, over the user's file
    EXPECT_EQ((Over{ExtractEntry(archive, Entry(0), Target("out")), Read("out"), Files()}),
              (Over{Status::kBadData, "the user's own file", "out test.tvx"}));
    ASSERT_TRUE(platform::OsSystem().RemoveFile(Target("out")));
  }
}

// A failed read of the archive is a disk error, not damage: the host says
// "read error", and the user need not think the archive broken. A new name is
// created in place, and a failed write removes it again.
TEST_F(ExtractTest, FailedReadsAndWritesAreDiskErrorsAndLeaveNothing) {
  const std::string text = TextLikeBytes(300000);
  Archive& archive = Open({Deflated("t.txt", text), {"s.txt", "stored"}});
  for (const bool reads : {true, false}) {  // reads first: a write's failure leaves bytes read ahead
    test::FaultPlan plan;
    (reads ? plan.failReadAt : plan.failWriteAt) = 1;
    const Status failure = reads ? Status::kReadFailed : Status::kWriteFailed;
    for (size_t index : {0, 1}) {
      if (reads) {
        faults_.SetPlan(plan);
        EXPECT_EQ(TestEntry(archive, Entry(index)), failure) << index;
      }
      faults_.SetPlan(plan);
      EXPECT_EQ(ExtractEntry(archive, Entry(index), Target("out")), failure) << index;
      faults_.ClearPlan();
      EXPECT_EQ(Files(), "test.tvx") << index;
    }
  }
  EXPECT_EQ(TestEntry(archive, Entry(0)), Status::kOk);
}

// An existing file is replaced through a partial file beside it: never one
// somebody left there, and when every partial name is taken, none of those
// files may be emptied.
TEST_F(ExtractTest, ExtractionNeverUsesAFileThatAlreadyExistsAsItsPartialFile) {
  Archive& archive = Open({{"a.txt", "fresh"}});
  const std::string target = Target("a.txt");
  const auto partial = [&](int n) { return target + ".tvxpart" + (n > 1 ? std::to_string(n) : ""); };
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_TRUE(WriteFileBytes(partial(1), "mine"));
  EXPECT_EQ(ExtractEntry(archive, Entry(0), target), Status::kOk);
  EXPECT_EQ(Read("a.txt"), "fresh");
#ifndef _WIN32
  // A private file's successor is never readable by others while it is written.
  namespace fs = std::filesystem;
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  static std::string written;
  written = partial(2);
  test::FaultPlan plan;
  plan.beforeWrite = [](uint64_t) { EXPECT_EQ(fs::status(written).permissions() & ~fs::perms::owner_all, fs::perms::none); };
  faults_.SetPlan(plan);
  EXPECT_EQ(ExtractEntry(archive, Entry(0), target), Status::kOk);
  faults_.ClearPlan();
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
  for (int n = 2; n < 1000; ++n) ASSERT_TRUE(WriteFileBytes(partial(n), "mine"));
  const Status status = ExtractEntry(archive, Entry(0), target);
  EXPECT_TRUE(status == Status::kOk || status == Status::kCreateFailed);
  for (int n = 1; n < 1000; ++n) ASSERT_EQ(ReadFileBytes(partial(n)), "mine") << n;
}

}  // namespace
}  // namespace tvx
