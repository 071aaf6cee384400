// Choosing entries by name: the DeleteList and extract's selection.
#include "delete_list.h"
#include "entry_selection.h"

#include <gtest/gtest.h>

namespace tvx::cli {
namespace {

std::vector<ArchiveEntry> Sample(const HostDialect& d) {
  std::vector<ArchiveEntry> entries;
  for (const char* name : {"docs/", "docs/a.txt", "docs/sub/b.txt", "notes.txt", "implicit/x.txt"}) {
    ArchiveEntry e;
    e.name = name;
    e.key = CanonicalKey(d, name);
    e.directory = e.name.back() == '/';
    entries.push_back(e);
  }
  return entries;
}

TEST(CliDeleteList, FoldersBecomeWildcardItemsAndFilesStayExact) {
  const DeletePlan plan = PlanDelete(kPosixDialect, Sample(kPosixDialect), {"docs", "notes.txt", "implicit/"});
  EXPECT_EQ(plan.count, 3);
  EXPECT_TRUE(plan.unmatched.empty());
  EXPECT_EQ(plan.list, std::string("docs/*.*\0notes.txt\0implicit/*.*\0\0", 33));
}

TEST(CliDeleteList, FolderWithoutItsOwnEntryIsStillAFolder) {
  const DeletePlan plan = PlanDelete(kPosixDialect, Sample(kPosixDialect), {"docs/sub"});
  EXPECT_EQ(plan.list, std::string("docs/sub/*.*\0\0", 14));
}

TEST(CliDeleteList, WindowsSpellsTheArchivesCaseWithBackslashes) {
  const DeletePlan plan = PlanDelete(kWindowsDialect, Sample(kWindowsDialect), {"DOCS\\A.TXT", "Docs/"});
  EXPECT_EQ(plan.list, std::string("docs\\a.txt\0docs\\*.*\0\0", 21));
}

TEST(CliDeleteList, UnknownNamesAreReportedNotSent) {
  const DeletePlan plan = PlanDelete(kPosixDialect, Sample(kPosixDialect), {"nope", "doc", "notes.txt/", "/"});
  EXPECT_EQ(plan.count, 0);
  EXPECT_EQ(plan.unmatched.size(), 4u);
  EXPECT_EQ(plan.list, std::string("\0", 1));
}

// Archives written on Linux or by other tools may hold names that differ only
// in case: an exact spelling wins, another case stands in only where it is the
// one candidate, and a name that could mean several entries chooses none.
TEST(CliDeleteList, WindowsPrefersTheExactSpellingAndRefusesAGuess) {
  std::vector<ArchiveEntry> entries = Sample(kWindowsDialect);
  for (const char* name : {"A.txt", "a.txt", "Docs/x", "docs/x"}) {
    ArchiveEntry e;
    e.name = name;
    e.key = CanonicalKey(kWindowsDialect, name);
    entries.push_back(e);
  }
  const DeletePlan plan = PlanDelete(kWindowsDialect, entries, {"A.txt", "Docs\\x", "NOTES.TXT"});
  EXPECT_EQ(plan.list, std::string("A.txt\0Docs\\x\0notes.txt\0\0", 24));
  EXPECT_TRUE(plan.ambiguous.empty());
  const DeletePlan guess = PlanDelete(kWindowsDialect, entries, {"A.TXT", "DOCS/X"});
  EXPECT_EQ(guess.ambiguous.size(), 2u);
  EXPECT_EQ(guess.count, 0);

  const EntrySelection exact(kWindowsDialect, {"a.txt", "Docs"}, entries);
  EXPECT_TRUE(exact.Chooses("a.txt"));
  EXPECT_FALSE(exact.Chooses("A.txt"));
  EXPECT_TRUE(exact.Chooses("Docs/x"));
  EXPECT_FALSE(exact.Chooses("docs/x"));
  EXPECT_FALSE(exact.Chooses("docs/a.txt"));
  const EntrySelection ambiguous(kWindowsDialect, {"A.TXT"}, entries);
  EXPECT_EQ(ambiguous.Ambiguous().size(), 1u);
  EXPECT_FALSE(ambiguous.Chooses("a.txt"));
  EXPECT_FALSE(ambiguous.Chooses("A.txt"));
}

TEST(CliEntrySelection, FolderChoosesEverythingBelowIt) {
  const EntrySelection selection(kPosixDialect, {"docs/"}, Sample(kPosixDialect));
  EXPECT_TRUE(selection.Chooses("docs"));
  EXPECT_TRUE(selection.Chooses("docs/sub/b.txt"));
  EXPECT_FALSE(selection.Chooses("docs2/x"));
  EXPECT_FALSE(selection.Chooses("notes.txt"));
}

TEST(CliEntrySelection, NoNamesChooseAllAndUnmatchedNamesAreListed) {
  EXPECT_TRUE(EntrySelection(kPosixDialect, {}, {}).Chooses("anything"));
  const EntrySelection selection(kPosixDialect, {"notes.txt", "missing", "implicit"}, Sample(kPosixDialect));
  EXPECT_EQ(selection.Unmatched(), (std::vector<std::string>{"missing"}));
}

}  // namespace
}  // namespace tvx::cli
