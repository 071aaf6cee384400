// Choosing entries by name: the DeleteList and extract's selection.
#include "delete_list.h"
#include "entry_selection.h"

#include <gtest/gtest.h>

namespace tvx::cli {
namespace {

std::vector<ArchiveEntry> Entries(const HostDialect& d, std::vector<const char*> names) {
  std::vector<ArchiveEntry> entries;
  for (const char* name : names) {
    ArchiveEntry e;
    e.name = name;
    e.key = CanonicalKey(d, name);
    e.directory = e.name.back() == '/';
    entries.push_back(e);
  }
  return entries;
}

std::vector<ArchiveEntry> Sample(const HostDialect& d) {
  return Entries(d, {"docs/", "docs/a.txt", "docs/sub/b.txt", "notes.txt", "implicit/x.txt", "e\x1bq"});
}

// Folders become wildcard items, also one without an entry of its own; files
// stay exact, in the Windows dialect in the archive's case and with
// backslashes; unknown names are reported, not sent.
TEST(CliDeleteList, FoldersBecomeWildcardItemsFilesStayExactAndUnknownNamesAreNotSent) {
  struct Row {
    const HostDialect& d;
    std::vector<std::string> names;
    std::string list;
    int count;
  };
  const Row rows[] = {
      {kPosixDialect, {"docs", "notes.txt", "implicit/"}, std::string("docs/*.*\0notes.txt\0implicit/*.*\0\0", 33), 3},
      {kPosixDialect, {"docs/sub"}, std::string("docs/sub/*.*\0\0", 14), 1},
      {kWindowsDialect, {"DOCS\\A.TXT", "Docs/"}, std::string("docs\\a.txt\0docs\\*.*\0\0", 21), 2},
      {kPosixDialect, {"nope", "doc", "notes.txt/", "/"}, std::string("\0", 1), 0},
      // As list shows it, and as it is.
      {kPosixDialect, {"e\\x1bq", "e\x1bq"}, std::string("e\x1bq\0e\x1bq\0\0", 9), 2},
      {kWindowsDialect, {"e\\x1Bq"}, std::string("e\x1bq\0\0", 5), 1},
  };
  for (const Row& row : rows) {
    const DeletePlan plan = PlanDelete(row.d, Sample(row.d), row.names);
    EXPECT_EQ(plan.list, row.list) << row.names[0];
    EXPECT_EQ(plan.count, row.count) << row.names[0];
    EXPECT_EQ(plan.unmatched.size(), row.names.size() - static_cast<size_t>(row.count)) << row.names[0];
  }
}

// Archives written on Linux or by other tools may hold names that differ only
// in case: an exact spelling wins, another case stands in only where it is the
// one candidate, and a name that could mean several entries chooses none.
TEST(CliDeleteList, WindowsPrefersTheExactSpellingAndRefusesAGuess) {
  std::vector<ArchiveEntry> entries = Sample(kWindowsDialect);
  for (const ArchiveEntry& e : Entries(kWindowsDialect, {"A.txt", "a.txt", "Docs/x", "docs/x"})) entries.push_back(e);
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
  EXPECT_TRUE(EntrySelection(kPosixDialect, {"e\\x1bq"}, Sample(kPosixDialect)).Chooses("e\x1bq"));
}

TEST(CliEntrySelection, NoNamesChooseAllAndUnmatchedNamesAreListed) {
  EXPECT_TRUE(EntrySelection(kPosixDialect, {}, {}).Chooses("anything"));
  const EntrySelection selection(kPosixDialect, {"notes.txt", "missing", "implicit"}, Sample(kPosixDialect));
  EXPECT_EQ(selection.Unmatched(), (std::vector<std::string>{"missing"}));
}

}  // namespace
}  // namespace tvx::cli
