// Writing archives: new archives from files and folders, and rebuilds of
// existing archives that drop, keep and replace entries. Old archives are
// written byte by byte so that what is kept can be compared byte for byte.
// Last, rebuilds that meet a full disk or a bad sector: the faulty system
// fails the Nth write or read, for every N a rebuild reaches.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "commonsU/entry_time.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "packU/format.h"
#include "packU/rebuild.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/fault_scene.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using namespace test;

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
    old_ = Archive::NewArchive(platform::OsSystem(), Source("old.tvx", bytes));
    EXPECT_TRUE(old_->valid() && !old_->damaged());
    return *old_;
  }

  std::string OutPath() const { return dir_.File("new.tvx"); }

  // Rebuilds into new.tvx and remembers what the callback reported, and how
  // large the new file was at each report.
  Status Rebuild(const RebuildPlan& plan) {
    reported_.clear();
    sizesWhenReported_.clear();
    out_.reset();
    return RebuildArchive(platform::OsSystem(), OutPath(), plan, [this](const ArchiveEntry& e) {
      reported_.push_back(e);
      sizesWhenReported_.push_back(platform::OsSystem().FileSizeByName(OutPath()));
    });
  }

  std::string OutBytes() const { return test::ReadFileBytes(OutPath()); }

  // The rebuilt archive, opened; it must be intact.
  Archive& Out() {
    out_ = Archive::NewArchive(platform::OsSystem(), OutPath());
    EXPECT_TRUE(out_->valid() && !out_->damaged());
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

  // Each entry's name, time, sizes and place, to compare lists at once.
  static std::string Texts(const std::vector<ArchiveEntry>& entries) {
    std::string text;
    for (const ArchiveEntry& e : entries) text += RecordText(e) + "; ";
    return text;
  }

  TempDir dir_;
  std::unique_ptr<Archive> old_;
  std::unique_ptr<Archive> out_;
  std::vector<ArchiveEntry> reported_;
  std::vector<uint32_t> sizesWhenReported_;
};

// --- which entries are kept ------------------------------------------------------------

// Rebuilds that only keep and drop entries of an old archive: the new archive's
// exact bytes, whatever was at its path before.
TEST_F(RebuildTest, KeptEntriesAreWrittenExactly) {
  const std::string text = test::TextLikeBytes(30000);
  const std::vector<RawEntry> canonical = {
      {"a.txt", "0123456789", -1, 1118836800},
      {"docs/", "", -1, 1118836802},
      {"docs/t.txt", test::ZlibCompress(text), static_cast<int32_t>(text.size()), -7},
      {"empty", "", -1, 0},
      {"", "nameless", -1, 42},
  };
  const RawEntry a{"a", "first entry", -1, 1000};
  const RawEntry b = test::Deflated("b", test::TextLikeBytes(5000));
  const RawEntry c{"c", "third", -1, 3000};
  const std::vector<RawEntry> besideDocs = {{"top", "t"}, {"docsx/y", "dx"}, {"doc", "d"},
                                            {"docs", "file named docs"}, {"a/docs/z", "z"}, {"Docs/q", "q"}};
  std::vector<RawEntry> aroundDocs = {besideDocs[0], {"docs/", ""}, {"docs/x", "x"}, {"docs/sub/y", "y"}};
  aroundDocs.insert(aroundDocs.end(), besideDocs.begin() + 1, besideDocs.end());
  // An archive written by someone else: data in reverse order, a gap of junk,
  // two entries sharing the same bytes, and a folder and an empty file whose
  // records claim bytes (nothing reads them: they are not taken along, or
  // many such records would multiply a file's bytes at each update).
  const std::string scattered = test::HeaderBytes(6) + test::RecordBytes({"one", 1, 3, 3, 13}) +
                                test::RecordBytes({"two", 2, 3, 3, 5}) + test::RecordBytes({"three", 3, 5, 5, 0}) +
                                test::RecordBytes({"again", 4, 3, 3, 5}) + test::RecordBytes({"dir/", 5, 0, 5, 0}) +
                                test::RecordBytes({"empty", 6, 0, 5, 0}) + "THREE" "two" "JUNKJ" "one";
  const std::string compacted = test::ArchiveBytes({{"one", "one", -1, 1}, {"two", "two", -1, 2},
                                                    {"three", "THREE", -1, 3}, {"again", "two", -1, 4},
                                                    {"dir/", "", -1, 5}, {"empty", "", -1, 6}});
  // More records and kept bytes than the write buffer holds, every other
  // entry dropped: both are gathered there piece by piece.
  std::vector<RawEntry> large, largeKept;
  std::vector<std::string> largeDropped;
  for (int i = 0; i < 60; ++i) {
    large.push_back({std::string(40000, 'n') + std::to_string(i), std::string(50000 + i * 1001, 'a' + i % 26), -1, i});
    if (i % 2 == 0) largeKept.push_back(large.back());
    else largeDropped.push_back(large.back().name);
  }
  std::string cutShort = test::ArchiveBytes({{"a", "aaaa"}, {"b", std::string(100, 'b')}});
  cutShort.resize(cutShort.size() - 1);
  // What is kept; the old archive's bytes (empty: none), the names and folders
  // removed; the new archive's bytes (empty: the rebuild fails, a bad archive).
  using Names = std::vector<std::string>;
  std::vector<std::tuple<std::string, std::string, Names, Names, std::string>> rows = {
      {"nothing to write gives the fourteen-byte empty archive", "", {}, {}, FromHex(kEmptyArchive)},
      {"deleting the first of three keeps the others unchanged", test::ArchiveBytes({a, b, c}), {"a"}, {},
       test::ArchiveBytes({b, c})},
      {"deleting every entry gives the empty archive", test::ArchiveBytes({{"a", "1"}, {"d/", ""}, {"d/b", "22"}}),
       {"a"}, {"d/"}, FromHex(kEmptyArchive)},
      {"removing a folder drops everything below it only", test::ArchiveBytes(aroundDocs), {}, {"docs/"},
       test::ArchiveBytes(besideDocs)},
      {"kept data is compacted and put in directory order", scattered, {}, {}, compacted},
      {"a kept entry beyond the old file's end is a bad archive", cutShort, {}, {}, ""},
      {"dropping the damaged entry makes the rest usable again", cutShort, {"b"}, {},
       test::ArchiveBytes({{"a", "aaaa"}})},
      {"deleting every other entry of a large archive keeps the rest exactly", test::ArchiveBytes(large),
       largeDropped, {}, test::ArchiveBytes(largeKept)},
  };
  for (const uint32_t version : {100u, 7u, 0xFFFFFFFFu}) {
    rows.push_back({"removing nothing rewrites a canonical archive identically, version " + std::to_string(version),
                    test::ArchiveBytes(canonical, version), {"absent", "docs", "A.TXT"}, {"nothing/"},
                    test::ArchiveBytes(canonical)});
  }
  for (const auto& [name, old, removeNames, removeFolders, expected] : rows) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteFileBytes(OutPath(), std::string(5000, 'z')));  // emptied first
    RebuildPlan plan;
    if (!old.empty()) plan.oldArchive = &Old(old);
    plan.removeNames = removeNames;
    plan.removeFolders = removeFolders;
    ASSERT_EQ(Rebuild(plan), expected.empty() ? Status::kBadArchive : Status::kOk);
    if (!expected.empty()) { EXPECT_EQ(Hex(OutBytes()), Hex(expected)); }
    EXPECT_TRUE(reported_.empty());
  }
}

// --- packing files -----------------------------------------------------------------------

// Folders, empty files and items that cannot be read as files (gone, or a
// folder: opening one as a file fails on every platform, and it has no size)
// become records without bytes, reported as they are written; a small file
// without repetition is stored as it is. Each has its own file's time.
TEST_F(RebuildTest, NewItemsAreWrittenExactlyWithTheirFilesTimesUnlessTheFolderIsMissing) {
  const std::string sixteen = FromHex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
  const std::string dated = Source("sixteen", sixteen);
  // Well away from now, so a time taken from the clock cannot pass.
  std::filesystem::last_write_time(dated, std::filesystem::last_write_time(dated) - std::chrono::hours(24 * 400 + 5));
  const int64_t fileTime = platform::OsSystem().FileWallClockTime(dated);
  ASSERT_NE(fileTime, platform::kNoWallClock);
  ASSERT_NE(fileTime / 86400, platform::OsSystem().CurrentWallClockTime() / 86400);
  RebuildPlan plan;
  plan.additions = {{"sub/", Folder("sub")},
                    {"gone.txt", dir_.File("gone.txt")},
                    {"empty.txt", Source("empty.txt", "")},
                    {"looks-like-a-file", Folder("folder")},
                    {"sixteen", dated}};
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  ASSERT_EQ(reported_.size(), 5u);
  EXPECT_EQ(reported_[0].time, EntryTimeOfWallClock(platform::OsSystem().ModifiedWallClockTime(dir_.File("sub"))));
  EXPECT_EQ(reported_[4].time, EntryTimeOfWallClock(fileTime));
  EXPECT_EQ(Hex(OutBytes()), Hex(test::ArchiveBytes({{"sub/", "", -1, reported_[0].time},
                                                     {"gone.txt", "", -1, reported_[1].time},
                                                     {"empty.txt", "", -1, reported_[2].time},
                                                     {"looks-like-a-file", "", -1, reported_[3].time},
                                                     {"sixteen", sixteen, -1, reported_[4].time}})));
  EXPECT_EQ(Texts(reported_), Texts(Out().entries()));
  // Into a missing folder it cannot be created, nor is the folder made.
  const std::string missing = dir_.File("missing");
  EXPECT_EQ(RebuildArchive(platform::OsSystem(), missing + NativeSeparator() + "new.tvx", plan, nullptr),
            Status::kCreateFailed);
  EXPECT_FALSE(PathExists(missing));
}

// Each file extracts as it was, its bytes right behind the entry before it (no
// remains of a deflate attempt that lost to storing); what repeats is deflated
// at level nine, what does not is stored. A name the archive has already is
// replaced at the end, one in another case is another name. Each new entry is
// reported once, in order, after its bytes are written.
TEST_F(RebuildTest, MixedFilesAllExtractAsTheyWereAndReplaceTheirNamesAtTheEnd) {
  struct File {
    std::string name, content;
    bool deflated;
  };
  const std::vector<File> files = {
      {"empty", "", false}, {"one", "1", false}, {"text.txt", TextLikeBytes(300000), true},
      {"noise.bin", NoiseBytes(3 * 1024 * 1024), false},  // several pieces
      {"sixteen", NoiseBytes(16, 99), false}, {"zeros", std::string(2 * 1024 * 1024 + 3, '\0'), true},
      {"a.bin", std::string(100000, 'A'), true}, {"tail.txt", TextLikeBytes(777), true},
  };
  RebuildPlan plan;
  plan.oldArchive =
      &Old(test::ArchiveBytes({{"kept.txt", "kept bytes"}, {"dir/one", "old"}, {"Dir/one", "other case"}}));
  plan.additions.push_back({"dir/", Folder("dir")});
  for (const File& f : files) plan.additions.push_back({"dir/" + f.name, Source(f.name, f.content)});
  ASSERT_EQ(Rebuild(plan), Status::kOk);
  Archive& out = Out();
  ASSERT_EQ(out.entries().size(), files.size() + 3);
  EXPECT_EQ(Extracted(out, out.entries()[0]) + "; " + Extracted(out, out.entries()[1]) + "; " + out.entries()[2].name,
            "kept bytes; other case; dir/");
  EXPECT_LT(out.entries()[9].packedSize, 1000);  // a.bin
  const std::string bytes = OutBytes();
  int32_t dataEnd = 20;  // behind the kept entries
  for (size_t i = 0; i < files.size(); ++i) {
    const ArchiveEntry& e = out.entries()[i + 3];
    EXPECT_EQ(e.name + " " + std::to_string(e.unpackedSize) + "@" + std::to_string(e.dataOffset) +
                  (e.IsDeflated() ? " deflated" : ""),
              "dir/" + files[i].name + " " + std::to_string(files[i].content.size()) + "@" + std::to_string(dataEnd) +
                  (files[i].deflated ? " deflated" : ""));
    // Deflated data starts with the level-nine header; stored data is its own size.
    EXPECT_EQ(e.IsDeflated() ? Hex(bytes.substr(out.EntryDataPosition(e), 2)) : std::to_string(e.packedSize),
              e.IsDeflated() ? "78 da" : std::to_string(e.unpackedSize)) << e.name;
    EXPECT_EQ(TestEntry(out, e), Status::kOk) << e.name;
    EXPECT_TRUE(Extracted(out, e) == files[i].content) << e.name;
    dataEnd = e.dataOffset + e.packedSize;
  }
  EXPECT_EQ(out.dataStart() + static_cast<uint32_t>(dataEnd), out.fileSize());
  const std::vector<ArchiveEntry> added(out.entries().begin() + 2, out.entries().end());
  EXPECT_EQ(Texts(reported_), Texts(added));
#ifndef _WIN32  // Windows may report the size of a file being written late
  for (size_t i = 0; i < added.size(); ++i)
    EXPECT_GE(sizesWhenReported_[i], out.dataStart() + static_cast<uint32_t>(added[i].dataOffset + added[i].packedSize))
        << added[i].name;
#endif
}

// --- a failing disk ---------------------------------------------------------------------

// A rebuild may fail, but it must never claim success over an archive that is
// not whole, nor leave what passes for one.
struct RebuildCase {
  const char* name;
  test::FaultCase faults;  // a single failure may be worked around: then the archive is whole
  Status failure;          // what a failed rebuild answers; kOk: any failure
  bool brokenNeverOpens;   // what was written must not pass for an archive - but after the
                           // last write, which makes the complete file durable: its failure is
                           // reported all the same, and the caller removes the file
};

// The scene large enough that every copy, store and deflate attempt takes
// several pieces; the new archive is written beside the old one.
class RebuildFaultTest : public ::testing::TestWithParam<RebuildCase> {
 protected:
  static const test::FaultScene& Scene() { return test::SharedFaultScene(test::kLargeScene); }

  void SetUp() override {
    folders_.Reset();
    // Read through the faulty system too, so that copying its entries meets
    // the failures; setting a plan resets the counts of opening it.
    old_ = Archive::NewArchive(faults_, folders_.archive());
    ASSERT_FALSE(old_->damaged());
    plan_.oldArchive = old_.get();
    plan_.removeNames = Scene().deletedFiles;
    plan_.removeFolders = Scene().deletedFolders;
    for (const test::SceneEntry& entry : Scene().packed)
      plan_.additions.push_back({entry.name, folders_.SourcePath(entry.name)});
  }

  std::string NewPath() const { return folders_.archiveFolder() + test::NativeSeparator() + "new.tvx"; }

  // The rebuild without faults makes a complete archive; the calls it makes,
  // counted.
  test::CallCounts CountCleanRun() {
    test::FaultPlanGuard guard(faults_, test::FaultPlan{});
    EXPECT_EQ(RebuildArchive(faults_, NewPath(), plan_, nullptr), Status::kOk);
    const test::CallCounts counts = test::CountsOf(faults_);
    EXPECT_TRUE(test::ArchiveHolds(NewPath(), Scene().AfterDeleteAndPack()));
    EXPECT_GT(counts.mutating, 5u);
    EXPECT_GT(counts.reads, 3u);
    return counts;
  }

  test::FaultySystem faults_;  // before old_, which reads through it
  test::SceneFolders folders_{Scene()};
  std::unique_ptr<Archive> old_;
  RebuildPlan plan_;
};

TEST_P(RebuildFaultTest, NeverPassOffABrokenArchive) {
  const RebuildCase& c = GetParam();
  const test::CallCounts counts = CountCleanRun();
  ASSERT_FALSE(HasFailure());
  test::ForEveryCall(c.faults, counts,
                     [&](const test::FaultPlan& plan, const std::string& what) {
    platform::OsSystem().RemoveFile(NewPath());  // nothing left from the run before
    const test::FaultPlanGuard guard(faults_, plan);
    const Status status = RebuildArchive(faults_, NewPath(), plan_, nullptr);
    if (status == Status::kOk) {
      EXPECT_TRUE(c.faults.once) << what << ": a failing disk went unnoticed";
      EXPECT_TRUE(test::ArchiveHolds(NewPath(), Scene().AfterDeleteAndPack())) << what;
      return;
    }
    EXPECT_TRUE(c.failure == Status::kOk || status == c.failure) << what << ": status " << static_cast<int>(status);
    EXPECT_FALSE(c.brokenNeverOpens && plan.failWriteAt != counts.mutating &&
                 Archive::NewArchive(platform::OsSystem(), NewPath())->valid())
        << what;
  });
}

// A failed read is a disk error, also when it is the old archive that fails
// to read: the host must not be told the archive is damaged. A full disk is
// reported as a write failure, whatever was being copied when the disk filled
// up - also when a larger copy stops before it has read everything (storing a
// new file, copying kept entries).
INSTANTIATE_TEST_SUITE_P(
    RebuildFaultTest, RebuildFaultTest,
    ::testing::Values(
        RebuildCase{"WritesFailingFromAnyPointOnFailTheRebuildAsWriteFailures", {Failing::kWrites, false},
                    Status::kWriteFailed, true},
        RebuildCase{"OneFailedWriteNeverPassesForABrokenArchive", {Failing::kWrites, true}, Status::kWriteFailed, true},
        RebuildCase{"ReadsFailingFromAnyPointFailTheRebuildAsAReadProblem", {Failing::kReads, false},
                    Status::kReadFailed, false},
        RebuildCase{"OneFailedReadNeverPassesForABrokenArchive", {Failing::kReads, true}, Status::kReadFailed, true}),
    [](const ::testing::TestParamInfo<RebuildCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tvx
