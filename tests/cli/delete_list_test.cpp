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

TEST(CliEntrySelection, FolderChoosesEverythingBelowIt) {
  const EntrySelection selection(kPosixDialect, {"docs/"});
  EXPECT_TRUE(selection.Chooses("docs"));
  EXPECT_TRUE(selection.Chooses("docs/sub/b.txt"));
  EXPECT_FALSE(selection.Chooses("docs2/x"));
  EXPECT_FALSE(selection.Chooses("notes.txt"));
}

TEST(CliEntrySelection, NoNamesChooseAllAndUnmatchedNamesAreListed) {
  EXPECT_TRUE(EntrySelection(kPosixDialect, {}).Chooses("anything"));
  const EntrySelection selection(kPosixDialect, {"notes.txt", "missing", "implicit"});
  EXPECT_EQ(selection.Unmatched(Sample(kPosixDialect)), (std::vector<std::string>{"missing"}));
}

}  // namespace
}  // namespace tvx::cli
