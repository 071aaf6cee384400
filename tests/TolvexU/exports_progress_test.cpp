// The progress callback set with SetProcessDataProc, as the host sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using Report = std::pair<std::string, int>;

std::vector<Report>& Reports() {
  static std::vector<Report> reports;
  return reports;
}

int WCX_API RecordProgress(char* fileName, int size) {
  Reports().emplace_back(fileName != nullptr ? fileName : "<null>", size);
  return 1;
}

class PluginProgress : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    Reports().clear();
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

TEST_F(PluginProgress, ReadHeaderAloneReportsNothing) {
  HostArchive archive(module(), WriteArchive("p.tvx", {{"a.txt", "a"}, {"b.txt", "b"}}));
  Listen();
  while (archive.ReadHeader() == 0) {
  }
  EXPECT_TRUE(Reports().empty());
}

// The kept entries' copy as a share of the current item, which leaves the
// host's byte count to the files added.
TEST_F(PluginProgress, PackingReportsTheKeptCopyAsAShareThenEachNewEntry) {
  const std::string archivePath = WriteArchive("p.tvx", {{"kept.txt", "kept"}});
  ASSERT_TRUE(std::filesystem::create_directory(Path("docs")));
  ASSERT_TRUE(WriteFileBytes(Path("docs") + NativeSeparator() + "a.txt", Compressible(3000)));
  ASSERT_TRUE(WriteFileBytes(Path("b.txt"), "bee"));
  Listen();
  EXPECT_EQ(PackWith(module(), archivePath, nullptr, SrcPath(),
                     {ListForm("docs/"), ListForm("docs/a.txt"), "b.txt"}, PK_PACK_SAVE_PATHS),
            0);
  const std::vector<Report> expected = {
      {ReportedForm("kept.txt"), -100},
      {ReportedForm("docs/"), 0},
      {ReportedForm("docs/a.txt"), 3000},
      {ReportedForm("b.txt"), 3},
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

}  // namespace
}  // namespace tvx::test
