// Writing archives: new archives from files and folders, and rebuilds of
// existing archives that drop, keep and replace entries. Old archives are
// written byte by byte so that what is kept can be compared byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commonsU/entry_time.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "packU/format.h"
#include "packU/rebuild.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using test::RawEntry;
using test::FromHex;
using test::Hex;
using test::TempDir;

const char kEmptyArchive[] = "54 4F 4C 56 45 58 64 00 00 00 00 00 00 00";

class RebuildTest : public ::testing::Test {
 protected:
  // A file to pack, in the scratch folder.
  std::string Source(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(test::WriteFileBytes(path, bytes));
    return path;
  }
  std::string Folder(const std::string& name) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(platform::OsSystem().MakeDirectory(path));
    return path;
  }

  // Opens an old archive written from these bytes.
  Archive& Old(const std::string& bytes) {
    old_.reset();  // Windows would refuse to replace a file still open
    const std::string path = dir_.File("old.tvx");
    EXPECT_TRUE(test::WriteFileBytes(path, bytes));
    old_ = Archive::NewArchive(platform::OsSystem(), path);
    EXPECT_TRUE(old_->valid());
    EXPECT_FALSE(old_->damaged());
    return *old_;
  }

  std::string OutPath() const { return dir_.File("new.tvx"); }

  // Rebuilds into new.tvx and remembers what the callback reported.
  Status Rebuild(const RebuildPlan& plan) {
    reported_.clear();
    out_.reset();
    return RebuildArchive(platform::OsSystem(), OutPath(), plan, [this](const ArchiveEntry& e) { reported_.push_back(e); });
  }

  std::string OutBytes() const { return test::ReadFileBytes(OutPath()); }

  // The rebuilt archive, opened; it must be intact.
  Archive& Out() {
    out_ = Archive::NewArchive(platform::OsSystem(), OutPath());
    EXPECT_TRUE(out_->valid());
    EXPECT_FALSE(out_->damaged());
    EXPECT_EQ(out_->version(), kFormatVersion);
    return *out_;
  }

  // The entry's content, extracted through the normal path.
  std::string Extracted(Archive& archive, const ArchiveEntry& entry) {
    const std::string target = dir_.File("extracted.out");
    EXPECT_EQ(ExtractEntry(archive, entry, target), Status::kOk) << entry.name;
    std::string bytes = test::ReadFileBytes(target);
    platform::OsSystem().RemoveFile(target);
    return bytes;
  }

  std::vector<std::string> Names(const Archive& archive) const {
    std::vector<std::string> names;
    for (const ArchiveEntry& e : archive.entries()) names.push_back(e.name);
    return names;
  }

  TempDir dir_;
  std::unique_ptr<Archive> old_;
  std::unique_ptr<Archive> out_;
  std::vector<ArchiveEntry> reported_;
};

// --- exact bytes --------------------------------------------------------------------

TEST_F(RebuildTest, NothingToWriteGivesTheFourteenByteEmptyArchive) {
  ASSERT_EQ(Rebuild(RebuildPlan{}), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(FromHex(kEmptyArchive)));
  EXPECT_TRUE(reported_.empty());
}

TEST_F(RebuildTest, ExistingOutputIsEmptiedFirst) {
  Source("new.tvx", std::string(5000, 'z'));
  ASSERT_EQ(Rebuild(RebuildPlan{}), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(FromHex(kEmptyArchive)));
}

TEST_F(RebuildTest, FolderItemBecomesAnEntryWithoutBytes) {
  RebuildPlan plan;
  plan.additions = {{"sub/", Folder("sub")}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  ASSERT_EQ(reported_.size(), 1u);
  const ArchiveEntry& e = reported_[0];
  EXPECT_EQ(e.name, "sub/");
  EXPECT_EQ(e.unpackedSize, 0);
  EXPECT_EQ(e.packedSize, 0);
  EXPECT_EQ(e.dataOffset, 0);
  EXPECT_EQ(e.time, EntryTimeOfWallClock(platform::OsSystem().ModifiedWallClockTime(dir_.File("sub"))));
  // Header, then the record exactly as the record writer lays it down.
  EXPECT_EQ(Hex(OutBytes()), Hex(test::HeaderBytes(1) + test::RecordBytes({"sub/", e.time, 0, 0, 0})));
}

TEST_F(RebuildTest, RemovingNothingRewritesACanonicalArchiveIdentically) {
  const std::string text = test::TextLikeBytes(30000);
  const std::vector<RawEntry> entries = {
      {"a.txt", "0123456789", -1, 1118836800},
      {"docs/", "", -1, 1118836802},
      {"docs/t.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size()), -7},
      {"empty", "", -1, 0},
      {"", "nameless", -1, 42},
  };
  for (const uint32_t version : {100u, 7u, 0xFFFFFFFFu}) {
    const std::string oldBytes = test::ArchiveBytes(entries, version);
    RebuildPlan plan;
    plan.oldArchive = &Old(oldBytes);
    plan.removeNames = {"absent", "docs", "A.TXT"};
    plan.removeFolders = {"nothing/"};
    ASSERT_EQ(Rebuild(plan), Status::kOk) << version;
    EXPECT_EQ(Hex(OutBytes()), Hex(test::ArchiveBytes(entries, 100))) << version;
    EXPECT_TRUE(reported_.empty());
  }
}

TEST_F(RebuildTest, DeletingTheFirstOfThreeKeepsTheOthersUnchanged) {
  const std::string text = test::TextLikeBytes(5000);
  const RawEntry a{"a", "first entry", -1, 1000};
  const RawEntry b{"b", test::ZlibCompress(text), static_cast<int32_t>(text.size()), 2000};
  const RawEntry c{"c", "third", -1, 3000};
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({a, b, c}));
  plan.removeNames = {"a"};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(test::ArchiveBytes({b, c})));
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), 2u);
  EXPECT_EQ(out.entries()[0].dataOffset, 0);
  EXPECT_EQ(out.entries()[1].dataOffset, out.entries()[0].packedSize);
  EXPECT_EQ(out.entries()[0].time, 2000);
  EXPECT_EQ(out.entries()[1].time, 3000);
  EXPECT_TRUE(Extracted(out, out.entries()[0]) == text);
  EXPECT_EQ(Extracted(out, out.entries()[1]), "third");
}

TEST_F(RebuildTest, DeletingEveryEntryGivesTheEmptyArchive) {
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({{"a", "1"}, {"d/", ""}, {"d/b", "22"}}));
  plan.removeNames = {"a"};
  plan.removeFolders = {"d/"};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(FromHex(kEmptyArchive)));
}

// --- which entries are kept ------------------------------------------------------------

TEST_F(RebuildTest, AddingAnExistingNameReplacesItAtTheEnd) {
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({{"docs/a.txt", "old a"}, {"Docs/a.txt", "other case"}, {"z", "zz"}}));
  plan.additions = {{"docs/a.txt", Source("a.txt", "new content of a")}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(Names(out), (std::vector<std::string>{"Docs/a.txt", "z", "docs/a.txt"}));
  EXPECT_EQ(Extracted(out, out.entries()[0]), "other case");
  EXPECT_EQ(Extracted(out, out.entries()[1]), "zz");
  EXPECT_EQ(Extracted(out, out.entries()[2]), "new content of a");
  // The new entry's bytes follow the kept ones.
  EXPECT_EQ(out.entries()[2].dataOffset, 12);
  EXPECT_EQ(out.dataStart() + 12u + 16u, out.fileSize());
}

TEST_F(RebuildTest, RemovingAFolderDropsEverythingBelowItOnly) {
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({{"top", "t"},
                                             {"docs/", ""},
                                             {"docs/x", "x"},
                                             {"docs/sub/y", "y"},
                                             {"docsx/y", "dx"},
                                             {"doc", "d"},
                                             {"docs", "file named docs"},
                                             {"a/docs/z", "z"},
                                             {"Docs/q", "q"}}));
  plan.removeFolders = {"docs/"};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  EXPECT_EQ(Names(out), (std::vector<std::string>{"top", "docsx/y", "doc", "docs", "a/docs/z", "Docs/q"}));
  const std::vector<std::string> contents = {"t", "dx", "d", "file named docs", "z", "q"};
  for (size_t i = 0; i < contents.size(); ++i) EXPECT_EQ(Extracted(out, out.entries()[i]), contents[i]);
}

TEST_F(RebuildTest, KeptDataIsCompactedAndPutInDirectoryOrder) {
  // An archive written by someone else: data in reverse order, a gap of junk,
  // two entries sharing the same bytes, and a folder and an empty file whose
  // records claim bytes (nothing reads them: they are not taken along, or
  // many such records would multiply a file's bytes at each update).
  std::string bytes = test::HeaderBytes(6);
  bytes += test::RecordBytes({"one", 1, 3, 3, 13});
  bytes += test::RecordBytes({"two", 2, 3, 3, 5});
  bytes += test::RecordBytes({"three", 3, 5, 5, 0});
  bytes += test::RecordBytes({"again", 4, 3, 3, 5});
  bytes += test::RecordBytes({"dir/", 5, 0, 5, 0});
  bytes += test::RecordBytes({"empty", 6, 0, 5, 0});
  bytes += "THREE" "two" "JUNKJ" "one";
  RebuildPlan plan;
  plan.oldArchive = &Old(bytes);
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(test::ArchiveBytes({{"one", "one", -1, 1},
                                                     {"two", "two", -1, 2},
                                                     {"three", "THREE", -1, 3},
                                                     {"again", "two", -1, 4},
                                                     {"dir/", "", -1, 5},
                                                     {"empty", "", -1, 6}})));
}

// --- packing files -----------------------------------------------------------------------

TEST_F(RebuildTest, EmptyFileIsPackedWithoutBytesAndReported) {
  RebuildPlan plan;
  plan.additions = {{"empty.txt", Source("empty.txt", "")}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  ASSERT_EQ(reported_.size(), 1u);
  EXPECT_EQ(reported_[0].unpackedSize, 0);
  EXPECT_EQ(reported_[0].packedSize, 0);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), 1u);
  EXPECT_EQ(out.entries()[0].unpackedSize, 0);
  EXPECT_EQ(out.fileSize(), out.dataStart());
}

TEST_F(RebuildTest, SmallFileWithoutRepetitionIsStored) {
  const std::string content = FromHex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
  RebuildPlan plan;
  plan.additions = {{"sixteen", Source("sixteen", content)}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), 1u);
  EXPECT_EQ(out.entries()[0].unpackedSize, 16);
  EXPECT_EQ(out.entries()[0].packedSize, 16);
  EXPECT_EQ(Hex(OutBytes()),
            Hex(test::HeaderBytes(1) + test::RecordBytes({"sixteen", out.entries()[0].time, 16, 16, 0}) + content));
}

TEST_F(RebuildTest, RepetitiveFileIsDeflatedAtLevelNine) {
  const std::string content(100000, 'A');
  RebuildPlan plan;
  plan.additions = {{"a.bin", Source("a.bin", content)}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  const ArchiveEntry& e = out.entries().at(0);
  EXPECT_EQ(e.unpackedSize, 100000);
  EXPECT_LT(e.packedSize, 1000);
  const std::string bytes = OutBytes();
  EXPECT_EQ(Hex(bytes.substr(out.dataStart(), 2)), "78 da");
  EXPECT_EQ(bytes.size(), out.dataStart() + static_cast<size_t>(e.packedSize));
  EXPECT_TRUE(Extracted(out, e) == content);
}

TEST_F(RebuildTest, LargeIncompressibleFileIsStoredWithNothingLeftOver) {
  const std::string noise = test::NoiseBytes(3 * 1024 * 1024);
  const std::string text = test::TextLikeBytes(10000);
  RebuildPlan plan;
  plan.additions = {{"noise.bin", Source("noise.bin", noise)}, {"after.txt", Source("after.txt", text)}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), 2u);
  const ArchiveEntry& n = out.entries()[0];
  const ArchiveEntry& t = out.entries()[1];
  EXPECT_EQ(n.unpackedSize, static_cast<int32_t>(noise.size()));
  EXPECT_EQ(n.packedSize, n.unpackedSize);
  EXPECT_EQ(t.dataOffset, n.packedSize);  // right behind, no remains of the abandoned attempt
  EXPECT_TRUE(t.IsDeflated());
  EXPECT_EQ(out.fileSize(), 14u + (18 + 9) + (18 + 9) + noise.size() + static_cast<uint32_t>(t.packedSize));
  const std::string bytes = OutBytes();
  EXPECT_TRUE(bytes.compare(out.dataStart(), noise.size(), noise) == 0);
  EXPECT_TRUE(Extracted(out, t) == text);
}

TEST_F(RebuildTest, MixedFilesAllExtractAsTheyWere) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""},
      {"one", "1"},
      {"text.txt", test::TextLikeBytes(300000)},
      {"noise.bin", test::NoiseBytes(1500000)},
      {"sixteen", test::NoiseBytes(16, 99)},
      {"zeros", std::string(2 * 1024 * 1024 + 3, '\0')},
      {"tail.txt", test::TextLikeBytes(777)},
  };
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({{"kept.txt", "kept bytes"}}));
  plan.additions.push_back({"dir/", Folder("dir")});
  for (const auto& f : files) plan.additions.push_back({"dir/" + f.first, Source(f.first, f.second)});
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), files.size() + 2);
  EXPECT_EQ(Extracted(out, out.entries()[0]), "kept bytes");
  EXPECT_TRUE(out.entries()[1].IsDirectory());
  uint32_t dataEnd = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const ArchiveEntry& e = out.entries()[i + 2];
    EXPECT_EQ(e.name, "dir/" + files[i].first);
    EXPECT_EQ(e.unpackedSize, static_cast<int32_t>(files[i].second.size())) << e.name;
    EXPECT_EQ(TestEntry(out, e), Status::kOk) << e.name;
    EXPECT_TRUE(Extracted(out, e) == files[i].second) << e.name;
    dataEnd = static_cast<uint32_t>(e.dataOffset + e.packedSize);
  }
  EXPECT_EQ(out.dataStart() + dataEnd, out.fileSize());
}

TEST_F(RebuildTest, NewEntryTimeIsTheFilesModificationTime) {
  const std::string path = Source("dated.txt", "dated");
  // Well away from now, so a time taken from the clock cannot pass.
  namespace fs = std::filesystem;
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24 * 400 + 5));
  const int64_t fileTime = platform::OsSystem().FileWallClockTime(path);
  ASSERT_NE(fileTime, platform::kNoWallClock);
  ASSERT_NE(fileTime / 86400, platform::OsSystem().CurrentWallClockTime() / 86400);
  RebuildPlan plan;
  plan.additions = {{"dated.txt", path}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  EXPECT_EQ(out.entries().at(0).time, EntryTimeOfWallClock(fileTime));
}

TEST_F(RebuildTest, MissingSourceFileGivesAnEntryWithoutBytes) {
  RebuildPlan plan;
  plan.additions = {{"gone.txt", dir_.File("gone.txt")}, {"here.txt", Source("here.txt", "here")}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(Names(out), (std::vector<std::string>{"gone.txt", "here.txt"}));
  EXPECT_EQ(out.entries()[0].unpackedSize, 0);
  EXPECT_EQ(out.entries()[0].packedSize, 0);
  EXPECT_EQ(Extracted(out, out.entries()[1]), "here");
}

TEST_F(RebuildTest, FolderGivenAsAFileItemGivesAnEntryWithoutBytes) {
  // Opening a folder as a file fails on every platform, and it has no size.
  RebuildPlan plan;
  plan.additions = {{"looks-like-a-file", Folder("folder")}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), 1u);
  EXPECT_FALSE(out.entries()[0].IsDirectory());
  EXPECT_EQ(out.entries()[0].unpackedSize, 0);
  EXPECT_EQ(out.entries()[0].packedSize, 0);
}

// --- failures --------------------------------------------------------------------------

TEST_F(RebuildTest, OutputInAMissingFolderCannotBeCreated) {
  RebuildPlan plan;
  plan.additions = {{"a", Source("a", "a")}};
  const std::string newPath = dir_.File("missing") + test::NativeSeparator() + "new.tvx";
  EXPECT_EQ(RebuildArchive(platform::OsSystem(), newPath, plan, nullptr), Status::kCreateFailed);
  EXPECT_FALSE(test::PathExists(dir_.File("missing")));
}

TEST_F(RebuildTest, KeptEntryBeyondTheOldFilesEndIsABadArchive) {
  std::string bytes = test::ArchiveBytes({{"a", "aaaa"}, {"b", std::string(100, 'b')}});
  bytes.resize(bytes.size() - 1);
  RebuildPlan plan;
  plan.oldArchive = &Old(bytes);
  EXPECT_EQ(Rebuild(plan), Status::kBadArchive);
  // Dropping the damaged entry makes the rest usable again.
  plan.removeNames = {"b"};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  EXPECT_EQ(Hex(OutBytes()), Hex(test::ArchiveBytes({{"a", "aaaa"}})));
}

// --- progress -----------------------------------------------------------------------------

TEST_F(RebuildTest, CallbackReportsEachNewEntryOnceInOrderAfterItsBytes) {
  const std::string big = test::TextLikeBytes(400000);
  RebuildPlan plan;
  plan.oldArchive = &Old(test::ArchiveBytes({{"old1", "11"}, {"old2", "22"}}));
  plan.additions = {{"f1", Source("f1", big)}, {"d/", Folder("d")}, {"f2", Source("f2", "second")}};
  const std::string newPath = OutPath();
  std::vector<ArchiveEntry> seen;
  std::vector<uint32_t> sizeWhenSeen;
  ASSERT_EQ(RebuildArchive(platform::OsSystem(), newPath, plan,
                           [&](const ArchiveEntry& e) {
                             seen.push_back(e);
                             sizeWhenSeen.push_back(platform::OsSystem().FileSizeByName(newPath));
                           }),
            Status::kOk);
  ASSERT_EQ(seen.size(), 3u);
  Archive& out = Out();
  for (size_t i = 0; i < 3; ++i) {
    const ArchiveEntry& stored = out.entries().at(i + 2);
    EXPECT_EQ(seen[i].name, stored.name);
    EXPECT_EQ(seen[i].unpackedSize, stored.unpackedSize);
    EXPECT_EQ(seen[i].packedSize, stored.packedSize);
    EXPECT_EQ(seen[i].dataOffset, stored.dataOffset);
#ifndef _WIN32  // Windows may report the size of a file being written late
    EXPECT_GE(sizeWhenSeen[i], out.dataStart() + static_cast<uint32_t>(stored.dataOffset + stored.packedSize));
#endif
  }
  EXPECT_EQ(seen[0].unpackedSize, static_cast<int32_t>(big.size()));
}

}  // namespace
}  // namespace tvx
