// Reading what the module reports, in the Windows and the POSIX dialect.
#include "host_dialect.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/test_support.h"

namespace tvx::cli {
namespace {

const HostDialect& kWin = kWindowsDialect;
const HostDialect& kPosix = kPosixDialect;

// Names as shown (only the Windows dialect drops its leading separator), as
// keys (joined with '/', trimmed) and as the module is given them; keys
// compare by the dialect's case rule.
TEST(CliHostDialect, NamesAsShownAsKeysAndInTheDialectsSeparator) {
  const std::tuple<const HostDialect&, const char*, const char*> rows[] = {
      {kWin, "\\docs\\a.txt", "docs\\a.txt | docs/a.txt"}, {kWin, "\\docs\\", "docs\\ | docs"},
      {kWin, "\\docs\\sub\\", "docs\\sub\\ | docs/sub"}, {kWin, "docs/sub\\a.txt", "docs/sub\\a.txt | docs/sub/a.txt"},
      {kPosix, "docs/a.txt", "docs/a.txt | docs/a.txt"}, {kPosix, "/abs", "/abs | abs"},
      {kPosix, "./docs//a.txt/", "./docs//a.txt/ | docs/a.txt"}, {kPosix, "a\\b", "a\\b | a\\b"}};
  for (const auto& [d, reported, shownAndKey] : rows)
    EXPECT_EQ(DisplayName(d, reported) + " | " + CanonicalKey(d, reported), shownAndKey);
  EXPECT_EQ(ToHostForm(kWin, "docs/a.txt") + " " + ToHostForm(kPosix, "docs/a.txt"), "docs\\a.txt docs/a.txt");
  EXPECT_TRUE(SameKey(kWin, "Docs/A.txt", "docs/a.TXT") && !SameKey(kPosix, "Docs/A.txt", "docs/a.txt"));
  EXPECT_TRUE(KeyIsBelow(kWin, "DOCS/a.txt", "docs") && KeyIsBelow(kPosix, "docs/sub/a", "docs"));
  EXPECT_FALSE(KeyIsBelow(kPosix, "docs2/a", "docs") || KeyIsBelow(kPosix, "docs", "docs"));
}

// From the attributes or a trailing separator: 16 is a directory only for
// Windows; as a mode it is a plain permission bit.
TEST(CliHostDialect, DirectoriesFromAttributesOrTrailingSeparator) {
  EXPECT_TRUE(IsDirectoryEntry(kWin, "\\docs", 16) && IsDirectoryEntry(kWin, "\\docs\\", 0) &&
              IsDirectoryEntry(kPosix, "docs", 040755));
  EXPECT_FALSE(IsDirectoryEntry(kWin, "\\a.txt", 32) || IsDirectoryEntry(kPosix, "a.txt", 0100644) ||
               IsDirectoryEntry(kPosix, "a.txt", 16));
}

// A DOS time decodes each field; a Unix time is shown in local time.
TEST(CliHostDialect, DosTimeDecodesEachFieldAndUnixTimeIsLocal) {
  const int dos = (44 << 25) | (3 << 21) | (5 << 16) | (14 << 11) | (7 << 5) | (9 / 2);
  const LocalTime t = EntryTime(kWin, dos);
  EXPECT_TRUE(t.valid && test::ClockText(t) == "2024-03-05 14:07:08") << test::ClockText(t);
  EXPECT_FALSE(EntryTime(kWin, 0).valid);
  const LocalTime unixTime = EntryTime(kPosix, static_cast<int>(test::LocalTime(2021, 6, 15, 12, 34, 56)));
  EXPECT_TRUE(unixTime.valid && test::ClockText(unixTime) == "2021-06-15 12:34:56") << test::ClockText(unixTime);
}

}  // namespace
}  // namespace tvx::cli
