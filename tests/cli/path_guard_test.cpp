// The extraction guard: every reported name either lands below the
// destination folder or is refused.
#include "path_guard.h"

#include <gtest/gtest.h>

namespace tvx::cli {
namespace {

std::string Accepted(const HostDialect& d, const std::string& name) {
  const GuardedName g = GuardEntryName(d, name);
  EXPECT_TRUE(g.ok) << name << ": " << g.reason;
  return g.relative;
}

void ExpectRefused(const HostDialect& d, const std::string& name) {
  const GuardedName g = GuardEntryName(d, name);
  EXPECT_FALSE(g.ok) << name << " was accepted as " << g.relative;
  EXPECT_FALSE(g.reason.empty());
}

TEST(CliPathGuard, KeepsOrdinaryNamesOfBothDialects) {
  EXPECT_EQ(Accepted(kPosixDialect, "docs/a.txt"), "docs/a.txt");
  EXPECT_EQ(Accepted(kPosixDialect, "docs/"), "docs");
  EXPECT_EQ(Accepted(kWindowsDialect, "\\docs\\a.txt"), "docs/a.txt");
  EXPECT_EQ(Accepted(kWindowsDialect, "\\docs\\"), "docs");
  EXPECT_EQ(Accepted(kPosixDialect, "a..b/..c"), "a..b/..c");
}

TEST(CliPathGuard, DropsEmptyAndDotComponents) {
  EXPECT_EQ(Accepted(kPosixDialect, "a//./b"), "a/b");
  EXPECT_EQ(Accepted(kWindowsDialect, "\\a\\.\\b"), "a/b");
}

TEST(CliPathGuard, RefusesParentComponentsAnywhere) {
  for (const char* name : {"../evil", "..", "a/../../evil", "a/..", "docs/../../x"})
    ExpectRefused(kPosixDialect, name);
  for (const char* name : {"\\..\\evil", "\\a\\..\\..\\x", "\\a/../x", "\\..", "..\\evil"})
    ExpectRefused(kWindowsDialect, name);
}

TEST(CliPathGuard, RefusesAbsoluteNames) {
  ExpectRefused(kPosixDialect, "/etc/passwd");
  ExpectRefused(kPosixDialect, "//x");
  // One leading separator is the Windows dialect's own; a second makes it absolute.
  ExpectRefused(kWindowsDialect, "\\\\server\\share\\x");
  ExpectRefused(kWindowsDialect, "\\/x");
}

TEST(CliPathGuard, RefusesDriveAndStreamPrefixes) {
  ExpectRefused(kWindowsDialect, "\\C:\\Windows\\x.dll");
  ExpectRefused(kWindowsDialect, "C:x");
  ExpectRefused(kWindowsDialect, "\\docs\\a.txt:hidden");
  ExpectRefused(kPosixDialect, "C:/x");
}

TEST(CliPathGuard, RefusesWhatWindowsWouldTurnIntoParentsOrDevices) {
  for (const char* name : {"\\...\\x", "\\.. \\x", "\\a\\. .", "\\CON", "\\docs\\nul.txt", "\\COM1", "\\lpt9.log"})
    ExpectRefused(kWindowsDialect, name);
  EXPECT_EQ(Accepted(kWindowsDialect, "\\console.txt"), "console.txt");
  EXPECT_EQ(Accepted(kWindowsDialect, "\\COM10"), "COM10");
}

TEST(CliPathGuard, PosixTakesBackslashAsPartOfTheName) {
  EXPECT_EQ(Accepted(kPosixDialect, "..\\evil"), "..\\evil");
}

TEST(CliPathGuard, RefusesNamesWithNothingLeft) {
  for (const char* name : {"", ".", "./", "/"}) ExpectRefused(kPosixDialect, name);
  for (const char* name : {"", "\\", "\\.\\"}) ExpectRefused(kWindowsDialect, name);
}

TEST(CliPathGuard, TargetPathStaysBelowTheBase) {
#ifdef _WIN32
  EXPECT_EQ(TargetPath("C:\\out", "docs/a.txt"), "C:\\out\\docs\\a.txt");
#else
  EXPECT_EQ(TargetPath("/out", "docs/a.txt"), "/out/docs/a.txt");
  EXPECT_EQ(TargetPath("/out/", "a"), "/out/a");
#endif
}

}  // namespace
}  // namespace tvx::cli
