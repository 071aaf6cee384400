// Faults found by fuzzing and by the damage sweeps, each kept as the smallest
// archive that showed it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/module_driver.h"
#include "support/test_support.h"

namespace tvx::test::reliability {
namespace {

class Findings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module_, nullptr) << ModulePath(); }

  Listing ListCrafted(const std::vector<RawEntry>& entries) {
    const std::string path = dir_.File("crafted.tvx");
    EXPECT_TRUE(WriteFileBytes(path, ArchiveBytes(entries)));
    return ListAndTest(*module_, path);
  }

  cli::PluginModule* module_ = LoadedModule();
  TempDir dir_;
};

// fuzz_read_archive, first minute: a record whose name is five NUL bytes was
// reported with an empty FileName. The host reads FileName up to its first
// NUL, so a stored name must never carry one through: "..\0x" would be shown
// as "..", "docs/..\0" as "docs/..".
TEST_F(Findings, AStoredNameWithNulBytesIsNeverReportedEmptyOrClimbing) {
  const std::vector<std::string> names = {std::string(5, '\0'), std::string("..\0x", 4),
                                          std::string("docs/..\0/", 9), std::string("\0/evil", 6)};
  for (const std::string& name : names) {
    const Listing listing = ListCrafted({Stored(name, "x")});
    ASSERT_TRUE(listing.opened);
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_TRUE(listing.entries[0].nameSafe) << "stored " << Hex(name) << " reported as \"" << listing.entries[0].name
                                             << "\"";
  }
}

// Byte-flip sweep: a folder record whose unpackedSize was damaged tested as
// bad data, yet extracting it succeeded. A host that tests before it extracts
// must get the same answer from both.
TEST_F(Findings, TestAndExtractionAgreeOnAFolderRecordThatClaimsContent) {
  RawEntry folder = Stored("docs/", "");
  folder.unpackedSize = 100;
  const std::string path = dir_.File("folder.tvx");
  ASSERT_TRUE(WriteFileBytes(path, ArchiveBytes({folder})));
  const Listing listing = ListAndTest(*module_, path);
  ASSERT_EQ(listing.entries.size(), 1u);
  TempDir out;
  const std::vector<int> extracted = ExtractEach(*module_, path, out.path());
  ASSERT_EQ(extracted.size(), 1u);
  EXPECT_EQ(listing.entries[0].testResult, extracted[0]);
}

// Records that point at one range: forty records, each
// a GiB of zeros out of the same deflated bytes, kept a test busy for minutes
// and an extraction would have written 40 GiB. Entries that share bytes are
// damage; an update of such an archive would keep or multiply it.
TEST_F(Findings, EntriesSharingTheirDataAreBadDataAndTheArchiveIsNotUpdated) {
  RawEntry again = Stored("again.txt", "hello");
  again.offset = 0;
  const std::string path = dir_.File("shared.tvx");
  ASSERT_TRUE(WriteFileBytes(path, ArchiveBytes({Stored("first.txt", "hello"), again, Stored("next.txt", "next")})));
  const std::string before = ReadFileBytes(path);
  const Listing listing = ListAndTest(*module_, path);
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[1].name, ReportedForm("again.txt"));
  EXPECT_EQ((std::vector<int>{listing.entries[0].testResult, listing.entries[1].testResult,
                              listing.entries[2].testResult}),
            (std::vector<int>{0, E_BAD_DATA, 0}));
  TempDir out;
  EXPECT_EQ(ExtractEach(*module_, path, out.path()), (std::vector<int>{0, E_BAD_DATA, 0}));
  ASSERT_TRUE(WriteFileBytes(dir_.File("new.txt"), "new"));
  EXPECT_EQ(PackWith(*module_, path, nullptr, dir_.path() + NativeSeparator(), {"new.txt"}, PK_PACK_SAVE_PATHS),
            E_BAD_ARCHIVE);
  EXPECT_EQ(DeleteWith(*module_, path, {"next.txt"}), E_BAD_ARCHIVE);
  EXPECT_TRUE(ReadFileBytes(path) == before) << "a refused update changed the archive";
}

#ifndef _WIN32
// Sets the process's time zone while it lives.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadZone_ = old != nullptr;
    if (hadZone_) oldZone_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (hadZone_) {
      ::setenv("TZ", oldZone_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool hadZone_ = false;
  std::string oldZone_;
};

// fuzz_read_archive under UBSan, third run, after 83 s: an entry time
// in the first hour of 1901-12-13 (INT32_MIN) overflowed int in the Linux
// FileTime (src/TolvexU/host_dialect.cpp FileTimeOf: the hour's mktime result,
// cut to int, plus the seconds into the hour). East of UTC the same times came
// out as dates in 2038. The Linux host is given a Unix time: a 1901 entry must
// read as a time before 1970 (at worst the earliest one), never a late one.
TEST_F(Findings, AnEntryTimeIn1901IsReportedAsAnEarlyTimeWithoutOverflow) {
  // Different hours, so that no cached hour of another zone answers.
  const struct {
    const char* zone;
    int32_t time;
  } cases[] = {{"UTC0", INT32_MIN}, {"JST-9", INT32_MIN + 7200}, {"EST5", INT32_MIN + 14400}};
  for (const auto& c : cases) {
    const ScopedTimeZone zone(c.zone);
    RawEntry entry = Stored("old.txt", "x");
    entry.time = c.time;
    std::string path = dir_.File(std::string("time-") + c.zone + ".tvx");
    ASSERT_TRUE(WriteFileBytes(path, ArchiveBytes({entry})));
    HostArchive archive(*module_, path, PK_OM_LIST);
    ASSERT_NE(archive.handle(), nullptr);
    tHeaderData header{};
    ASSERT_EQ(archive.ReadHeader(header), 0);
    EXPECT_LE(header.FileTime, 0) << c.zone << ": entry time " << c.time << " reported as " << header.FileTime;
  }
}
#endif

}  // namespace
}  // namespace tvx::test::reliability
