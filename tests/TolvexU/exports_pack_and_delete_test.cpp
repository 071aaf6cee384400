// PackFiles and DeleteFiles through the loaded module: entry names from
// SrcPath, SubPath and the flags, replacing entries, moving files, removing
// entries, and what a failure leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "TolvexU/pack_test.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "support/child_process.h"
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

using PluginPack = PackTest;

// Moving deletes the packed files but keeps folders, and leaves out the
// archive named in its own list, not deleting it. A SrcPath without its
// separator is the folder, not a beginning of names beside it.
TEST_F(PluginPack, NewArchiveHoldsFilesAndFoldersInListOrderAndMovingKeepsFoldersAndTheArchive) {
  MakeFile("docs/sub/deep.txt", Compressible(2000));
  MakeFile("docs/a.txt", "alpha");
  MakeFile("docs/not-listed.txt", "stays");
  MakeFile("z.txt", "zulu");
  fs::create_directories(Path("empty"));
  const std::string archive = Path("new.tvx");
  const int move = PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES;
  ASSERT_EQ(Pack(archive, {"z.txt", ListForm("docs/"), ListForm("docs/sub/"), ListForm("docs/sub/deep.txt"),
                           ListForm("docs/a.txt"), ListForm("empty/")}, move),
            0);
  MakeFile("c.txt", "charlie");
  ASSERT_EQ(Pack(archive, {"new.tvx", "c.txt"}, move), 0);
  MakeFile("src/a.txt", "inside");
  MakeFile("srca.txt", "neighbour");
  ASSERT_EQ(PackWith(module(), Path("joined.tvx"), nullptr, Path("src"), {"a.txt"}, PK_PACK_MOVE_FILES), 0);
  EXPECT_EQ(FolderContents(WorkFolder()),
            "docs/; docs/not-listed.txt=stays; docs/sub/; empty/; joined.tvx; new.tvx; src/; srca.txt=neighbour");
  const auto entry = [](const std::string& name, int size) { return std::make_pair(ReportedForm(name), size); };
  EXPECT_EQ(ListedNamesAndSizes(module(), Path("joined.tvx")), NamesAndSizes{entry("a.txt", 6)});
  EXPECT_EQ(ListedNamesAndSizes(module(), archive),
            (NamesAndSizes{entry("z.txt", 4), entry("docs/", 0), entry("docs/sub/", 0),
                           entry("docs/sub/deep.txt", 2000), entry("docs/a.txt", 5), entry("empty/", 0),
                           entry("c.txt", 7)}));
  EXPECT_LT(ListArchive(module(), archive).entries.at(3).packSize, 2000) << "a compressible file is stored deflated";

  // And the content comes back.
  EXPECT_EQ(ExtractEach(module(), archive, WorkFolder()), std::vector<int>(7, 0));
  EXPECT_EQ(ReadFileBytes(Path("e0")) + ReadFileBytes(Path("e4")) + ReadFileBytes(Path("e6")), "zulualphacharlie");
  EXPECT_TRUE(ReadFileBytes(Path("e3")) == Compressible(2000));
}

// SubPath is the folder inside the archive; without saved paths only the
// file name is kept and folders add nothing.
TEST_F(PluginPack, EntryNamesComeFromSubPathAndTheFlags) {
  MakeFile("a.txt", "alpha");
  MakeFile("sub/b.txt", "bravo");
  fs::create_directories(Path("docs"));
  struct Case {
    const char* subPath;
    std::vector<std::string> items, entries;
    int flags = PK_PACK_SAVE_PATHS;
  };
  const std::vector<Case> cases = {
      {nullptr, {ListForm("sub/"), ListForm("sub/b.txt"), "a.txt"}, {"b.txt", "a.txt"}, 0},
      {nullptr, {"docs"}, {"docs/"}},  // a folder without its separator is still a folder
      {"docs", {"a.txt"}, {"docs/a.txt"}}, {"x/", {"a.txt"}, {"x/a.txt"}}, {"deep/er", {"a.txt"}, {"deep/er/a.txt"}},
      {"docs", {ListForm("sub/b.txt")}, {"docs/sub/b.txt"}}, {"docs", {ListForm("sub/b.txt")}, {"docs/b.txt"}, 0},
      // Empty and "." components name nothing.
      {"/./x//", {ListForm("./sub//b.txt")}, {"x/sub/b.txt"}},
  };
  for (const Case& c : cases) {
    const std::string subPath = c.subPath != nullptr ? ListForm(c.subPath) : "(none)";
    const std::string archive = Path("sub.tvx");
    fs::remove(archive);
    ASSERT_EQ(Pack(archive, c.subPath != nullptr ? subPath.c_str() : nullptr, c.items, c.flags), 0) << subPath;
    EXPECT_EQ(Names(archive), ReportedForms(c.entries)) << subPath << " + " << c.items.back();
  }
}

// Each would give entries that cannot all be extracted: refused before
// anything is written.
TEST_F(PluginPack, NamesThatCannotAllBeEntriesAreRefusedAndChangeNothing) {
  const std::string archive = WriteArchive("old.tvx", {{"d/", ""}, {"d/x.txt", "x"}, {"f", "file f"}});
  const std::string before = ReadFileBytes(archive);
  const std::vector<std::string> sources = {MakeFile("a.txt", "alpha"), MakeFile("sub/a.txt", "other alpha"),
                                            MakeFile("d", "a file d"), MakeFile("f/y.txt", "y")};
  const std::string unshown = std::string(130, 'x') + NativeSeparator() + std::string(130, 'y');
  // SubPath, the names packed, the flags.
  const std::vector<std::tuple<const char*, std::vector<std::string>, int>> cases = {
      {unshown.c_str(), {"a.txt"}, PK_PACK_SAVE_PATHS},  // a name too long to be shown to the host
      {nullptr, {ListForm("sub/../a.txt")}, PK_PACK_SAVE_PATHS}, {"..", {"a.txt"}, 0},
      {nullptr, {"a.txt", ListForm("sub/a.txt")}, 0}, {nullptr, {"a.txt", ListForm("./a.txt")}, PK_PACK_SAVE_PATHS},
      {nullptr, {"d"}, PK_PACK_SAVE_PATHS},                  // a file where the archive has a folder
      {nullptr, {ListForm("f/y.txt")}, PK_PACK_SAVE_PATHS},  // a folder where it has a file
      {"f", {"a.txt"}, 0},
#ifdef _WIN32
      // The same in another case, where Windows takes it for the same name.
      {nullptr, {"D"}, PK_PACK_SAVE_PATHS}, {nullptr, {"a.txt", "A.TXT"}, PK_PACK_SAVE_PATHS},
#endif
  };
  for (const auto& [subPath, names, flags] : cases) {
    EXPECT_EQ(Pack(archive, subPath, names, flags | PK_PACK_MOVE_FILES), E_NOT_SUPPORTED) << names.back();
    EXPECT_EQ(ReadFileBytes(archive), before);
  }
  for (const std::string& source : sources) EXPECT_TRUE(PathExists(source)) << source;
  // Into a folder of the archive is no clash.
  ASSERT_EQ(Pack(archive, "d", {"a.txt"}, 0), 0);
  EXPECT_EQ(Names(archive), ReportedForms({"d/", "d/x.txt", "f", "d/a.txt"}));
}

// Windows takes names that differ only in case for the same file, Linux does
// not: packing X.TXT and the folder DOCS into an archive that holds x.txt and
// docs/f replaces x.txt on Windows and puts DOCS's entries into docs/. An
// entry shown alike ("/lead.txt" as lead.txt) is replaced too; one the host
// could not be shown is refused (the table above).
TEST_F(PluginPack, PackingAFileAgainReplacesItsEntryIgnoringCaseOnWindowsOnly) {
  for (const std::string folder : {"", "docs"}) {
    SCOPED_TRACE("SubPath " + folder);
    const char* subPath = folder.empty() ? nullptr : folder.c_str();
    const std::string prefix = folder.empty() ? "" : folder + "/", archive = Path(folder + "again.tvx");
    MakeFile("a.txt", "first version");
    MakeFile("b.txt", "other");
    ASSERT_EQ(Pack(archive, subPath, {"a.txt", "b.txt"}, PK_PACK_SAVE_PATHS), 0);
    MakeFile("a.txt", "second, longer version");
    ASSERT_EQ(Pack(archive, subPath, {"a.txt"}, PK_PACK_SAVE_PATHS), 0);
    EXPECT_EQ(ListedNamesAndSizes(module(), archive),
              (NamesAndSizes{{ReportedForm(prefix + "b.txt"), 5}, {ReportedForm(prefix + "a.txt"), 22}}));
  }
  const std::string archive =
      WriteArchive("case.tvx", {{"x.txt", "old"}, {"docs/", ""}, {"docs/f", "f"}, {"/lead.txt", "old"}});
  MakeFile("X.TXT", "new");
  MakeFile("DOCS/g", "g");
  MakeFile("lead.txt", "new content");
  ASSERT_EQ(Pack(archive, {"X.TXT", ListForm("DOCS/"), ListForm("DOCS/g"), "lead.txt"}), 0);
#ifdef _WIN32
  EXPECT_EQ(Names(archive), ReportedForms({"docs/f", "X.TXT", "docs/", "docs/g", "lead.txt"}));
#else
  EXPECT_EQ(Names(archive), ReportedForms({"x.txt", "docs/", "docs/f", "X.TXT", "DOCS/", "DOCS/g", "lead.txt"}));
#endif
  EXPECT_EQ(ListedNamesAndSizes(module(), archive).back(), std::make_pair(ReportedForm("lead.txt"), 11));
}

// A file that exists and has a size but cannot be read, for the life of what
// this returns (empty: none can be made here). Linux: a link to a sysfs
// attribute that reports 4096 bytes and yields a few (permissions would not
// stop root); Windows: another handle that denies reading.
std::shared_ptr<void> UnreadableFile(const std::string& path) {
#ifdef _WIN32
  WriteFileBytes(path, "locked content");
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : std::shared_ptr<void>(handle, CloseHandle);
#else
  const char* attribute = "/sys/kernel/uevent_seqnum";
  std::error_code ec;
  const auto size = fs::file_size(attribute, ec);
  if (!ec && size != 0) fs::create_symlink(attribute, path, ec);
  return ec || size == 0 ? nullptr : std::make_shared<int>(0);
#endif
}

// Refused before anything is written, by PackFiles and DeleteFiles alike
// (DeleteFiles also refuses a missing archive). The unusable temporary folder also
// shows that the module takes its temporary folder from the environment the
// fixture redirects, which the fixture's leftover check relies on.
TEST_F(PluginPack, TargetsThatCannotBeUpdatedAreRefusedAndLeftAlone) {
  const std::string archive = ArchiveBytes({{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  std::string damaged = archive;
  damaged[10] = static_cast<char>(0x7F);  // far more records than the file holds
  // What the target is, its bytes, the answer to packing into it and deleting from it.
  const std::vector<std::tuple<const char*, std::string, int>> rows = {{"a text file", "This is a text file, not an archive.", E_UNKNOWN_FORMAT},
                                 {"an empty file", "", E_UNKNOWN_FORMAT}, {"a damaged archive", damaged, E_BAD_ARCHIVE},
                                 {"a read-only archive", archive, E_EWRITE},
                                 {"no usable temporary folder", archive, E_ECREATE}};
  MakeFile("c.txt", "charlie");
  const std::string target = Path("target.dat");
  const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const auto& [name, bytes, expected] : rows) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteFileBytes(target, bytes));
    if (expected == E_EWRITE) fs::permissions(target, writable, fs::perm_options::remove);
    {
      TempFolderRedirect missing(expected == E_ECREATE ? Path("no-such-folder") : WorkFolder());
      EXPECT_EQ(Pack(target, {"c.txt"}, PK_PACK_MOVE_FILES), expected);
      EXPECT_EQ(DeleteWith(module(), target, {"a.txt"}), expected);
    }
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(ReadFileBytes(target) == bytes);
    EXPECT_EQ(FolderListing(WorkFolder()), (std::vector<std::string>{"c.txt", "target.dat"}));
  }
  EXPECT_EQ(DeleteWith(module(), Path("missing.tvx"), {"a.txt"}), E_EOPEN);  // and makes nothing
  EXPECT_EQ(FolderListing(WorkFolder()), (std::vector<std::string>{"c.txt", "target.dat"}));
}

// An empty list rewrites an archive unchanged and creates an empty one.
TEST_F(PluginPack, KeptEntriesKeepTheirBytes) {
  const std::vector<RawEntry> old = {{"docs/", ""}, Deflated("docs/a.txt", Compressible(900)), {"s.txt", "stored"}};
  const std::string archive = WriteArchive("kept.tvx", old);
  const std::string before = ReadFileBytes(archive);
  EXPECT_EQ(Pack(archive, {""}), 0);
  EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(before));
  EXPECT_EQ(Pack(Path("fresh.tvx"), {}), 0);
  EXPECT_EQ(Hex(ReadFileBytes(Path("fresh.tvx"))), Hex(EmptyArchiveBytes()));

  MakeFile("n.txt", "new");
  ASSERT_EQ(Pack(archive, {"n.txt"}, 0), 0);
  const std::string after = ReadFileBytes(archive);
  // The old data area comes first, unchanged, then the new file.
  std::string oldData;
  for (const RawEntry& e : old) oldData += e.data;
  EXPECT_NE(after.find(oldData + "new"), std::string::npos);
  EXPECT_EQ(Names(archive), ReportedForms({"docs/", "docs/a.txt", "s.txt", "n.txt"}));
}

// --- what PackFiles reports about its sources ---------------------------------------------

// A source missing, a dangling link, or one that exists and has a size but
// cannot be read: no new archive is left, an old one is unchanged, and no
// source is deleted.
TEST_F(PluginPack, SourceThatCannotBeReadChangesNothing) {
  const std::string archive = WriteArchive("old.tvx", {{"old.txt", "old"}});
  const std::string before = ReadFileBytes(archive);
  MakeFile("a.txt", "alpha");
  const std::shared_ptr<void> locked = UnreadableFile(Path("locked.txt"));
  std::vector<std::pair<std::string, int>> sources = {{"gone.txt", E_EOPEN}, {"locked.txt", E_EREAD}};
#ifndef _WIN32
  fs::create_symlink("nowhere.txt", Path("dangling.txt"));
  sources.insert(sources.begin(), {"dangling.txt", E_EOPEN});
  // Beyond PATH_MAX: reachable relative to its folder, but not by its path.
  const fs::path cwd = fs::current_path();
  std::error_code ec;
  fs::current_path(WorkFolder(), ec);
  std::string deep;
  for (const std::string d(200, 'd'); !ec && WorkFolder().size() + deep.size() < 3900; deep += d + "/") {
    fs::create_directory(d, ec);
    if (!ec) fs::current_path(d, ec);
  }
  if (!ec && WriteFileBytes(std::string(200, 'f'), "far")) sources.push_back({deep + std::string(200, 'f'), E_EOPEN});
  fs::current_path(cwd);
#endif
  const std::vector<std::string> files = FolderListing(WorkFolder());
  for (const auto& [source, expected] : sources) {
    SCOPED_TRACE(source);
    if (source == "locked.txt" && !locked) GTEST_SKIP() << "no way to make an unreadable file here";
    EXPECT_EQ(Pack(Path("new.tvx"), {"a.txt", source}, PK_PACK_MOVE_FILES), expected);
    EXPECT_EQ(Pack(archive, {"a.txt", source}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), expected);
    EXPECT_TRUE(ReadFileBytes(archive) == before);
    EXPECT_EQ(FolderListing(WorkFolder()), files) << "a source was deleted or an incomplete new archive left";
  }
}

#ifndef _WIN32

// --- links and FIFOs (Linux) ----------------------------------------------------------

// Every change writes a new file that takes the archive's place: it must not
// make a private archive readable by others, nor replace a link by a file.
TEST_F(PluginPack, ARewrittenArchiveKeepsItsPermissionsAndIsChangedWhereItsLinkLeads) {
  fs::create_directories(Path("real"));
  const std::string real = WriteArchive("real/a.tvx", {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  const auto private_ = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(real, private_);
  const std::string link = Path("link.tvx");
  fs::create_symlink("real/a.tvx", link);
  MakeFile("c.txt", "charlie");

  // Braced: in this order; the last, whether the link is still a link.
  using Seen = std::tuple<int, fs::perms, int, fs::perms, bool>;
  EXPECT_EQ((Seen{Pack(link, {"c.txt"}), fs::status(real).permissions(), DeleteWith(module(), link, {"a.txt"}),
                  fs::status(real).permissions(), fs::is_symlink(link)}),
            (Seen{0, private_, 0, private_, true}));
  EXPECT_EQ(Names(real), ReportedForms({"b.txt", "c.txt"}));
  EXPECT_EQ(FolderContents(WorkFolder()), "c.txt=charlie; link.tvx; real/; real/a.tvx");
}

TEST_F(PluginPack, FifoIsRefusedAtOnceWherever) {
  const std::string fifo = Path("pipe.tvx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  MakeFile("a.txt", "alpha");
  const std::string archive = WriteArchive("a.tvx", {{"x.txt", "x"}});
  const std::string before = ReadFileBytes(archive);
  // The call, made in a child; its answer.
  const std::vector<std::tuple<const char*, std::function<int()>, int>> cases = {
      {"CanYouHandleThisFile", [&] { return CanHandle(module(), fifo); }, 0},
      {"OpenArchive", [&] { return HostArchive(module(), fifo).openResult(); }, E_UNKNOWN_FORMAT},
      {"PackFiles into it", [&] { return Pack(fifo, {"a.txt"}); }, E_UNKNOWN_FORMAT},
      {"DeleteFiles from it", [&] { return DeleteWith(module(), fifo, {"x.txt"}); }, E_UNKNOWN_FORMAT},
      {"PackFiles of it, new archive", [&] { return Pack(Path("new.tvx"), {"pipe.tvx"}); }, E_EOPEN},
      {"PackFiles of it, old archive", [&] { return Pack(archive, {"a.txt", "pipe.tvx"}); }, E_EOPEN},
  };
  for (const auto& [what, call, expected] : cases) {
    // A call that blocks is ended by the alarm instead of hanging the test.
    const std::function<int()>& run = call;  // a structured binding cannot be captured
    const ChildOutcome outcome = RunInChild([&] {
      ::alarm(5);
      return run();
    });
    EXPECT_EQ(outcome.exited ? outcome.exitCode : -1, expected) << what << (outcome.exited ? "" : " blocked");
  }
  // Nor is it opened: a writer waiting for its reader stays waiting.
  std::atomic<bool> released{false};
  std::thread writer([&] { ::close(::open(fifo.c_str(), O_WRONLY)); released = true; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // till it waits in open
  EXPECT_EQ(Pack(Path("new.tvx"), {"pipe.tvx"}), E_EOPEN);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(released) << "the FIFO was opened";
  ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));  // lets the writer go
  writer.join();
  EXPECT_TRUE(ReadFileBytes(archive) == before);
  EXPECT_FALSE(PathExists(Path("new.tvx")));
}

#endif  // _WIN32

// --- DeleteFiles ------------------------------------------------------------------

using PluginDelete = PluginTest;

// Deflated entries among stored ones: the kept data must be copied as it is
// and found again at its new place. docs.txt is there twice: a name listed
// once takes every entry of that name, also the one after the entry it
// matched first.
const std::vector<RawEntry> kTree = {
    {"docs/", ""}, Deflated("docs/a.txt", Compressible(700, 'a')), {"docs/sub/", ""}, {"docs/sub/b.txt", "b"},
    {"docsx/c.txt", "c"}, {"docs.txt", "d"}, Deflated("top.txt", Compressible(800, 't')), {"docs.txt", "d again"},
};

// The archive left is exactly the kept entries, in their order, as the
// format lays them down: nothing else changes, not even for a name that is
// not there, and deleting everything leaves the empty archive.
TEST_F(PluginDelete, ListedItemsRemoveExactlyTheirEntries) {
  // What is deleted, the items (in entry form), the entries that remain.
  using Names = std::vector<std::string>;
  const std::vector<std::tuple<const char*, Names, Names>> cases = {
      {"a name not in the archive", {"nothing.txt"},
       {"docs/", "docs/a.txt", "docs/sub/", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"one file", {"docs/a.txt"}, {"docs/", "docs/sub/", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder with its contents", {"docs/*.*"}, {"docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder inside a folder", {"docs/sub/*.*"}, {"docs/", "docs/a.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"a folder's own entry only", {"docs/sub/"}, {"docs/", "docs/a.txt", "docs/sub/b.txt", "docsx/c.txt", "docs.txt", "top.txt"}},
      {"several items", {"top.txt", "docsx/c.txt", "docs/*.*"}, {"docs.txt"}},
      {"every entry", {"docs/*.*", "docsx/c.txt", "docs.txt", "top.txt"}, {}},
  };
  for (const auto& [label, entryItems, remaining] : cases) {
    const std::string archive = WriteArchive("tree.tvx", kTree);
    std::vector<std::string> items;
    for (const std::string& item : entryItems) items.push_back(ListForm(item));
    std::vector<RawEntry> kept;
    for (const RawEntry& entry : kTree)
      if (std::count(remaining.begin(), remaining.end(), entry.name) != 0) kept.push_back(entry);
    EXPECT_EQ(DeleteWith(module(), archive, items), 0) << label;
    EXPECT_EQ(Hex(ReadFileBytes(archive)), Hex(ArchiveBytes(kept))) << label;
  }
}

}  // namespace
}  // namespace tvx::test
