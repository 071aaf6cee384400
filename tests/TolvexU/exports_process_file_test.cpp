// ProcessFile through the loaded module: testing, skipping and extracting the
// entry the last ReadHeader reported, and the names the host joins to its
// destination folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/plugin_test.h"

namespace tvx::test {
namespace {

using PluginProcessFile = PluginTest;

const std::string kGoodContent = Compressible(4000, 'g');
const std::string kDamagedContent = Compressible(4000, 'd');

std::vector<RawEntry> GoodAndDamaged() {
  return {Deflated("good.txt", kGoodContent), DamagedDeflated("damaged.txt", kDamagedContent),
          {"stored.txt", "stored bytes"}};
}

TEST_F(PluginProcessFile, TestVerifiesTheDataOfEachEntry) {
  HostArchive archive(module(), WriteArchive("mixed.tvx", GoodAndDamaged()));
  ASSERT_NE(archive.handle(), nullptr);
  const int expected[] = {0, E_BAD_DATA, 0};
  for (int code : expected) {
    ASSERT_EQ(archive.ReadHeader(), 0);
    EXPECT_EQ(archive.Test(), code);
  }
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
}

TEST_F(PluginProcessFile, TestFindsDeflatedDataThatEndsEarly) {
  RawEntry truncated = Deflated("short.txt", kGoodContent);
  truncated.data.resize(truncated.data.size() / 2);
  HostArchive archive(module(), WriteArchive("short.tvx", {truncated}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Test(), E_BAD_DATA);
}

TEST_F(PluginProcessFile, SkipReadsNothingAndSoSucceedsOnDamagedData) {
  HostArchive archive(module(), WriteArchive("mixed.tvx", GoodAndDamaged()));
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(archive.ReadHeader(), 0);
    EXPECT_EQ(archive.Skip(), 0) << "entry " << i;
  }
  EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
}

TEST_F(PluginProcessFile, AnyOtherOperationExtractsLikeExtract) {
  HostArchive archive(module(), WriteArchive("good.tvx", {Deflated("good.txt", kGoodContent)}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  const std::string target = Path("by-operation-3.txt");
  EXPECT_EQ(archive.Process(3, nullptr, target), 0);
  EXPECT_EQ(ReadFileBytes(target), kGoodContent);
}

TEST_F(PluginProcessFile, DestPathAndDestNameAreJoinedWithOneSeparator) {
  HostArchive archive(
      module(), WriteArchive("four.tvx", {{"a.txt", "first"}, {"b.txt", "second"}, {"c.txt", "third"}, {"d/", ""}}));
  ASSERT_NE(archive.handle(), nullptr);

  const std::string folder = WorkFolder() + NativeSeparator();
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &folder, "a.txt"), 0);
  EXPECT_EQ(ReadFileBytes(Path("a.txt")), "first");

  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, nullptr, Path("b-full.txt")), 0);
  EXPECT_EQ(ReadFileBytes(Path("b-full.txt")), "second");

  // A DestPath without its separator is the folder all the same.
  const std::string out = Path("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &out, "c.txt"), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &out, "d"), 0);
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"c.txt", "d"}));
  EXPECT_FALSE(PathExists(Path("outc.txt")));
}

TEST_F(PluginProcessFile, WithoutACurrentEntryEveryOperationIsEndOfArchive) {
  HostArchive archive(module(), WriteArchive("one.tvx", {{"a.txt", "content"}}));
  const std::string target = Path("a.txt");
  const auto expectEnd = [&](const char* when) {
    for (int operation : {PK_SKIP, PK_TEST, PK_EXTRACT})
      EXPECT_EQ(archive.Process(operation, nullptr, target), E_END_ARCHIVE) << when << ", operation " << operation;
  };
  expectEnd("before the first ReadHeader");
  ASSERT_EQ(archive.ReadHeader(), 0);
  ASSERT_EQ(archive.Skip(), 0);
  expectEnd("after the entry was processed");
  ASSERT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
  expectEnd("after the end");
  EXPECT_FALSE(PathExists(target));
}

TEST_F(PluginProcessFile, ExtractingAFolderEntryCreatesTheFolder) {
  HostArchive archive(module(), WriteArchive("folder.tvx", {{"docs/", ""}}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.ExtractTo(Path("docs")), 0);
  EXPECT_TRUE(std::filesystem::is_directory(Path("docs")));
}

TEST_F(PluginProcessFile, TargetInAMissingFolderCannotBeCreated) {
  HostArchive archive(module(), WriteArchive("good.tvx", {{"a.txt", "content"}}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  const std::string target = Path("missing") + NativeSeparator() + "a.txt";
  EXPECT_EQ(archive.ExtractTo(target), E_ECREATE);
  EXPECT_FALSE(PathExists(Path("missing")));
}

TEST_F(PluginProcessFile, DamagedEntryIsBadDataAndLeavesNoFile) {
  HostArchive archive(module(), WriteArchive("mixed.tvx", GoodAndDamaged()));
  ASSERT_EQ(archive.ReadHeader(), 0);
  ASSERT_EQ(archive.Skip(), 0);
  ASSERT_EQ(archive.ReadHeader(), 0);
  const TempDir out;
  EXPECT_EQ(archive.ExtractTo(out.File("damaged.txt")), E_BAD_DATA);
  EXPECT_EQ(FolderListing(out.path()), std::vector<std::string>()) << "a partial file was left";
}

TEST_F(PluginProcessFile, DamagedEntryKeepsAnExistingFileOfThatName) {
  HostArchive archive(module(), WriteArchive("damaged.tvx", {DamagedDeflated("d.txt", kDamagedContent)}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  ASSERT_TRUE(WriteFileBytes(Path("d.txt"), "the user's file"));
  EXPECT_EQ(archive.ExtractTo(Path("d.txt")), E_BAD_DATA);
  EXPECT_EQ(ReadFileBytes(Path("d.txt")), "the user's file");
}

// True when the reported name could lead outside the folder it is joined to.
std::string WhyUnsafe(const std::string& reported) {
#ifdef _WIN32
  if (reported.empty() || reported[0] != '\\') return "no leading separator";
  const std::string rest = reported.substr(1);
  if (rest.find(':') != std::string::npos) return "a drive or stream colon";
  if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) return "a second leading separator";
  const char* separators = "\\/";
#else
  const std::string rest = reported;
  if (!rest.empty() && rest[0] == '/') return "a leading separator";
  const char* separators = "/";
#endif
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of(separators, start);
    if (end == std::string::npos) end = rest.size();
    const std::string component = rest.substr(start, end - start);
    if (component == "..") return "a '..' component";
    start = end + 1;
  }
  return "";
}

TEST_F(PluginProcessFile, UnsafeStoredNamesAreReportedMadeSafe) {
  std::vector<std::string> names = {"../evil", "/abs", "a/../../b", "..", "./../x/", "//twice"};
#ifdef _WIN32
  names.push_back("C:\\x");
  names.push_back("c:relative");
  names.push_back("..\\back");
#endif
  std::vector<RawEntry> entries;
  for (const std::string& name : names) entries.push_back({name, name.back() == '/' ? "" : "data"});
  HostArchive archive(module(), WriteArchive("unsafe.tvx", entries));
  ASSERT_NE(archive.handle(), nullptr);

  const std::string out = Path("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  for (const std::string& name : names) {
    tHeaderData header{};
    ASSERT_EQ(archive.ReadHeader(header), 0) << name;
    const std::string reported = header.FileName;
    EXPECT_EQ(WhyUnsafe(reported), "") << name << " reported as " << reported;
    // The host joins the folder and the name; whatever comes of it stays inside.
#ifdef _WIN32
    archive.ExtractTo(out + reported);
#else
    archive.ExtractTo(out + "/" + reported);
#endif
  }
  std::vector<std::string> top = FolderListing(WorkFolder());
  EXPECT_EQ(top, (std::vector<std::string>{"out", "unsafe.tvx"})) << "something was written outside the folder";
}

}  // namespace
}  // namespace tvx::test
