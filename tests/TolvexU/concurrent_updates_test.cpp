// Updates that meet another writer: a source edited while it is packed, the
// archive changed while an update runs, updates started together. Nothing a
// second writer did may be lost or undone unnoticed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "TolvexU/pack_test.h"
#include "support/cli_runner.h"

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

using ConcurrentUpdates = PackTest;

// --- the move keeps a source changed after it was read -------------------------------

std::string g_changeFolder;

// Called after each entry's bytes are written: the user edits two of the files.
int WCX_API EditWhilePacking(char* fileName, int) {
  const std::string name = fs::path(fileName).filename().string();
  const std::string path = g_changeFolder + NativeSeparator() + name;
  if (name == "grown.txt") {
    WriteFileBytes(path, "old content and more");
  } else if (name == "retimed.txt") {
    const auto before = fs::last_write_time(path);
    WriteFileBytes(path, "new content");  // the same length
    fs::last_write_time(path, before + std::chrono::seconds(10));
  } else if (name == "restored.txt") {  // rewritten, its last write set back (touch -r, cp -p)
    const auto before = fs::last_write_time(path);
    WriteFileBytes(path, "new content");
    fs::last_write_time(path, before);
  } else if (name == "in.txt") {  // its folder swapped for a twin whose file has the very same times
    fs::rename(g_changeFolder + NativeSeparator() + "dir", g_changeFolder + NativeSeparator() + "was");
    fs::rename(g_changeFolder + NativeSeparator() + "twin", g_changeFolder + NativeSeparator() + "dir");
  }
  return 1;
}

#ifndef _WIN32
// dir/in.txt and twin/in.txt, two files alike in size and both times (made in
// one tick of the status-change clock); false when the clock would not oblige.
template <typename Make>
bool MakeTwins(Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat a {}, b {};
    const std::string one = make("dir/in.txt"), two = make("twin/in.txt");
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    if (utimensat(AT_FDCWD, one.c_str(), times, 0) == 0 && utimensat(AT_FDCWD, two.c_str(), times, 0) == 0 &&
        stat(one.c_str(), &a) == 0 && stat(two.c_str(), &b) == 0 && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
        a.st_ctim.tv_nsec == b.st_ctim.tv_nsec)
      return true;
  }
  return false;
}
#endif

TEST_F(ConcurrentUpdates, MoveDeletesOnlySourcesStillAsTheyWereRead) {
  std::vector<std::string> names = {"same.txt", "grown.txt", "retimed.txt"};
  std::string kept = "a.tvx; grown.txt=old content and more; retimed.txt=new content";
  for (const std::string& name : names) MakeFile(name, "old content");
#ifndef _WIN32  // told by its status-change time; a second name of an unchanged file goes with it
  MakeFile("restored.txt", "old content");
  fs::create_hard_link(Path("same.txt"), Path("linked.txt"));
  names.insert(names.end(), {"restored.txt", "linked.txt"});
  kept = "a.tvx; grown.txt=old content and more; restored.txt=new content; retimed.txt=new content";
  if (MakeTwins([this](const char* name) { return MakeFile(name, "old content"); })) {
    names.push_back("dir/in.txt");
    kept = "a.tvx; dir/; dir/in.txt=old content; grown.txt=old content and more; restored.txt=new content; "
           "retimed.txt=new content; was/; was/in.txt=old content";
  }
#endif
  g_changeFolder = WorkFolder();
  module().set_process_data_proc(nullptr, EditWhilePacking);
  EXPECT_EQ(Pack(Path("a.tvx"), names, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES), 0);
  EXPECT_EQ(FolderContents(WorkFolder()), kept) << "newer work was deleted, or the unchanged source kept";
}

// --- an archive changed by someone else while it is being updated -------------------

cli::PluginModule* g_module = nullptr;
std::string g_archive;
bool g_rewrite = false;  // instead of deleting through the module, another program rewrites the archive
int g_innerResult = -1;

// Called during the outer PackFiles, once: the host, or another program, changes the archive.
int WCX_API ChangeArchiveWhilePacking(char*, int) {
  if (g_innerResult != -1) return 1;
  if (g_rewrite) {
    g_innerResult = WriteFileBytes(g_archive, ArchiveBytes({Stored("theirs.txt", "their change")})) ? 0 : 1;
  } else {
    g_innerResult = DeleteWith(*g_module, g_archive, {"kept.txt"});
  }
  return 1;
}

// A DeleteFiles from the progress callback of a PackFiles of the same archive
// answered 0, and the outer call then put the entry back. An archive
// rewritten meanwhile by a program that does not wait was replaced, its
// change lost.
TEST_F(ConcurrentUpdates, AChangeMadeWhileAnUpdateRunsIsNeverUndoneUnnoticed) {
#ifdef _WIN32
  // The old archive is open, sharing only reading, while it is read: no other
  // program can write it then.
  for (const bool rewrite : {false}) {
#else
  for (const bool rewrite : {false, true}) {
#endif
    SCOPED_TRACE(rewrite ? "another program rewrites the archive" : "DeleteFiles from the progress callback");
    g_archive = WriteArchive("a.tvx", {{"kept.txt", "kept"}});
    MakeFile("new.txt", "new");
    g_module = &module();
    g_rewrite = rewrite;
    g_innerResult = -1;
    module().set_process_data_proc(nullptr, ChangeArchiveWhilePacking);
    const int outer = Pack(g_archive, {"new.txt"}, PK_PACK_SAVE_PATHS | PK_PACK_MOVE_FILES);
    module().set_process_data_proc(nullptr, nullptr);
    // The inner change's result and the outer's, the archive's entries, and
    // whether the moved source is still there (it must be after a failed move).
    using Seen = std::tuple<int, int, std::vector<std::string>, bool>;
    EXPECT_EQ((Seen{g_innerResult, outer, Names(g_archive), PathExists(Path("new.txt"))}),
              (rewrite ? Seen{0, E_EWRITE, ReportedForms({"theirs.txt"}), true}
                       : Seen{E_EWRITE, 0, ReportedForms({"kept.txt", "new.txt"}), false}));
  }
}

#ifndef _WIN32
// Two `tolvex add --move` and a `tolvex delete` started together on one
// archive all exited 0, yet the archive held only one change: the other's
// moved files were gone from disk and archive alike. The first round creates
// the archive.
TEST_F(ConcurrentUpdates, UpdatesRacingOnOneArchiveEachKeepTheirChange) {
  const std::string archive = Path("race.tvx");
  ASSERT_TRUE(fs::create_directory(Path("src")));
  const std::string src = Path("src") + NativeSeparator();
  ProgramIo io;
  io.cwd = src;
  for (int round = 1; round <= 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto name = [](char c, int n) { return c + std::to_string(n) + ".txt"; };
    const std::string a = name('a', round), b = name('b', round), gone = name('a', round - 1);
    ASSERT_TRUE(WriteFileBytes(src + a, Compressible(20000 + round, 'a')));
    ASSERT_TRUE(WriteFileBytes(src + b, Compressible(20000 + round, 'b')));
    std::vector<int> pids = {StartTolvex({"add", archive, a, "--move"}, io), StartTolvex({"add", archive, b, "--move"}, io)};
    if (round > 1) pids.push_back(StartTolvex({"delete", archive, gone}, io));
    std::vector<int> codes;
    for (const int pid : pids) codes.push_back(WaitForChild(pid).exitCode);
    const std::vector<std::string> names = Names(archive);
    const auto holds = [&](const std::string& name) {
      return std::find(names.begin(), names.end(), ReportedForm(name)) != names.end();
    };
    EXPECT_EQ(codes, std::vector<int>(pids.size(), 0)) << "a second update gave up waiting for the first";
    for (const std::string& added : {a, b}) {
      EXPECT_TRUE(codes[added == a ? 0 : 1] != 0 || holds(added)) << added << " reported added but missing";
      EXPECT_NE(holds(added), PathExists(src + added)) << added << " lost, or moved without being deleted";
    }
    EXPECT_TRUE(round == 1 || codes[2] != 0 || !holds(gone)) << gone << " reported deleted but back";
    if (HasFailure()) return;
  }
}
#endif

}  // namespace
}  // namespace tvx::test
