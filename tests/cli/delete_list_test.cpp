// Choosing entries by name: the DeleteList and extract's selection.
#include "delete_list.h"
#include "entry_selection.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tvx::cli {
namespace {

// The sample entries, and with `cased` names that differ only in case as
// archives written on Linux or by other tools may hold them.
std::vector<ArchiveEntry> Entries(const HostDialect& d, bool cased = false) {
  std::vector<std::string> names = {"docs/", "docs/a.txt", "docs/sub/b.txt", "notes.txt", "implicit/x.txt", "e\x1bq"};
  if (cased) names.insert(names.end(), {"A.txt", "a.txt", "Docs/x", "docs/x"});
  std::vector<ArchiveEntry> entries;
  for (const std::string& name : names)
    entries.push_back({"", name, CanonicalKey(d, name), 0, 0, 0, name.back() == '/'});
  return entries;
}

// Names given in a dialect, the entries (`cased`: with the ones that differ
// only in case), and what comes of them.
struct Row {
  const HostDialect& d;
  bool cased;
  std::vector<std::string> names;
  const char* expected;
};

// The plan's list ('|' for each NUL) and count, then each name matched by
// nothing and how many could mean several entries.
std::string Plan(const HostDialect& d, bool cased, const std::vector<std::string>& names) {
  const DeletePlan plan = PlanDelete(d, Entries(d, cased), names);
  std::string text = plan.list + " " + std::to_string(plan.count);
  std::replace(text.begin(), text.end(), '\0', '|');
  for (const std::string& name : plan.unmatched) text += " ?" + name;
  return text + (plan.ambiguous.empty() ? "" : " ambiguous " + std::to_string(plan.ambiguous.size()));
}

// Folders become wildcard items, also one without an entry of its own; files
// stay exact, in the Windows dialect in the archive's case and with
// backslashes; unknown names are reported, not sent. An exact spelling wins,
// another case stands in only where it is the one candidate, and a name that
// could mean several entries chooses none.
TEST(CliDeleteList, FoldersBecomeWildcardItemsFilesStayExactAndUnknownOrAmbiguousNamesAreNotSent) {
  const Row rows[] = {
      {kPosixDialect, false, {"docs", "notes.txt", "implicit/"}, "docs/*.*|notes.txt|implicit/*.*|| 3"},
      {kPosixDialect, false, {"docs/sub"}, "docs/sub/*.*|| 1"},
      {kWindowsDialect, false, {"DOCS\\A.TXT", "Docs/"}, "docs\\a.txt|docs\\*.*|| 2"},
      {kPosixDialect, false, {"nope", "doc", "notes.txt/", "/"}, "| 0 ?nope ?doc ?notes.txt/ ?/"},
      {kWindowsDialect, true, {"A.txt", "Docs\\x", "NOTES.TXT"}, "A.txt|Docs\\x|notes.txt|| 3"},
      {kWindowsDialect, true, {"A.TXT", "DOCS/X"}, "| 0 ambiguous 2"},
      // As list shows it, and as it is.
      {kPosixDialect, false, {"e\\x1bq", "e\x1bq"}, "e\x1bq|e\x1bq|| 2"},
      {kWindowsDialect, false, {"e\\x1Bq"}, "e\x1bq|| 1"},
      // An escape list never shows is no other entry's name.
      {kPosixDialect, false, {"notes\\x2etxt", "docs\\x2fa.txt", "e\\x1bq\\x71"}, "| 0 ?notes\\x2etxt ?docs\\x2fa.txt ?e\\x1bq\\x71"}};
  for (const Row& row : rows) EXPECT_EQ(Plan(row.d, row.cased, row.names), row.expected) << row.names[0];
}

// A folder chooses everything below it, no names choose all; the same
// spelling rules as for delete.
TEST(CliEntrySelection, ChoosesNamesAndWhatIsBelowFoldersAndListsUnmatchedOrAmbiguousNames) {
  const Row rows[] = {
      {kPosixDialect, false, {"docs/"}, "docs docs/a.txt docs/sub/b.txt docs/x"},
      {kPosixDialect, false, {},
       "docs docs/a.txt docs/sub/b.txt docs2/x notes.txt implicit/x.txt a.txt A.txt Docs/x docs/x e\x1bq"},
      {kPosixDialect, false, {"e\\x1bq"}, "e\x1bq"},
      {kPosixDialect, false, {"notes.txt", "missing", "implicit"}, "notes.txt implicit/x.txt ?missing"},
      {kWindowsDialect, true, {"a.txt", "Docs"}, "a.txt Docs/x"}, {kWindowsDialect, true, {"A.TXT"}, " ambiguous 1"}};
  for (const Row& row : rows) {
    const EntrySelection selection(row.d, row.names, Entries(row.d, row.cased));
    std::string chosen;
    for (const char* key : {"docs", "docs/a.txt", "docs/sub/b.txt", "docs2/x", "notes.txt", "implicit/x.txt", "a.txt",
                            "A.txt", "Docs/x", "docs/x", "e\x1bq"})
      if (selection.Chooses(key)) chosen += (chosen.empty() ? "" : " ") + std::string(key);
    for (const std::string& name : selection.Unmatched()) chosen += " ?" + name;
    if (!selection.Ambiguous().empty()) chosen += " ambiguous " + std::to_string(selection.Ambiguous().size());
    EXPECT_EQ(chosen, row.expected) << ::testing::PrintToString(row.names);
  }
}

}  // namespace
}  // namespace tvx::cli
