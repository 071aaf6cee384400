// Faults found by fuzzing and by the damage sweeps, each kept as the smallest
// archive that showed it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reliability/archive_bytes.h"
#include "reliability/module_api.h"
#include "reliability/module_listing.h"
#include "support/test_support.h"

namespace tvx::test::reliability {
namespace {

class Findings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.loaded()) << ModulePath(); }

  Listing ListCrafted(const std::vector<RawEntry>& entries) {
    const std::string path = dir_.File("crafted.tvx");
    EXPECT_TRUE(WriteFileBytes(path, WriteArchive(entries)));
    return ListAndTest(module_, path);
  }

  ModuleApi module_;
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
    ASSERT_TRUE(listing.opened());
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
  ASSERT_TRUE(WriteFileBytes(path, WriteArchive({folder})));
  const Listing listing = ListAndTest(module_, path);
  ASSERT_EQ(listing.entries.size(), 1u);
  TempDir out;
  const std::vector<int> extracted = ExtractEach(module_, path, out.path());
  ASSERT_EQ(extracted.size(), 1u);
  EXPECT_EQ(listing.entries[0].testResult, extracted[0]);
}

}  // namespace
}  // namespace tvx::test::reliability
