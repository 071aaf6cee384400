// Path arithmetic on strings: names beside a file, file name parts and
// trailing separators.
#include <gtest/gtest.h>

#include <string>

#include "commonsU/path_text.h"

namespace tvx {
namespace {

bool IsBackslashOrColon(char c) { return c == '\\' || c == ':'; }
bool IsSlash(char c) { return c == '/'; }

TEST(ReplaceExtension, ReplacesFromTheLastDotOfTheWholePath) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\a\\b.dat", "C:\\a\\b___"},
      {"C:\\a\\b", "C:\\a\\b___"},
      {"C:\\a.d\\b", "C:\\a___"},  // the dot of a folder name counts too
      {"C:\\a\\b.tar.gz", "C:\\a\\b.tar___"},
      {"D:\\tools.old\\backup", "D:\\tools___"},
      {"", "___"},
      {".hidden", "___"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceExtension(c.path, "___"), c.expected) << c.path;
}

TEST(FileNamePart, TakesTheTextAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\a\\b.txt", "b.txt"},
      {"C:b.txt", "b.txt"},
      {"C:\\a\\", ""},
      {"b.txt", "b.txt"},
      {"", ""},
      {"a/b\\c", "c"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileNamePart(c.path, IsBackslashOrColon), c.expected) << c.path;
  EXPECT_EQ(FileNamePart("C:\\a/b.txt", IsSlash), "b.txt");
  EXPECT_EQ(FileNamePart("C:\\a\\b.txt", IsSlash), "C:\\a\\b.txt");
}

bool IsWindowsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

TEST(WithoutTrailingSeparators, DropsThemButKeepsARoot) {
  struct Case {
    const char* path;
    bool (*isSeparator)(char);
    const char* expected;
  };
  const Case cases[] = {
      {"out/sub//", IsSlash, "out/sub"},      {"out/sub", IsSlash, "out/sub"},
      {"/", IsSlash, "/"},                    {"//", IsSlash, "/"},
      {"a:/", IsSlash, "a:"},                 {"C:\\out\\/", IsWindowsSeparator, "C:\\out"},
      {"C:\\", IsWindowsSeparator, "C:\\"}, {"C:\\\\", IsWindowsSeparator, "C:\\"},
      {"C:", IsWindowsSeparator, "C:"},       {"\\\\srv\\share\\", IsWindowsSeparator, "\\\\srv\\share"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutTrailingSeparators(c.path, c.isSeparator), c.expected) << c.path;
}

}  // namespace
}  // namespace tvx
