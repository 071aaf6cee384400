// The progress callback set with SetProcessDataProc, as the host sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "support/fault_scene.h"
#include "support/plugin_test.h"

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

using Report = std::pair<std::string, int>;

std::vector<Report>& Reports() {
  static std::vector<Report> reports;
  return reports;
}

// The report that the host answers with 0, the user's Cancel; 0 for none.
size_t g_cancelAt = 0;

int WCX_API RecordProgress(char* fileName, int size) {
  Reports().emplace_back(fileName != nullptr ? fileName : "<null>", size);
  return Reports().size() == g_cancelAt ? 0 : 1;
}

class PluginProgress : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    Reports().clear();
    g_cancelAt = 0;
  }
  void Listen() { module().set_process_data_proc(nullptr, RecordProgress); }
};

TEST_F(PluginProgress, EachProcessFileReportsTheNameAndTheUnpackedSizeOnce) {
  const std::string big = Compressible(5000);
  HostArchive archive(module(), WriteArchive("p.tvx", {{"docs/", ""},
                                                        Deflated("docs/big.txt", big),
                                                        {"small.txt", "12345"},
                                                        DamagedDeflated("bad.txt", big)}));
  ASSERT_NE(archive.handle(), nullptr);
  Listen();
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.ExtractTo(Path("docs")), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Test(), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Skip(), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Test(), E_BAD_DATA);
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);

  const std::vector<Report> expected = {
      {ReportedForm("docs/"), 0},
      {ReportedForm("docs/big.txt"), 5000},  // not the packed size
      {ReportedForm("small.txt"), 5},
      {ReportedForm("bad.txt"), 5000},
  };
  EXPECT_EQ(Reports(), expected);
}

TEST_F(PluginProgress, ClearedCallbackIsNeverCalledAgain) {
  const std::string archivePath = WriteArchive("p.tvx", {{"a.txt", "a"}});
  ASSERT_TRUE(WriteFileBytes(Path("b.txt"), "b"));
  Listen();
  module().set_process_data_proc(nullptr, nullptr);
  {
    HostArchive archive(module(), archivePath);
    ASSERT_EQ(archive.ReadHeader(), 0);
    EXPECT_EQ(archive.Test(), 0);
  }
  EXPECT_EQ(PackWith(module(), archivePath, nullptr, SrcPath(), {"b.txt"}, 0), 0);
  EXPECT_EQ(DeleteWith(module(), archivePath, {"a.txt"}), 0);
  EXPECT_TRUE(Reports().empty());
}

// --- Cancel ---------------------------------------------------------------------

enum class Work { kPack, kPackAndMove, kCreate, kDelete, kExtract, kExtractOver, kTest };
enum class CancelAt { kFirst, kMiddle, kLast };

const char* WorkName(Work work) {
  const char* const names[] = {"pack", "pack and move", "create", "delete", "extract", "extract over files", "test"};
  return names[static_cast<int>(work)];
}

bool Changes(Work work) { return work <= Work::kDelete; }

SceneChange ChangeOf(Work work) {
  switch (work) {
    case Work::kPackAndMove: return SceneChange::kPackAndMove;
    case Work::kCreate: return SceneChange::kCreate;
    case Work::kDelete: return SceneChange::kDelete;
    default: return SceneChange::kPack;
  }
}

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
    Reports().clear();
    HostRun run;
    switch (work) {
      case Work::kDelete: {
        std::vector<std::string> names;
        for (const std::string& name : scene_.deletedFiles) names.push_back(ListForm(name));
        for (const std::string& folder : scene_.deletedFolders) names.push_back(ListForm(folder + "*.*"));
        run.result = DeleteWith(module(), folders_.archive(), names);
        return run;
      }
      case Work::kPack:
      case Work::kPackAndMove:
      case Work::kCreate: {
        std::vector<std::string> names;
        for (const SceneEntry& entry : scene_.packed) names.push_back(ListForm(entry.name));
        const int move = work == Work::kPackAndMove ? PK_PACK_MOVE_FILES : 0;
        run.result = PackWith(module(), folders_.archive(), nullptr, folders_.SrcPath(), names,
                              PK_PACK_SAVE_PATHS | move);
        return run;
      }
      default:
        break;
    }
    fs::create_directories(Out(), ec);
    if (work == Work::kExtractOver) {
      for (const SceneEntry& entry : scene_.oldContent) {
        if (entry.name.back() == '/') fs::create_directories(Target(entry.name), ec);
        else WriteFileBytes(Target(entry.name), "there before");
      }
    }
    HostArchive archive(module(), folders_.archive());
    tHeaderData header{};
    while (run.result == 0 && archive.ReadHeader(header) == 0) {
      run.names.push_back(scene_.oldContent[run.names.size()].name);
      run.result = work == Work::kTest ? archive.Test() : archive.ExtractTo(Target(run.names.back()));
    }
    return run;  // CloseArchive follows, as the host closes the archive after a failure
  }

  // Every entry's pieces add up to its size, each at most a MiB. The copy of
  // kept entries comes first: while packing as reports of no bytes, while
  // deleting as rising shares in both forms that end complete.
  void ExpectPiecesOf(Work work) const {
    const bool packing = work == Work::kCreate || work == Work::kPack || work == Work::kPackAndMove;
    std::vector<SceneEntry> expected =
        packing ? scene_.packed : (work == Work::kDelete ? std::vector<SceneEntry>() : scene_.oldContent);
    size_t first = 0;  // the first report of an entry's content
    while (packing && first < Reports().size() && Reports()[first].first != ReportedForm(expected[0].name)) {
      EXPECT_EQ(Reports()[first].second, 0) << Reports()[first].first;
      ++first;
    }
    std::vector<std::pair<std::string, long long>> sums;
    std::vector<int> shares;
    size_t mostPieces = 0, pieces = 0;
    for (size_t i = first; i < Reports().size(); ++i) {
      const Report& report = Reports()[i];
      if (report.second < 0) {
        shares.push_back(report.second);
        continue;
      }
      EXPECT_LE(report.second, 1 << 20) << report.first;
      if (sums.empty() || sums.back().first != report.first) {
        sums.emplace_back(report.first, 0);
        pieces = 0;
      }
      sums.back().second += report.second;
      mostPieces = std::max(mostPieces, ++pieces);
    }
    ASSERT_EQ(sums.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(sums[i].first, ReportedForm(expected[i].name));
      EXPECT_EQ(sums[i].second, static_cast<long long>(expected[i].content.size())) << expected[i].name;
    }
    if (!expected.empty()) {
      EXPECT_GE(mostPieces, 3u) << "a large entry in one report";
    }
    if (work != Work::kDelete) {
      EXPECT_TRUE(shares.empty());
      if (work != Work::kCreate && Changes(work)) {
        EXPECT_GE(first, 3u) << "the kept copy in one report";
      }
      return;
    }
    // -P for the current item, then -(1000 + P) for the whole.
    ASSERT_GE(shares.size(), 6u);
    ASSERT_EQ(shares.size() % 2, 0u);
    for (size_t i = 0; i < shares.size(); i += 2) {
      EXPECT_EQ(shares[i + 1], shares[i] - 1000);
      if (i > 0) {
        EXPECT_LT(shares[i], shares[i - 2]);
      }
    }
    EXPECT_EQ(shares.back(), -1100);
  }

  const FaultScene& scene_;
  SceneFolders folders_;
};

void PrintTo(const std::tuple<Work, CancelAt>& c, std::ostream* os) {
  const char* const at[] = {"the first", "a middle", "the last"};
  *os << WorkName(std::get<0>(c)) << ", cancelled at " << at[static_cast<int>(std::get<1>(c))] << " report";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Work, CancelAt>>& info) {
  const char* const at[] = {"_first", "_middle", "_last"};
  std::string name = std::string(WorkName(std::get<0>(info.param))) + at[static_cast<int>(std::get<1>(info.param))];
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
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
  if (Changes(work)) {
    EXPECT_TRUE(ArchiveHolds(folders_.archive(), scene_.After(ChangeOf(work))));
  }
  ExpectPiecesOf(work);
  const size_t reports = Reports().size();
  fs::file_time_type folderTime{};
  const std::string folder = Target("docs");  // Windows dates no name with a trailing separator
  if (work == Work::kExtract) folderTime = fs::last_write_time(folder);

  g_cancelAt = at == CancelAt::kFirst ? 1 : at == CancelAt::kMiddle ? (reports + 1) / 2 : reports;
  const HostRun run = Run(work);
  EXPECT_EQ(run.result, E_EABORTED);
  EXPECT_EQ(Reports().size(), g_cancelAt) << "reports after the one that said stop";
  EXPECT_TRUE(folders_.SourcesIntact());
  EXPECT_EQ(folders_.Leftovers(), std::vector<std::string>());
  if (Changes(work)) {
    if (work == Work::kCreate) {
      EXPECT_FALSE(PathExists(folders_.archive()));
    } else {
      EXPECT_TRUE(ReadFileBytes(folders_.archive()) == folders_.oldBytes()) << "the archive changed";
    }
    return;
  }
  ASSERT_FALSE(run.names.empty());
  EXPECT_EQ(ReportedForm(run.names.back()), Reports().back().first);
  if (work == Work::kTest) return;
  for (const SceneEntry& entry : scene_.oldContent) {
    const std::string target = Target(entry.name);
    const bool done = std::find(run.names.begin(), run.names.end() - 1, entry.name) != run.names.end() - 1;
    if (entry.name.back() == '/') {
      EXPECT_EQ(PathExists(target), done || work == Work::kExtractOver) << entry.name;
    } else if (done) {
      EXPECT_EQ(ReadFileBytes(target), entry.content) << entry.name;
    } else if (work == Work::kExtractOver) {
      EXPECT_EQ(ReadFileBytes(target), "there before") << entry.name;
    } else {
      EXPECT_FALSE(PathExists(target)) << entry.name << ": a cut file";
    }
  }
  for (const auto& found : fs::recursive_directory_iterator(Out())) {
    EXPECT_EQ(found.path().string().find(".tvxpart"), std::string::npos) << found.path().string();
  }
  // CloseArchive still dates what was extracted.
  if (work == Work::kExtract && PathExists(folder)) {
    EXPECT_EQ(fs::last_write_time(folder), folderTime);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWork, PluginCancel,
                         ::testing::Combine(::testing::Values(Work::kPack, Work::kPackAndMove, Work::kCreate,
                                                              Work::kDelete, Work::kExtract, Work::kExtractOver,
                                                              Work::kTest),
                                            ::testing::Values(CancelAt::kFirst, CancelAt::kMiddle, CancelAt::kLast)),
                         CaseName);

}  // namespace
}  // namespace tvx::test
