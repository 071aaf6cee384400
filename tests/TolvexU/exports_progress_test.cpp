// The progress callback set with SetProcessDataProc, as the host sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/fault_scene.h"
#include "support/plugin_test.h"

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

using Report = std::pair<std::string, int>;

std::vector<Report> g_reports;  // every report heard, in order

// The report that the host answers with 0, the user's Cancel; 0 for none.
size_t g_cancelAt = 0;

int WCX_API RecordProgress(char* fileName, int size) {
  g_reports.emplace_back(fileName != nullptr ? fileName : "<null>", size);
  return g_reports.size() == g_cancelAt ? 0 : 1;
}

class PluginProgress : public PluginTest {
 protected:
  // From now on every report is heard, and none answered with Cancel.
  void Listen() {
    g_reports.clear();
    g_cancelAt = 0;
    module().set_process_data_proc(nullptr, RecordProgress);
  }
};

// Then, cleared, the callback hears nothing of a test, a pack or a delete.
TEST_F(PluginProgress, EachProcessFileReportsTheNameAndTheUnpackedSizeOnceUntilCleared) {
  const std::string big = Compressible(5000);
  const std::string path = WriteArchive(
      "p.tvx", {{"docs/", ""}, Deflated("docs/big.txt", big), {"small.txt", "12345"}, DamagedDeflated("bad.txt", big)});
  Listen();
  {
    HostArchive archive(module(), path);
    const std::pair<int, int> steps[] = {{PK_EXTRACT, 0}, {PK_TEST, 0}, {PK_SKIP, 0}, {PK_TEST, E_BAD_DATA}};
    for (const auto& [operation, result] : steps) {
      ASSERT_EQ(archive.ReadHeader(), 0);
      EXPECT_EQ(archive.Process(operation, nullptr, Path("docs")), result) << operation;
    }
    EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
  }
  EXPECT_EQ(g_reports, (std::vector<Report>{{ReportedForm("docs/"), 0},
                                            {ReportedForm("docs/big.txt"), 5000},  // not the packed size
                                            {ReportedForm("small.txt"), 5},
                                            {ReportedForm("bad.txt"), 5000}}));
  g_reports.clear();
  module().set_process_data_proc(nullptr, nullptr);
  EXPECT_EQ(ListAndTest(module(), path).entries.size(), 4u);  // every entry tested
  ASSERT_TRUE(WriteFileBytes(Path("b.txt"), "b"));
  EXPECT_EQ(PackWith(module(), path, nullptr, SrcPath(), {"b.txt"}, 0), 0);
  EXPECT_EQ(DeleteWith(module(), path, {"small.txt"}), 0);
  EXPECT_TRUE(g_reports.empty());
}

// --- Cancel ---------------------------------------------------------------------

// The first four are the scene's changes, in SceneChange's order.
enum class Work { kPack, kPackAndMove, kCreate, kDelete, kExtract, kExtractOver, kTest };
enum class CancelAt { kFirst, kMiddle, kLast };

bool Changes(Work work) { return work <= Work::kDelete; }
SceneChange ChangeOf(Work work) { return Changes(work) ? static_cast<SceneChange>(work) : SceneChange::kPack; }

// Large enough that the big entries come in three pieces each.
constexpr size_t kCancelScene = 2500000;

// How far the host got: the last result, and for an extraction or a test
// the entries it asked for, the last one the one it stopped at.
struct HostRun {
  int result = 0;
  std::vector<std::string> names;
};

class PluginCancel : public PluginProgress, public ::testing::WithParamInterface<std::tuple<Work, CancelAt>> {
 protected:
  PluginCancel() : scene_(SharedFaultScene(kCancelScene)), folders_(scene_) {}

  std::string Out() const { return folders_.root() + NativeSeparator() + "out"; }
  std::string Target(const std::string& name) const { return Out() + NativeSeparator() + ListForm(name); }

  // Lays the scene out again and does the work as the host does.
  HostRun Run(Work work) {
    folders_.ResetFor(ChangeOf(work));
    std::error_code ec;
    fs::remove_all(Out(), ec);
    g_reports.clear();
    std::string archive = folders_.archive(), src = folders_.SrcPath();
    std::string list = work == Work::kDelete ? folders_.DeleteList() : folders_.PackList();
    const int flags = PK_PACK_SAVE_PATHS | (work == Work::kPackAndMove ? PK_PACK_MOVE_FILES : 0);
    if (work == Work::kDelete) return {module().delete_files(&archive[0], &list[0]), {}};
    if (Changes(work)) return {module().pack_files(&archive[0], nullptr, &src[0], &list[0], flags), {}};
    fs::create_directories(Out(), ec);
    for (const SceneEntry& entry : work == Work::kExtractOver ? scene_.oldContent : std::vector<SceneEntry>()) {
      if (entry.name.back() == '/') fs::create_directories(Target(entry.name), ec);
      else WriteFileBytes(Target(entry.name), "there before");
    }
    HostRun run;
    HostArchive opened(module(), archive);
    while (run.result == 0 && opened.ReadHeader() == 0) {
      run.names.push_back(scene_.oldContent[run.names.size()].name);
      run.result = work == Work::kTest ? opened.Test() : opened.ExtractTo(Target(run.names.back()));
    }
    return run;  // CloseArchive follows, as the host closes the archive after a failure
  }

  // Every entry's pieces add up to its size, each at most a MiB. The copy of
  // kept entries comes first: while packing as reports of no bytes, while
  // deleting as rising shares in both forms that end complete.
  void ExpectPiecesOf(Work work) const {
    const bool packing = Changes(work) && work != Work::kDelete;
    const std::vector<SceneEntry> expected =
        packing ? scene_.packed : (work == Work::kDelete ? std::vector<SceneEntry>() : scene_.oldContent);
    size_t first = 0;  // the first report of an entry's content
    for (; packing && first < g_reports.size() && g_reports[first].first != ReportedForm(expected[0].name); ++first) {
      EXPECT_EQ(g_reports[first].second, 0) << g_reports[first].first;
    }
    std::vector<std::pair<std::string, long long>> sums, expectedSums;
    for (const SceneEntry& entry : expected) expectedSums.emplace_back(ReportedForm(entry.name), entry.content.size());
    std::vector<int> shares;
    size_t mostPieces = 0, pieces = 0;
    for (size_t i = first; i < g_reports.size(); ++i) {
      const auto& [name, size] = g_reports[i];
      if (size < 0) { shares.push_back(size); continue; }
      EXPECT_LE(size, 1 << 20) << name;
      if (sums.empty() || sums.back().first != name) {
        sums.emplace_back(name, 0);
        pieces = 0;
      }
      sums.back().second += size;
      mostPieces = std::max(mostPieces, ++pieces);
    }
    EXPECT_EQ(sums, expectedSums);
    EXPECT_TRUE(expected.empty() || mostPieces >= 3u) << "a large entry in one report";
    if (work != Work::kDelete) {
      EXPECT_TRUE(shares.empty());
      EXPECT_TRUE(!packing || work == Work::kCreate || first >= 3u) << "the kept copy in one report";
      return;
    }
    // -P for the current item, then -(1000 + P) for the whole.
    ASSERT_GE(shares.size(), 6u);
    ASSERT_EQ(shares.size() % 2, 0u);
    for (size_t i = 0; i < shares.size(); i += 2) {
      EXPECT_EQ(shares[i + 1], shares[i] - 1000);
      EXPECT_TRUE(i == 0 || shares[i] < shares[i - 2]) << "share " << shares[i] << " after " << shares[i - 2];
    }
    EXPECT_EQ(shares.back(), -1100);
  }

  const FaultScene& scene_;
  SceneFolders folders_;
};

const char* const kWorkNames[] = {"pack", "pack_and_move", "create", "delete", "extract", "extract_over_files", "test"};
const char* const kAtNames[] = {"first", "middle", "last"};
std::string CaseName(const ::testing::TestParamInfo<std::tuple<Work, CancelAt>>& info) {
  return std::string(kWorkNames[static_cast<int>(std::get<0>(info.param))]) + "_" +
         kAtNames[static_cast<int>(std::get<1>(info.param))];
}

// The host answers 0 at the first, a middle or the last report: the work
// stops there, an archive being changed stays byte for byte as it was (a new
// one is not made), no source goes, nothing is left behind; an extraction
// keeps what came before and nothing of the entry it stopped in.
TEST_P(PluginCancel, StopsAtTheReportAndLeavesNothingOfTheUnfinishedWork) {
  const auto [work, at] = GetParam();
  TempFolderRedirect temp(folders_.tempFolder());
  Listen();
  const HostRun clean = Run(work);
  ASSERT_EQ(clean.result, 0);
  if (Changes(work)) { EXPECT_TRUE(ArchiveHolds(folders_.archive(), scene_.After(ChangeOf(work)))); }
  ExpectPiecesOf(work);
  const size_t reports = g_reports.size();
  fs::file_time_type folderTime{};
  const std::string folder = Target("docs");  // Windows dates no name with a trailing separator
  if (work == Work::kExtract) folderTime = fs::last_write_time(folder);

  g_cancelAt = at == CancelAt::kFirst ? 1 : at == CancelAt::kMiddle ? (reports + 1) / 2 : reports;
  const HostRun run = Run(work);
  EXPECT_EQ(run.result, E_EABORTED);
  EXPECT_EQ(g_reports.size(), g_cancelAt) << "reports after the one that said stop";
  EXPECT_TRUE(folders_.SourcesIntact());
  EXPECT_EQ(folders_.Leftovers(), std::vector<std::string>());
  if (Changes(work)) {
    EXPECT_TRUE(work == Work::kCreate ? !PathExists(folders_.archive())
                                      : ReadFileBytes(folders_.archive()) == folders_.oldBytes())
        << "the archive changed, or a new one was made";
    return;
  }
  ASSERT_FALSE(run.names.empty());
  EXPECT_EQ(ReportedForm(run.names.back()), g_reports.back().first);
  if (work == Work::kTest) return;
  const bool over = work == Work::kExtractOver;
  for (const SceneEntry& entry : scene_.oldContent) {
    const std::string target = Target(entry.name);
    const bool done = std::find(run.names.begin(), run.names.end() - 1, entry.name) != run.names.end() - 1;
    const std::string found = fs::is_directory(target) ? "<folder>"
                              : PathExists(target)     ? ReadFileBytes(target)
                                                       : "<none>";
    const std::string expected = entry.name.back() == '/' ? (done || over ? "<folder>" : "<none>")
                                 : done                   ? entry.content
                                 : over                   ? "there before"
                                                          : "<none>";  // never a cut file
    EXPECT_TRUE(found == expected) << entry.name << " holds " << found.size() << " bytes";
  }
  for (const auto& found : fs::recursive_directory_iterator(Out())) {
    EXPECT_EQ(found.path().string().find(".tvxpart"), std::string::npos) << found.path().string();
  }
  // CloseArchive still dates what was extracted.
  if (work == Work::kExtract && PathExists(folder)) { EXPECT_EQ(fs::last_write_time(folder), folderTime); }
}

INSTANTIATE_TEST_SUITE_P(EveryWork, PluginCancel,
                         ::testing::Combine(::testing::Values(Work::kPack, Work::kPackAndMove, Work::kCreate,
                                                              Work::kDelete, Work::kExtract, Work::kExtractOver,
                                                              Work::kTest),
                                            ::testing::Values(CancelAt::kFirst, CancelAt::kMiddle, CancelAt::kLast)),
                         CaseName);

}  // namespace
}  // namespace tvx::test
