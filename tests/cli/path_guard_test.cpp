// The extraction guard: every reported name either lands below the
// destination folder or is refused.
#include "path_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tvx::cli {
namespace {

// The relative path the guard makes of name, or "refused" when it gives a reason.
std::string Guarded(const HostDialect& d, const std::string& name) {
  const GuardedName g = GuardEntryName(d, name);
  return g.ok ? g.relative : g.reason.empty() ? "refused without a reason" : "refused";
}

TEST(CliPathGuard, KeepsOrdinaryNamesWithoutEmptyAndDotComponents) {
  const std::tuple<const HostDialect&, const char*, const char*> rows[] = {
      {kPosixDialect, "docs/a.txt", "docs/a.txt"},   {kPosixDialect, "docs/", "docs"},
      {kPosixDialect, "a..b/..c", "a..b/..c"},       {kPosixDialect, "a//./b", "a/b"},
      {kWindowsDialect, "\\docs\\a.txt", "docs/a.txt"}, {kWindowsDialect, "\\docs\\", "docs"},
      {kWindowsDialect, "\\a\\.\\b", "a/b"},         {kWindowsDialect, "\\console.txt", "console.txt"},
      {kWindowsDialect, "\\COM10", "COM10"},
      // POSIX takes a backslash as part of the name.
      {kPosixDialect, "..\\evil", "..\\evil"},
  };
  for (const auto& [d, name, relative] : rows) EXPECT_EQ(Guarded(d, name), relative) << name;
}

// Parent components anywhere, absolute names, drive and stream prefixes, what
// Windows would turn into a parent or a device, names with nothing left. One
// leading separator is the Windows dialect's own; a second makes it absolute.
TEST(CliPathGuard, RefusesWhatCouldLeaveTheDestination) {
  for (const char* name : {"../evil", "..", "a/../../evil", "a/..", "docs/../../x", "/etc/passwd", "//x", "C:/x", "",
                           ".", "./", "/"})
    EXPECT_EQ(Guarded(kPosixDialect, name), "refused") << name;
  for (const char* name : {"\\..\\evil", "\\a\\..\\..\\x", "\\a/../x", "\\..", "..\\evil", "\\\\server\\share\\x",
                           "\\/x", "\\C:\\Windows\\x.dll", "C:x", "\\docs\\a.txt:hidden", "\\...\\x", "\\.. \\x",
                           "\\a\\. .", "\\CON", "\\docs\\nul.txt", "\\COM1", "\\lpt9.log", "", "\\", "\\.\\"})
    EXPECT_EQ(Guarded(kWindowsDialect, name), "refused") << name;
}

TEST(CliPathGuard, TargetPathStaysBelowTheBase) {
#ifdef _WIN32
  EXPECT_EQ(TargetPath("C:\\out", "docs/a.txt"), "C:\\out\\docs\\a.txt");
#else
  EXPECT_EQ(TargetPath("/out", "docs/a.txt"), "/out/docs/a.txt");
  EXPECT_EQ(TargetPath("/out/", "a"), "/out/a");
#endif
}

#ifndef _WIN32
// The folders the host makes below a destination never go through a link on the way.
TEST(CliPathGuard, FoldersAreMadeRefusingLinksOnTheWay) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("tvx-guard-" + std::to_string(::getpid()));
  fs::create_directories(base / "elsewhere");
  fs::create_directory_symlink(base / "elsewhere", base / "link");
  if (!os::ResolvesWithoutLinks(base.string())) GTEST_SKIP() << "the system cannot refuse links here";
  EXPECT_TRUE(os::MakeFoldersLinkFree(base.string(), "a/b/c") && fs::is_directory(base / "a/b/c"));
  EXPECT_TRUE(os::MakeFoldersLinkFree(base.string(), "a/b"));
  EXPECT_FALSE(os::MakeFoldersLinkFree(base.string(), "link/d") || os::MakeFoldersLinkFree(base.string(), "link"));
  EXPECT_TRUE(fs::is_empty(base / "elsewhere"));
  fs::remove_all(base);
}
#endif

}  // namespace
}  // namespace tvx::cli
