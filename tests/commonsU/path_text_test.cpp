// Path arithmetic on strings: names beside a file, file name parts and
// trailing separators.
#include <gtest/gtest.h>

#include <string>

#include "commonsU/path_text.h"

namespace tvx {
namespace {

bool IsBackslashOrColon(char c) { return c == '\\' || c == ':'; }
bool IsSlash(char c) { return c == '/'; }
bool IsWindowsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

struct Case {
  const char* path;
  const char* expected;
  bool (*isSeparator)(char) = IsBackslashOrColon;
};

TEST(ReplaceExtension, ReplacesFromTheLastDotOfTheWholePath) {
  // The dot of a folder name counts too.
  const Case cases[] = {
      {"C:\\a\\b.dat", "C:\\a\\b___"}, {"C:\\a\\b", "C:\\a\\b___"}, {"C:\\a.d\\b", "C:\\a___"}, {"", "___"},
      {"C:\\a\\b.tar.gz", "C:\\a\\b.tar___"}, {"D:\\tools.old\\backup", "D:\\tools___"}, {".hidden", "___"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceExtension(c.path, "___"), c.expected) << c.path;
}

TEST(FileNamePart, TakesTheTextAfterTheLastSeparator) {
  const Case cases[] = {
      {"C:\\a\\b.txt", "b.txt"}, {"C:b.txt", "b.txt"}, {"C:\\a\\", ""}, {"b.txt", "b.txt"}, {"", ""},
      {"a/b\\c", "c"},           {"C:\\a/b.txt", "b.txt", IsSlash},    {"C:\\a\\b.txt", "C:\\a\\b.txt", IsSlash},
  };
  for (const Case& c : cases) EXPECT_EQ(FileNamePart(c.path, c.isSeparator), c.expected) << c.path;
}

TEST(WithoutTrailingSeparators, DropsThemButKeepsARoot) {
  const Case cases[] = {
      {"out/sub//", "out/sub", IsSlash},      {"out/sub", "out/sub", IsSlash},
      {"/", "/", IsSlash},                    {"//", "/", IsSlash},
      {"a:/", "a:", IsSlash},                 {"C:\\out\\/", "C:\\out", IsWindowsSeparator},
      {"C:\\", "C:\\", IsWindowsSeparator},   {"C:\\\\", "C:\\", IsWindowsSeparator},
      {"C:", "C:", IsWindowsSeparator},       {"\\\\srv\\share\\", "\\\\srv\\share", IsWindowsSeparator},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutTrailingSeparators(c.path, c.isSeparator), c.expected) << c.path;
}

}  // namespace
}  // namespace tvx
