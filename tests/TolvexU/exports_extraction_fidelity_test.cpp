// What extraction through the module keeps of an entry and of the file it
// replaces: dates, access, and nothing written for impossible sizes or
// through a link the destination folder does not own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commonsU/entry_time.h"
#include "platform/platform.h"
#include "support/plugin_test.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::test {
namespace {

using PluginExtractionFidelity = PluginTest;

// Entry times in directory order, as the archive's bytes hold them.
std::vector<int32_t> StoredTimes(const std::string& path) {
  std::vector<int32_t> times;
  for (const RecordLayout& record : ParseLayout(ReadFileBytes(path)).records) times.push_back(record.time);
  return times;
}

TEST_F(PluginExtractionFidelity, FilesAndFoldersGetTheirEntriesTimes) {
  // Noon, far from any change of daylight saving time; the last two before
  // the DOS dates begin, which the format holds all the same.
  const std::vector<std::string> names = {"d/", "d/f.txt", "d/e/", "d/1979.txt", "d/1969.txt"};
  const std::string path = WriteArchive("dated.tvx", {{names[0], "", -1, 1300017600},
                                                      {names[1], "content", -1, 1118836800},
                                                      {names[2], "", -1, 1200052800},
                                                      {names[3], "old", -1, 315489600},
                                                      {names[4], "older", -1, -14212800}});
  const std::string out = Path("out") + NativeSeparator();
  ASSERT_TRUE(std::filesystem::create_directory(Path("out")));
  std::vector<std::string> items;
  {
    HostArchive archive(module(), path);
    for (const std::string& name : names) {
      items.push_back(ListForm(name));
      ASSERT_EQ(archive.ReadHeader(), 0);
      ASSERT_EQ(archive.Process(PK_EXTRACT, &out, items.back()), 0) << name;
    }
  }  // CloseArchive: the folders' times are set once more, after their contents

  // Packed again, the extracted files and folders must carry the same times;
  // a file dated after what 32 bits hold gets the latest time they do.
  const std::string future = out + "2039.txt";  // beside d/, whose time stays
  ASSERT_TRUE(WriteFileBytes(future, "future"));
  ASSERT_TRUE(platform::OsSystem().SetModifiedWallClockTime(future, SecondsFromCivil(2039, 6, 1, 12, 0, 0)));
  items.push_back("2039.txt");
  const std::string repacked = Path("repacked.tvx");
  ASSERT_EQ(PackWith(module(), repacked, nullptr, out, items, PK_PACK_SAVE_PATHS), 0);
  std::vector<int32_t> expected = StoredTimes(path);
  expected.push_back(2147483646);  // 2038-01-19 03:14:06
  EXPECT_EQ(StoredTimes(repacked), expected);
}

TEST_F(PluginExtractionFidelity, NegativeSizesAreBadDataAndWriteNothing) {
  // 2 GiB or more, as another writer could claim.
  std::string bytes = ArchiveBytes({{"unpacked.txt", "abc"}, {"packed.txt", "abc"}, {"fine.txt", "ok"}});
  const ArchiveLayout layout = ParseLayout(bytes);
  ASSERT_TRUE(layout.ok);
  bytes.replace(layout.records[0].unpackedAt, 4, FromHex("03 00 00 80"));
  bytes.replace(layout.records[1].packedAt, 4, FromHex("FD FF FF FF"));
  const std::string path = Path("negative.tvx");
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  EXPECT_EQ(ListedNames(module(), path), ReportedForms({"unpacked.txt", "packed.txt", "fine.txt"}));

  for (const int operation : {PK_TEST, PK_EXTRACT}) {
    HostArchive archive(module(), path);
    for (const std::string name : {"unpacked.txt", "packed.txt", "fine.txt"}) {
      const bool fine = name == "fine.txt";
      ASSERT_EQ(archive.ReadHeader(), 0);
      EXPECT_EQ(archive.Process(operation, nullptr, Path(name)), fine ? 0 : E_BAD_DATA) << name;
      EXPECT_EQ(PathExists(Path(name)), fine && operation == PK_EXTRACT) << name;
    }
  }
}

TEST_F(PluginExtractionFidelity, AReplacedFileKeepsItsAccess) {
  const std::string target = Path("kept.txt");
  ASSERT_TRUE(WriteFileBytes(target, "old"));
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
#endif
  HostArchive archive(module(), WriteArchive("access.tvx", {{"kept.txt", "new content"}}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  ASSERT_EQ(archive.ExtractTo(target), 0);
  EXPECT_EQ(ReadFileBytes(target), "new content");
#ifdef _WIN32
  EXPECT_NE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
#else
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
}

#ifndef _WIN32
TEST_F(PluginExtractionFidelity, NothingIsWrittenThroughALinkBelowTheDestination) {
  const LinkScene scene(WorkFolder());
  ASSERT_TRUE(scene.ready);
  ASSERT_TRUE(WriteFileBytes(Path("links.tvx"), scene.ArchiveBytesOf()));
  HostArchive archive(module(), Path("links.tvx"));
  const std::string out = scene.out + "/";
  for (const char* name : {LinkScene::kThroughFolderLink, LinkScene::kOntoFileLink, LinkScene::kFolderLink}) {
    ASSERT_EQ(archive.ReadHeader(), 0);
    EXPECT_EQ(archive.Process(PK_EXTRACT, &out, name), E_ECREATE) << name;
  }
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.Process(PK_EXTRACT, &out, "ok.txt"), 0);
  EXPECT_TRUE(scene.Untouched());
  EXPECT_EQ(ReadFileBytes(out + "ok.txt"), "fine");
}
#endif

#ifdef _WIN32
TEST_F(PluginExtractionFidelity, ReplacingAFileWhosePathNearlyFillsMaxPath) {
  // A target of 255 characters: "<target>.tvxpart" would not fit in MAX_PATH.
  const std::string folder = Path("long");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  const std::string target = folder + "\\" + std::string(255 - folder.size() - 1, 'n');
  ASSERT_EQ(target.size(), 255u);
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  HostArchive archive(module(), WriteArchive("long.tvx", {{"n", "new content"}}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  EXPECT_EQ(archive.ExtractTo(target), 0);
  EXPECT_EQ(ReadFileBytes(target), "new content");
  EXPECT_EQ(FolderListing(folder).size(), 1u) << "a partial file was left behind";
}
#endif

}  // namespace
}  // namespace tvx::test
