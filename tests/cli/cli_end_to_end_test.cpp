// The tolvex executable driven as a user drives it, with the built module:
// every case goes through the module's nine exports.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>

#include "listing_format.h"
#include "plugin_module.h"
#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

const std::string kSep = NativeSeparator();

// name -> "dir" for folders, "file:" + content for files.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string relative = fs::relative(it->path(), root, ec).generic_string();
    tree[relative] = it->is_directory() ? "dir" : "file:" + ReadFileBytes(it->path().string());
  }
  return tree;
}

std::string Compressible() {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i % 7) + " of some very repetitive text\n";
  return text;
}

// tree/{docs/{a.txt, sub/deep.txt}, empty_file, empty_folder/, b.bin}
void MakeTree(const std::string& parent) {
  fs::create_directories(fs::path(parent) / "tree" / "docs" / "sub");
  fs::create_directories(fs::path(parent) / "tree" / "empty_folder");
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  ASSERT_TRUE(WriteFileBytes(parent + kSep + "tree" + kSep + "docs" + kSep + "a.txt", Compressible()));
  ASSERT_TRUE(WriteFileBytes(parent + kSep + "tree" + kSep + "docs" + kSep + "sub" + kSep + "deep.txt", "deep"));
  ASSERT_TRUE(WriteFileBytes(parent + kSep + "tree" + kSep + "empty_file", ""));
  ASSERT_TRUE(WriteFileBytes(parent + kSep + "tree" + kSep + "b.bin", binary));
}

// A name as the listing shows it on this platform.
std::string Shown(const std::string& slashed) {
  std::string name = slashed;
  for (char& c : name)
    if (c == '/') c = kSep[0];
  return name;
}


class CliEndToEnd : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(CliPath().empty()) << "TOLVEX_CLI_PATH is not set for this test program";
    MakeTree(src_.path());
  }
  CliRun AddTree(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"add", Archive(), src_.File("tree")};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTolvex(args);
  }
};

TEST_F(CliEndToEnd, AddListTestExtractGivesBackTheSameTree) {
  const CliRun add = AddTree();
  ASSERT_EQ(add.exit_code, 0) << add.err;

  const CliRun list = RunTolvex({"list", Archive()});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  for (const char* name : {"tree/docs/a.txt", "tree/docs/sub/deep.txt", "tree/empty_file", "tree/b.bin"})
    EXPECT_TRUE(Contains(list.out, " " + Shown(name) + "\n")) << name << "\n" << list.out;
  EXPECT_TRUE(Contains(list.out, Shown("tree/empty_folder/") + "\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, "4 files, 4 folders")) << list.out;

  const CliRun test = RunTolvex({"test", Archive()});
  EXPECT_EQ(test.exit_code, 0) << test.err;

  const CliRun extract = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(Snapshot(work_.File("out")), Snapshot(src_.path()));
}

TEST_F(CliEndToEnd, JsonListingCarriesSizesDirsAndLocalTime) {
  const std::time_t when = LocalTime(2021, 6, 15, 12, 34, 56);
  const std::string file = src_.File("tree") + kSep + "docs" + kSep + "a.txt";
#ifdef _WIN32
  struct _utimbuf times{when, when};
  ASSERT_EQ(_utime(file.c_str(), &times), 0);
#else
  struct utimbuf times{when, when};
  ASSERT_EQ(utime(file.c_str(), &times), 0);
#endif
  ASSERT_EQ(AddTree().exit_code, 0);

  const CliRun list = RunTolvex({"list", Archive(), "--json"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  const std::string size = std::to_string(Compressible().size());
  EXPECT_TRUE(Contains(list.out, "{\"name\": " + cli::JsonString(Shown("tree/docs/a.txt")) + ", \"size\": " + size +
                                     ", \"packed\": "))
      << list.out;
  EXPECT_TRUE(Contains(list.out, "\"time\": \"2021-06-15T12:34:56\"")) << list.out;
  EXPECT_TRUE(Contains(list.out, cli::JsonString(Shown("tree/empty_folder/")))) << list.out;
  EXPECT_TRUE(Contains(list.out, "\"dir\": true")) << list.out;
  EXPECT_TRUE(Contains(list.out, "\"totals\": {\"files\": 4, \"folders\": 4")) << list.out;
}

TEST_F(CliEndToEnd, MoveDeletesSourcesAfterSuccess) {
  const CliRun add = AddTree({"--move"});
  ASSERT_EQ(add.exit_code, 0) << add.err;
  EXPECT_FALSE(PathExists(src_.File("tree"))) << "sources left behind";
  const CliRun extract = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(ReadFileBytes(work_.File("out") + kSep + Shown("tree/docs/a.txt")), Compressible());
  EXPECT_TRUE(fs::is_directory(work_.File("out") + kSep + Shown("tree/empty_folder")));
}

TEST_F(CliEndToEnd, MoveKeepsSourcesWhenPackingFails) {
  ASSERT_TRUE(WriteFileBytes(Archive(), "just some text, not an archive\n"));
  const CliRun add = AddTree({"--move"});
  EXPECT_NE(add.exit_code, 0);
  EXPECT_NE(add.err, "");
  EXPECT_EQ(ReadFileBytes(src_.File("tree") + kSep + Shown("docs/a.txt")), Compressible());
  EXPECT_TRUE(fs::is_directory(src_.File("tree") + kSep + "empty_folder"));
}

TEST_F(CliEndToEnd, IntoPlacesEntriesInAFolderOfTheArchive) {
  ASSERT_EQ(AddTree({"--into", "backup/2024"}).exit_code, 0);
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_TRUE(Contains(list.out, " " + Shown("backup/2024/tree/docs/a.txt") + "\n")) << list.out;
}

TEST_F(CliEndToEnd, AddingToAnExistingArchiveKeepsItsEntries) {
  ASSERT_EQ(AddTree().exit_code, 0);
  ASSERT_TRUE(WriteFileBytes(src_.File("later.txt"), "later"));
  const CliRun add = RunTolvex({"add", Archive(), src_.File("later.txt")});
  ASSERT_EQ(add.exit_code, 0) << add.err;
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_TRUE(Contains(list.out, " later.txt\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, " " + Shown("tree/b.bin") + "\n")) << list.out;
}

TEST_F(CliEndToEnd, DeleteRemovesAFolderWithEverythingBelowIt) {
  ASSERT_EQ(AddTree().exit_code, 0);
  const CliRun del = RunTolvex({"delete", Archive(), Shown("tree/docs"), Shown("tree/b.bin")});
  ASSERT_EQ(del.exit_code, 0) << del.err;
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_FALSE(Contains(list.out, "docs")) << list.out;
  EXPECT_FALSE(Contains(list.out, "b.bin")) << list.out;
  EXPECT_TRUE(Contains(list.out, " " + Shown("tree/empty_file") + "\n")) << list.out;
}

TEST_F(CliEndToEnd, DeleteOfAnUnknownNameFailsWithoutTouchingTheArchive) {
  ASSERT_EQ(AddTree().exit_code, 0);
  const std::string before = ReadFileBytes(Archive());
  const CliRun del = RunTolvex({"delete", Archive(), "no/such/entry"});
  EXPECT_EQ(del.exit_code, 1);
  EXPECT_TRUE(Contains(del.err, "not in the archive: no/such/entry")) << del.err;
  EXPECT_EQ(ReadFileBytes(Archive()), before);
}

TEST_F(CliEndToEnd, DamagedEntryFailsTestAndIsNamed) {
  const std::string good = "plain stored bytes";
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{"good.txt", good},
                                                       {"broken.txt", std::string(40, '\x5a'), 5000}})));
  const CliRun test = RunTolvex({"test", Archive()});
  EXPECT_EQ(test.exit_code, 1) << test.err;
  EXPECT_TRUE(Contains(test.err, "damaged entry: broken.txt")) << test.err;
  EXPECT_FALSE(Contains(test.err, "good.txt")) << test.err;

  const CliRun extract = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  EXPECT_EQ(extract.exit_code, 1);
  EXPECT_EQ(ReadFileBytes(work_.File("out") + kSep + "good.txt"), good);
}

TEST_F(CliEndToEnd, ForeignOrMissingArchiveIsUnusable) {
  ASSERT_TRUE(WriteFileBytes(work_.File("x.txt"), "hello, I am text\n"));
  for (const char* command : {"list", "test", "extract"}) {
    const CliRun run = RunTolvex({command, work_.File("x.txt")});
    EXPECT_EQ(run.exit_code, 2) << command;
    EXPECT_TRUE(Contains(run.err, "not a Tolvex archive: " + work_.File("x.txt"))) << command << ": " << run.err;
  }
  const CliRun missing = RunTolvex({"list", work_.File("missing.tvx")});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_TRUE(Contains(missing.err, work_.File("missing.tvx"))) << missing.err;
}

TEST_F(CliEndToEnd, DamagedDirectoryIsUnusable) {
  std::string bytes = ArchiveBytes({{"a.txt", "aaaa"}, {"b.txt", "bbbb"}});
  bytes.resize(bytes.size() - 12);  // cuts into the records
  ASSERT_TRUE(WriteFileBytes(Archive(), bytes));
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_EQ(list.exit_code, 2);
  EXPECT_TRUE(Contains(list.err, "archive is damaged: " + Archive())) << list.err;
}

TEST_F(CliEndToEnd, ExtractNeverWritesOutsideTheDestination) {
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes({{"../evil", "evil"},
                                                       {"sub/../../evil2", "evil"},
                                                       {"ok.txt", "fine"}})));
  const std::string out = work_.File("dest") + kSep + "out";
  const CliRun extract = RunTolvex({"extract", Archive(), "-C", out});
  EXPECT_FALSE(PathExists(work_.File("dest") + kSep + "evil"));
  EXPECT_FALSE(PathExists(work_.File("dest") + kSep + "evil2"));
  EXPECT_FALSE(PathExists(work_.File("evil")));
  EXPECT_FALSE(PathExists(work_.File("evil2")));
  if (extract.exit_code != 2) {
    EXPECT_EQ(ReadFileBytes(out + kSep + "ok.txt"), "fine") << extract.err;
  }
}

TEST_F(CliEndToEnd, ExtractKeepsExistingFilesUnlessOverwriteIsGiven) {
  ASSERT_EQ(AddTree().exit_code, 0);
  const std::string target = work_.File("out") + kSep + Shown("tree/docs/sub/deep.txt");
  ASSERT_EQ(RunTolvex({"extract", Archive(), "-C", work_.File("out")}).exit_code, 0);
  ASSERT_TRUE(WriteFileBytes(target, "changed"));

  const CliRun again = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_TRUE(Contains(again.err, "exists, not replaced (use --overwrite): " + target)) << again.err;
  EXPECT_EQ(ReadFileBytes(target), "changed");

  const CliRun forced = RunTolvex({"extract", Archive(), "-C", work_.File("out"), "--overwrite"});
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_EQ(ReadFileBytes(target), "deep");
}

TEST_F(CliEndToEnd, ExtractChosenFolderOnlyIntoTheCurrentFolder) {
  ASSERT_EQ(AddTree().exit_code, 0);
  fs::create_directories(work_.File("cwd"));
  const CliRun extract = RunTolvex({"extract", Archive(), "tree/docs/"}, work_.File("cwd"));
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  const std::string base = work_.File("cwd") + kSep;
  EXPECT_EQ(ReadFileBytes(base + Shown("tree/docs/sub/deep.txt")), "deep");
  EXPECT_FALSE(PathExists(base + Shown("tree/b.bin")));
  EXPECT_FALSE(PathExists(base + Shown("tree/empty_folder")));

  const CliRun unknown = RunTolvex({"extract", Archive(), "-C", work_.File("x"), "tree/nothing"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_TRUE(Contains(unknown.err, "not in the archive: tree/nothing")) << unknown.err;
}

TEST_F(CliEndToEnd, FileOfTwoGiBIsRefusedBeforePacking) {
  const std::string big = src_.File("big.iso");
  { ASSERT_TRUE(WriteFileBytes(big, "")); }
  std::error_code ec;
  fs::resize_file(big, uintmax_t{1} << 31, ec);
  if (ec) GTEST_SKIP() << "cannot make a sparse 2 GiB file here: " << ec.message();
  const CliRun add = RunTolvex({"add", Archive(), big});
  EXPECT_EQ(add.exit_code, 2);
  EXPECT_TRUE(Contains(add.err, "file too large for the format: " + big)) << add.err;
  EXPECT_FALSE(PathExists(Archive()));
}

TEST_F(CliEndToEnd, PathsFromSeveralFoldersArePackedAndSameNamesRefused) {
  ASSERT_TRUE(WriteFileBytes(work_.File("other.txt"), "x"));
  const CliRun add = RunTolvex({"add", Archive(), src_.File("tree") + kSep + "docs", work_.File("other.txt")});
  ASSERT_EQ(add.exit_code, 0) << add.err;
  const CliRun list = RunTolvex({"list", Archive()});
  EXPECT_TRUE(Contains(list.out, " " + Shown("docs/sub/deep.txt") + "\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, " other.txt\n")) << list.out;

  // A file where the archive has a folder of that name, and the reverse.
  const std::string clashing = work_.File("clashing");
  fs::create_directories(fs::path(clashing) / "other.txt");
  ASSERT_TRUE(WriteFileBytes(clashing + kSep + "docs", "a file"));
  ASSERT_TRUE(WriteFileBytes(clashing + kSep + "other.txt" + kSep + "in.txt", "in a folder"));
  const std::string before = ReadFileBytes(Archive());
  for (const auto& [path, why] : {std::pair<std::string, std::string>{"docs", "a folder of that name is in the archive: docs"},
                                  {"other.txt", "a file of that name is in the archive: other.txt"}}) {
    const CliRun refused = RunTolvex({"add", Archive(), clashing + kSep + path});
    EXPECT_EQ(refused.exit_code, 2) << path;
    EXPECT_TRUE(Contains(refused.err, why)) << refused.err;
  }
  EXPECT_EQ(ReadFileBytes(Archive()), before);

  fs::create_directories(work_.File("docs"));
  const std::string second = work_.File("b.tvx");
  const CliRun clash = RunTolvex({"add", second, src_.File("tree") + kSep + "docs", work_.File("docs")});
  EXPECT_EQ(clash.exit_code, 2);
  EXPECT_TRUE(Contains(clash.err, "same name docs")) << clash.err;
  EXPECT_FALSE(PathExists(second));
}

TEST_F(CliEndToEnd, HelpVersionAndUsage) {
  const CliRun help = RunProgram(CliPath(), {"add", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(Contains(help.out, "Usage: tolvex add")) << help.out;
  EXPECT_TRUE(Contains(RunProgram(CliPath(), {"help", "extract"}).out, "--overwrite"));
  const std::string overview = RunProgram(CliPath(), {"--help"}).out;
  for (const char* alias : {"list, l ", "test, t ", "extract, x ", "add, a ", "delete, d "})
    EXPECT_TRUE(Contains(overview, alias)) << alias << "\n" << overview;
#ifdef TOLVEX_CLI_VERSION
  EXPECT_EQ(RunProgram(CliPath(), {"--version"}).out, std::string("tolvex ") + TOLVEX_CLI_VERSION + "\n");
#endif
  const CliRun bad = RunProgram(CliPath(), {"list", "a.tvx", "--move"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_TRUE(Contains(bad.err, "--move")) << bad.err;
}

TEST_F(CliEndToEnd, UnloadableModuleIsReported) {
  ASSERT_TRUE(WriteFileBytes(work_.File("fake.wcx"), "not a module"));
  const CliRun run = RunProgram(CliPath(), {"--plugin", work_.File("fake.wcx"), "list", Archive()});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(Contains(run.err, "cannot load the packer module: " + work_.File("fake.wcx"))) << run.err;
}

int progressCalls = 0;
int WCX_API CountProgress(char*, int) { return ++progressCalls, 1; }

// The header's name without the leading separator Windows hosts are given.
std::string HeaderName(const tHeaderData& header) {
  const std::string name = header.FileName;
  const size_t start = name.find_first_not_of(kSep);
  return start == std::string::npos ? std::string() : name.substr(start);
}

// Loading finds all nine names; this calls each one through its field, so a
// field bound to the wrong export fails here.
TEST(CliPluginModule, LoadsTheBuiltModuleWithAllNineExports) {
  const cli::PluginModule::LoadResult loaded = cli::PluginModule::Load(ModulePath());
  ASSERT_TRUE(loaded.module) << loaded.error;
  const cli::PluginModule& m = *loaded.module;
  EXPECT_NE(m.get_packer_caps() & PK_CAPS_NEW, 0);
  EXPECT_FALSE(cli::PluginModule::Load(ModulePath() + ".missing").error.empty());

  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("x.txt"), "some content"));
  ASSERT_TRUE(WriteFileBytes(dir.File("y.txt"), "more"));
  std::string archive = dir.File("x.tvx");
  std::string source = dir.path() + kSep;
  char addList[] = "x.txt\0y.txt\0";
  progressCalls = 0;
  m.set_process_data_proc(nullptr, &CountProgress);
  EXPECT_EQ(m.pack_files(&archive[0], nullptr, &source[0], addList, 0), 0);
  m.set_process_data_proc(nullptr, nullptr);
  EXPECT_GT(progressCalls, 0);
  EXPECT_NE(m.can_you_handle_this_file(&archive[0]), 0);
  std::string text = dir.File("x.txt");
  EXPECT_EQ(m.can_you_handle_this_file(&text[0]), 0);

  tOpenArchiveData open{};
  open.ArcName = &archive[0];
  open.OpenMode = PK_OM_EXTRACT;
  HANDLE_WCX handle = m.open_archive(&open);
  ASSERT_NE(handle, nullptr);
  tHeaderData header{};
  EXPECT_EQ(m.read_header(handle, &header), 0);
  EXPECT_EQ(HeaderName(header), "x.txt");
  std::string out = dir.File("out.txt");
  EXPECT_EQ(m.process_file(handle, PK_EXTRACT, nullptr, &out[0]), 0);
  EXPECT_EQ(ReadFileBytes(out), "some content");
  EXPECT_EQ(m.close_archive(handle), 0);

  char deleteList[] = "x.txt\0";
  EXPECT_EQ(m.delete_files(&archive[0], deleteList), 0);
  open.OpenMode = PK_OM_LIST;
  handle = m.open_archive(&open);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(m.read_header(handle, &header), 0);
  EXPECT_EQ(HeaderName(header), "y.txt");
  EXPECT_EQ(m.read_header(handle, &header), E_END_ARCHIVE);
  EXPECT_EQ(m.close_archive(handle), 0);
}

#ifndef _WIN32
// Runs tolvex under `script`, which gives it a terminal; returns what the
// terminal showed.
CliRun RunOnTerminal(const std::vector<std::string>& args) {
  std::string command = "'" + CliPath() + "' --plugin '" + ModulePath() + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  return RunProgram("/usr/bin/script", {"-qfec", command, "/dev/null"});
}

TEST_F(CliEndToEnd, ProgressBarOnlyOnATerminal) {
  if (!PathExists("/usr/bin/script")) GTEST_SKIP() << "script(1) is not installed";
  const CliRun add = RunOnTerminal({"add", Archive(), src_.File("tree")});
  ASSERT_EQ(add.exit_code, 0) << add.out;
  EXPECT_TRUE(Contains(add.out, "\r[")) << add.out;
  EXPECT_TRUE(Contains(add.out, "%")) << add.out;

  const CliRun quiet = RunOnTerminal({"test", "--quiet", Archive()});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_FALSE(Contains(quiet.out, "\r[")) << quiet.out;

  const CliRun shown = RunOnTerminal({"extract", Archive(), "-C", work_.File("out")});
  EXPECT_TRUE(Contains(shown.out, "\r[")) << shown.out;

  const CliRun piped = RunTolvex({"test", Archive()});
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_FALSE(Contains(piped.err, "\r")) << piped.err;
}
#endif

}  // namespace
}  // namespace tvx::test
