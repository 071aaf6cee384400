// Reading what the module reports, in the Windows and the POSIX dialect.
#include "host_dialect.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/test_support.h"

namespace tvx::cli {
namespace {

// Names as shown (only the Windows dialect drops its leading separator), as
// keys (joined with '/', trimmed) and as the module is given them.
TEST(CliHostDialect, NamesAsShownAsKeysAndInTheDialectsSeparator) {
  EXPECT_EQ(DisplayName(kWindowsDialect, "\\docs\\a.txt"), "docs\\a.txt");
  EXPECT_EQ(DisplayName(kWindowsDialect, "\\docs\\"), "docs\\");
  EXPECT_EQ(DisplayName(kPosixDialect, "docs/a.txt"), "docs/a.txt");
  EXPECT_EQ(DisplayName(kPosixDialect, "/abs"), "/abs");
  EXPECT_EQ(CanonicalKey(kWindowsDialect, "\\docs\\sub\\"), "docs/sub");
  EXPECT_EQ(CanonicalKey(kWindowsDialect, "docs/sub\\a.txt"), "docs/sub/a.txt");
  EXPECT_EQ(CanonicalKey(kPosixDialect, "./docs//a.txt/"), "docs/a.txt");
  EXPECT_EQ(CanonicalKey(kPosixDialect, "a\\b"), "a\\b");
  EXPECT_EQ(ToHostForm(kWindowsDialect, "docs/a.txt"), "docs\\a.txt");
  EXPECT_EQ(ToHostForm(kPosixDialect, "docs/a.txt"), "docs/a.txt");
}

TEST(CliHostDialect, KeysCompareByTheDialectsCaseRule) {
  EXPECT_TRUE(SameKey(kWindowsDialect, "Docs/A.txt", "docs/a.TXT"));
  EXPECT_FALSE(SameKey(kPosixDialect, "Docs/A.txt", "docs/a.txt"));
  EXPECT_TRUE(KeyIsBelow(kWindowsDialect, "DOCS/a.txt", "docs"));
  EXPECT_TRUE(KeyIsBelow(kPosixDialect, "docs/sub/a", "docs"));
  EXPECT_FALSE(KeyIsBelow(kPosixDialect, "docs2/a", "docs"));
  EXPECT_FALSE(KeyIsBelow(kPosixDialect, "docs", "docs"));
}

TEST(CliHostDialect, DirectoriesFromAttributesOrTrailingSeparator) {
  EXPECT_TRUE(IsDirectoryEntry(kWindowsDialect, "\\docs", 16));
  EXPECT_FALSE(IsDirectoryEntry(kWindowsDialect, "\\a.txt", 32));
  EXPECT_TRUE(IsDirectoryEntry(kWindowsDialect, "\\docs\\", 0));
  EXPECT_TRUE(IsDirectoryEntry(kPosixDialect, "docs", 040755));
  EXPECT_FALSE(IsDirectoryEntry(kPosixDialect, "a.txt", 0100644));
  // 16 is a directory only for Windows; as a mode it is a plain permission bit.
  EXPECT_FALSE(IsDirectoryEntry(kPosixDialect, "a.txt", 16));
}

TEST(CliHostDialect, DosTimeDecodesEachFieldAndUnixTimeIsLocal) {
  const int dos = (44 << 25) | (3 << 21) | (5 << 16) | (14 << 11) | (7 << 5) | (9 / 2);
  const LocalTime t = EntryTime(kWindowsDialect, dos);
  ASSERT_TRUE(t.valid);
  EXPECT_EQ(test::ClockText(t), "2024-03-05 14:07:08");
  EXPECT_FALSE(EntryTime(kWindowsDialect, 0).valid);
  // A Unix time is shown in local time.
  const LocalTime unix_time = EntryTime(kPosixDialect, static_cast<int>(test::LocalTime(2021, 6, 15, 12, 34, 56)));
  ASSERT_TRUE(unix_time.valid);
  EXPECT_EQ(test::ClockText(unix_time), "2021-06-15 12:34:56");
}

}  // namespace
}  // namespace tvx::cli
