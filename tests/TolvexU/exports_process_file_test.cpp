// ProcessFile through the loaded module: testing, skipping and extracting the
// entry the last ReadHeader reported, the names the host joins to its
// destination folder (that the names reported are safe to join is
// reliability/hostile_names_test.cpp's), and what extraction keeps of an entry
// and of the file it replaces: dates, access, and nothing written for
// impossible sizes or through a link the destination folder does not own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "TolvexU/pack_test.h"
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
  const std::vector<RawEntry> entries = {{"d/", "", -1, 1300017600}, {"d/f.txt", "content", -1, 1118836800},
                                         {"d/e/", "", -1, 1200052800}, {"d/1979.txt", "old", -1, 315489600},
                                         {"d/1969.txt", "older", -1, -14212800}};
  const std::string path = WriteArchive("dated.tvx", entries);
  const std::string out = Path("out") + NativeSeparator();
  ASSERT_TRUE(std::filesystem::create_directory(Path("out")));
  std::vector<std::string> items;
  {
    HostArchive archive(module(), path);
    for (const RawEntry& entry : entries) {
      items.push_back(ListForm(entry.name));
      ASSERT_EQ(archive.ReadHeader(), 0);
      ASSERT_EQ(archive.Process(PK_EXTRACT, &out, items.back()), 0) << entry.name;
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

// Also on Windows where the path nearly fills MAX_PATH: "<target>.tvxpart"
// would not fit there.
TEST_F(PluginExtractionFidelity, AReplacedFileKeepsItsAccessWhateverTheLengthOfItsPath) {
  const std::string folder = Path("long");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
#ifdef _WIN32
  const std::string target = folder + "\\" + std::string(255 - folder.size() - 1, 'n');  // 255 characters
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
  const std::string target = folder + "/kept.txt";
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_EQ(chmod(target.c_str(), 04640), 0);  // set-user-ID is not carried over
#endif
  HostArchive archive(module(), WriteArchive("access.tvx", {{"kept.txt", "new content"}}));
  ASSERT_EQ(archive.ReadHeader(), 0);
  ASSERT_EQ(archive.ExtractTo(target), 0);
  EXPECT_EQ(ReadFileBytes(target), "new content");
  EXPECT_EQ(FolderListing(folder).size(), 1u) << "a partial file was left behind";
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
  for (const std::string name :
       {LinkScene::kThroughFolderLink, LinkScene::kOntoFileLink, LinkScene::kFolderLink, "ok.txt"}) {
    ASSERT_EQ(archive.ReadHeader(), 0);
    EXPECT_EQ(archive.Process(PK_EXTRACT, &out, name), name == "ok.txt" ? 0 : E_ECREATE) << name;
  }
  // A folder found real for one entry and swapped for a link before the next.
  HostArchive swapped(module(), WriteArchive("swap.tvx", {{"d/", ""}, {"d/a.txt", "a"}, {"d/b.txt", "b"}}));
  for (const std::string name : {"d/", "d/a.txt"}) {
    ASSERT_EQ(swapped.ReadHeader(), 0);
    ASSERT_EQ(swapped.Process(PK_EXTRACT, &out, name), 0) << name;
  }
  std::filesystem::rename(out + "d", out + "d-was");
  std::filesystem::create_directory_symlink(scene.elsewhere, out + "d");
  ASSERT_EQ(swapped.ReadHeader(), 0);
  EXPECT_EQ(swapped.Process(PK_EXTRACT, &out, "d/b.txt"), E_ECREATE);
  EXPECT_TRUE(scene.Untouched());
  EXPECT_EQ(ReadFileBytes(out + "ok.txt"), "fine");
}
#endif

// --- the operations and the names joined to the destination -----------------------

using PluginProcessFile = PluginTest;

// Skipping reads nothing, so it succeeds on damaged data; testing and
// extracting find the damage (a stream that fails or ends early, a size of
// 2 GiB or more as another writer could claim); any other operation extracts.
// A damaged entry leaves no file of its own and keeps the user's file of that
// name; the listing still shows it.
TEST_F(PluginProcessFile, EachOperationOnGoodAndDamagedEntries) {
  const std::string good = Compressible(4000, 'g');
  RawEntry endsEarly = Deflated("short.txt", good);
  endsEarly.data.resize(endsEarly.data.size() / 2);
  std::string bytes = ArchiveBytes({Deflated("good.txt", good), {"unpacked.txt", "abc"},
                                    DamagedDeflated("damaged.txt", Compressible(4000, 'd')), {"packed.txt", "abc"},
                                    endsEarly, {"stored.txt", "stored bytes"}});
  const ArchiveLayout layout = ParseLayout(bytes);
  ASSERT_TRUE(layout.ok);
  bytes.replace(layout.records[1].unpackedAt, 4, FromHex("03 00 00 80"));
  bytes.replace(layout.records[3].packedAt, 4, FromHex("FD FF FF FF"));
  const std::string archive = Path("mixed.tvx");
  ASSERT_TRUE(WriteFileBytes(archive, bytes));
  const std::vector<std::string> names = {"good.txt",   "unpacked.txt", "damaged.txt",
                                          "packed.txt", "short.txt",    "stored.txt"};
  EXPECT_EQ(Names(archive), ReportedForms(names));
  for (const int operation : {int{PK_SKIP}, int{PK_TEST}, int{PK_EXTRACT}, 3}) {
    SCOPED_TRACE("operation " + std::to_string(operation));
    const bool extracts = operation == PK_EXTRACT || operation == 3;
    const std::string out = Path("out" + std::to_string(operation));
    ASSERT_TRUE(std::filesystem::create_directory(out));
    ASSERT_TRUE(WriteFileBytes(out + NativeSeparator() + "short.txt", "the user's file"));
    HostArchive opened(module(), archive);
    for (const std::string& name : names) {
      ASSERT_EQ(opened.ReadHeader(), 0);
      const bool bad = name != "good.txt" && name != "stored.txt";
      EXPECT_EQ(opened.Process(operation, nullptr, out + NativeSeparator() + name),
                bad && operation != PK_SKIP ? E_BAD_DATA : 0)
          << name;
    }
    EXPECT_EQ(opened.ReadHeader(), E_END_ARCHIVE);
    EXPECT_EQ(FolderContents(out), extracts
                                       ? "good.txt=" + good + "; short.txt=the user's file; stored.txt=stored bytes"
                                       : "short.txt=the user's file");
  }
}

// The host's order: OpenArchive, ReadHeader and one ProcessFile per entry,
// the end repeated for every ReadHeader after the last; ProcessFile without
// a current entry touches none. A DestPath without its separator is the
// folder all the same; the host makes the folders, the module does not.
TEST_F(PluginProcessFile, HeadersComeInOrderProcessFileNeedsACurrentEntryAndJoinsDestPathAndDestNameOnce) {
  const std::string folder = WorkFolder() + NativeSeparator(), out = Path("out");
  ASSERT_TRUE(std::filesystem::create_directory(out));
  // The entry, the DestPath (null: DestName is the whole target) and DestName its extraction is given, the answer.
  using Step = std::tuple<RawEntry, const std::string*, std::string, int>;
  const std::string missing = Path("missing") + NativeSeparator() + "e.txt";
  const std::vector<Step> five = {
      {{"a.txt", "first"}, &folder, "a.txt", 0}, {{"b.txt", "second"}, nullptr, Path("b-full.txt"), 0},
      {{"c.txt", "third"}, &out, "c.txt", 0},    {{"d/", ""}, &out, "d", 0},
      {{"e.txt", "fifth"}, nullptr, missing, E_ECREATE}};
  for (const std::vector<Step>& steps : {std::vector<Step>(), five}) {
    SCOPED_TRACE(std::to_string(steps.size()) + " entries");
    std::vector<RawEntry> entries;
    for (const Step& step : steps) entries.push_back(std::get<0>(step));
    HostArchive archive(module(), WriteArchive("a.tvx", entries));
    ASSERT_NE(archive.handle(), nullptr);
    const std::string target = Path("target");
    const auto expectEnd = [&](const std::string& when) {
      for (int operation : {PK_SKIP, PK_TEST, PK_EXTRACT})
        EXPECT_EQ(archive.Process(operation, nullptr, target), E_END_ARCHIVE) << when << ", operation " << operation;
    };
    expectEnd("before the first ReadHeader");
    for (const auto& [entry, destPath, destName, result] : steps) {
      tHeaderData header{};
      ASSERT_EQ(archive.ReadHeader(header), 0);
      EXPECT_STREQ(header.FileName, ReportedForm(entry.name).c_str());
      EXPECT_EQ(archive.Process(PK_EXTRACT, destPath, destName), result) << destName;
      expectEnd("after " + entry.name + " was processed");
    }
    EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
    EXPECT_EQ(archive.ReadHeader(), E_END_ARCHIVE);
    expectEnd("after the end");
  }
  EXPECT_EQ(FolderContents(WorkFolder()), "a.tvx; a.txt=first; b-full.txt=second; out/; out/c.txt=third; out/d/");
}

}  // namespace
}  // namespace tvx::test
