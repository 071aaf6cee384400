// Entry names on their way to the host and to the disk: host notation, names
// made safe to join to a destination folder, names cut to a length, and new
// names that cannot join an archive.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "packU/entry_name.h"

namespace tvx {
namespace {

TEST(EntryHostName, TurnsSlashesIntoTheSeparator) {
  const auto shown = [](const char* name, bool leading, char separator = '\\') {
    return "[" + EntryHostName(name, leading, separator) + "]";
  };
  // A backslash already in a stored name is not a separator of the format.
  EXPECT_EQ(shown("a/b/x.txt", true) + shown("a/", true) + shown("a/b/x.txt", false) + shown("", true) +
                shown("", false) + shown("docs/a.txt", false, '/') + shown("a\\b/c", false, '/'),
            "[\\a\\b\\x.txt][\\a\\][a\\b\\x.txt][\\][][docs/a.txt][a\\b/c]");
}

// Each row is a name somebody could put into an archive by hand: stored, made
// safe with Windows rules, made safe with POSIX rules.
const std::tuple<std::string, const char*, const char*> kSafeNames[] = {
    // Names this system writes come back as they are.
    {"docs/a.txt", "docs/a.txt", "docs/a.txt"}, {"docs/", "docs/", "docs/"}, {"a.txt", "a.txt", "a.txt"},
    {"x/y/z/", "x/y/z/", "x/y/z/"},
    // Climbing out of the destination.
    {"../../etc/passwd", "etc/passwd", "etc/passwd"}, {"a/../../b", "a/b", "a/b"},
    {"..", "_", "_"}, {"../", "_/", "_/"}, {"./..", "_", "_"},
    // Absolute names.
    {"/abs/x", "abs/x", "abs/x"}, {"//server/share/x", "server/share/x", "server/share/x"},
    // Empty and dot components; "/" is a directory name, so it stays one.
    {"a/./b//c", "a/b/c", "a/b/c"}, {"", "_", "_"}, {"/", "_/", "_/"}, {".", "_", "_"},
    // Drive prefixes and backslashes mean something only on Windows; "ab:c" is a stream name on NTFS.
    {"C:\\x\\..\\y", "x/y", "C:\\x\\..\\y"}, {"C:", "_", "C:"}, {"C:x", "x", "C:x"}, {"c:/x", "x", "c:/x"},
    {"a\\b", "a/b", "a\\b"}, {"a\\b\\", "a/b/", "a\\b\\"}, {"..\\..\\x", "x", "..\\..\\x"}, {"ab:c", "ab/c", "ab:c"},
    // Control characters cannot be in Windows names, nor NUL in any: a host
    // reading the name as a C string would see ".." alone.
    {"a\x01" "b", "a_b", "a\x01" "b"}, {"tab\there/x", "tab_here/x", "tab\there/x"},
    {std::string("..\0x/a\0", 7), ".._x/a_", ".._x/a_"},
    // Windows opens device names in every folder and drops a trailing dot or
    // space: such components get a '_'.
    {"CON", "_CON", "CON"}, {"sub/aux.txt", "sub/_aux.txt", "sub/aux.txt"}, {"lpt9", "_lpt9", "lpt9"},
    {"Com1.log/x", "_Com1.log/x", "Com1.log/x"}, {"nul .x", "_nul .x", "nul .x"}, {"prn/", "_prn/", "prn/"},
    {"dot./x", "dot._/x", "dot./x"}, {"space ", "space _", "space "}, {"CONSOLE", "CONSOLE", "CONSOLE"},
    {"com0", "com0", "com0"}, {"lpt10", "lpt10", "lpt10"},
};

TEST(SafeEntryName, RemovesEverythingThatLeadsOutOfTheDestination) {
  for (const auto& [stored, windows, posix] : kSafeNames) {
    EXPECT_EQ(SafeEntryName(stored, NameSafetyRules{true}), windows) << "windows: \"" << stored << '"';
    EXPECT_EQ(SafeEntryName(stored, NameSafetyRules{false}), posix) << "posix: \"" << stored << '"';
  }
}

TEST(SafeEntryName, ResultNeverClimbsOrStartsAtARoot) {
  // Every name built from these pieces comes out relative and without "..".
  const std::vector<std::string> pieces = {"..", ".", "", "a", "C:", "\\", "..\\", "b."};
  for (const bool windows : {false, true}) {
    for (size_t k = 0; k < pieces.size() * pieces.size() * pieces.size(); ++k) {
      const size_t n = pieces.size();
      const std::string name = pieces[k / n / n] + "/" + pieces[k / n % n] + "/" + pieces[k % n];
      const std::string safe = SafeEntryName(name, NameSafetyRules{windows});
      ASSERT_FALSE(safe.empty()) << name;
      EXPECT_NE(safe[0], '/') << name;
      std::string padded = "/" + safe;
      if (padded.back() != '/') padded += '/';
      for (const char* bad : {"/../", "/./", "//"}) {
        EXPECT_EQ(padded.find(bad), std::string::npos) << name << " -> " << safe;
      }
      if (windows) { EXPECT_EQ(safe.find_first_of("\\:"), std::string::npos) << name << " -> " << safe; }
    }
  }
}

TEST(TruncateName, CutsAtASeparatorInTheSecondHalfAndNeverExceedsTheLimit) {
  // Short names stay whole; a separator only in the first half: cut mid-component; one right at the limit.
  EXPECT_EQ(TruncateName("a/b/c", 5, '/') + " [" + TruncateName("", 0, '/') + "] " +
                TruncateName("abcdef/ghijkl", 10, '/') + " " + TruncateName("ab/cdefghijkl", 10, '/') + " " +
                TruncateName("abcdefghij/k", 10, '/') + " " + TruncateName("a\\bbbbbbbbbbbbbbbbbb", 10, '\\'),
            "a/b/c [] abcdef ab/cdefghi abcdefghij a\\bbbbbbbb");
  const std::string name = "folder/sub folder/another/x/yy/zzz/file name.txt";
  for (size_t limit = 0; limit <= name.size() + 2; ++limit) {
    const std::string cut = TruncateName(name, limit, '/');
    EXPECT_LE(cut.size(), limit) << limit;
    EXPECT_EQ(name.compare(0, cut.size(), cut), 0) << limit;  // a prefix of the name
  }
}

TEST(NamesClash, FindsEntriesThatCannotBeExtractedSideBySide) {
  using Names = std::vector<std::string>;
  const std::tuple<Names, Names, bool> cases[] = {  // added, old, whether they clash
      {{"d", "d/x"}, {}, true},  {{"d/", "d"}, {}, true}, {{"a", "a"}, {}, true},  // within one call
      {{"d"}, {"d/x"}, true},    {{"d/x"}, {"d"}, true},
      {{"d"}, {"d"}, false},                    // a file replaced
      {{"d/", "d/y"}, {"d/", "d/x"}, false},    // folders merged
      {{"dx", "d.txt"}, {"d/", "d/e"}, false},  // a longer name is another name
  };
  for (const auto& [added, old, clash] : cases) {
    EXPECT_EQ(NamesClash(added, old, false), clash) << added.front() << " + " << added.back();
  }
}

}  // namespace
}  // namespace tvx
