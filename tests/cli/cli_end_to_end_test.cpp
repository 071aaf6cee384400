// The tolvex executable driven as a user drives it, with the built module:
// every case goes through the module's nine exports. Then what it tells it did
// not do: refusals named before the module is asked, sources a move kept; and
// last, what it does while something happens to its files: a source edited
// during a move, a signal in the middle of the work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "commonsU/entry_time.h"
#include "interrupt_cleanup.h"
#include "listing_format.h"
#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/plugin_test.h"
#include "support/test_support.h"
#include "support/windows_headers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tvx::test {
namespace {

namespace fs = std::filesystem;

const std::string kSep = NativeSeparator();

// tree/{docs/{a.txt, sub/deep.txt}, empty_file, empty_folder/, b.bin}, each
// dated on a day of June 2021 at 12:34:56 (even seconds: the format keeps
// two-second steps; folders last, as writing their files changes their times).
void MakeTree(const std::string& parent) {
  fs::create_directories(fs::path(parent) / "tree" / "docs" / "sub");
  fs::create_directories(fs::path(parent) / "tree" / "empty_folder");
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"docs/a.txt", TextLikeBytes(15000)},
                                    {"docs/sub/deep.txt", "deep"}, {"empty_file", ""}, {"b.bin", NoiseBytes(3000)}})
    ASSERT_TRUE(WriteFileBytes(parent + kSep + NativePath("tree/" + name), bytes));
  int day = 0;
  for (const char* name : {"tree/docs/a.txt", "tree/docs/sub/deep.txt", "tree/empty_file", "tree/b.bin",
                           "tree/docs/sub", "tree/docs", "tree/empty_folder", "tree"})
    ASSERT_TRUE(SetUtcModifiedTime(parent + kSep + NativePath(name), LocalTime(2021, 6, ++day, 12, 34, 56))) << name;
}

class CliEndToEnd : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(CliPath().empty()) << "TOLVEX_CLI_PATH is not set for this test program";
    MakeTree(src_.path());
  }
};

// One archive of the tree, listed as JSON, tested, extracted whole with the
// stored times of files and folders.
TEST_F(CliEndToEnd, AddListTestExtractGivesBackTheSameTreeAndMoveDeletesTheSources) {
  const Tree tree = Snapshot(src_.path(), true);
  const CliRun add = RunTolvex({"add", Archive(), src_.File("tree")});
  ASSERT_EQ(add.exit_code, 0) << add.err;

  const CliRun json = RunTolvex({"list", Archive(), "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  for (const std::string& text :
       {"{\"name\": " + cli::JsonString(NativePath("tree/docs/a.txt")) + ", \"size\": 15000, \"packed\": ",
        std::string("\"time\": \"2021-06-01T12:34:56\""), cli::JsonString(NativePath("tree/empty_folder/")),
        std::string("\"dir\": true"), std::string("\"totals\": {\"files\": 4, \"folders\": 4")})
    EXPECT_TRUE(Contains(json.out, text)) << text << "\n" << json.out;

  EXPECT_EQ(RunTolvex({"test", Archive()}).exit_code, 0);

  const CliRun extract = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(Snapshot(work_.File("out"), true), tree);
  EXPECT_EQ(Snapshot(src_.path(), true), tree) << "an add without --move changed its sources";

  const CliRun move = RunTolvex({"add", work_.File("moved.tvx"), src_.File("tree"), "--move"});
  ASSERT_EQ(move.exit_code, 0) << move.err;
  EXPECT_FALSE(PathExists(src_.File("tree"))) << "sources left behind";
  ASSERT_EQ(RunTolvex({"extract", work_.File("moved.tvx"), "-C", work_.File("moved")}).exit_code, 0);
  EXPECT_EQ(Snapshot(work_.File("moved"), true), tree);
}

// One command of a scene. Its words: @a is the scene's archive, @w/ and @s/
// the scene's folder and the one of the sources; '/' the system's separator;
// NAME=value first sets the environment (POSIX), >FILE sends stdout there.
struct Step {
  std::string command;
  int exit_code;
  std::vector<std::string> says = {};  // on stdout after success, else on stderr; "=..." all of it
  std::vector<std::string> never_says = {};
  const char* changes = nullptr;  // in @w/, as Changes gives them; after a failure none unless given
};

struct Scene {
  const char* name;
  std::vector<Step> steps;
  // Made in @w/ first, each holding its name or what follows '='; '/' last: a folder.
  std::vector<std::string> files = {};
  std::string archive = {};  // @a's bytes to begin with
  // Anything more in @w/ (given without a trailing separator); a reason to skip the scene, or empty.
  std::function<std::string(const std::string&)> setup = {};
  std::function<void(const std::string&)> teardown = {};  // undoes what setup did that TempDir cannot
};

#ifdef _WIN32
const char kOnWindows[] = "ambiguous";
const char kOnLinux[] = "";
#else
const char kOnWindows[] = "";
const char kOnLinux[] = "red\\x1b[31m.txt\n";  // the Windows module reports control characters as '_' already

// A small file system at path (root only), or with files written there and
// then made read-only, a folder whose files cannot be deleted: a read-only
// mount for root (who may delete anything else), chmod for a user.
std::string SmallDrive(const std::string& path, const char* size,
                       const std::vector<std::pair<std::string, std::string>>& files = {}) {
  const bool root = geteuid() == 0;
  if (!root && files.empty()) return "mounting a small file system needs root";
  if (root && mount("tolvex-test", path.c_str(), "tmpfs", 0, size) != 0) return "cannot mount a tmpfs";
  for (const auto& [name, bytes] : files)
    if (!WriteFileBytes(path + "/" + name, bytes)) return "cannot write the file";
  if (files.empty()) return "";
  return (root ? mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) : chmod(path.c_str(), 0555))
             ? "cannot make the folder read-only" : "";
}
// The teardown of scenes with a SmallDrive.
void Unmount(const std::string& w) {
  for (const char* folder : {"/small", "/locked"}) umount((w + folder).c_str()), chmod((w + folder).c_str(), 0755);
}
#endif

// Each in a folder of its own, the current one, that holds x.txt, a text file.
// A command that fails leaves the archive, the folder and the sources as they were.
const Scene kScenes[] = {
    {"into places entries in a folder of the archive",
     {{"add @a @s/tree --into backup/2024", 0}, {"list @a", 0, {" backup/2024/tree/docs/a.txt\n"}}}},
    {"adding to an existing archive keeps its entries",
     {{"add @a @s/tree", 0}, {"add @a @w/x.txt", 0}, {"list @a", 0, {" x.txt\n", " tree/b.bin\n", " tree/docs/a.txt\n",
       " tree/docs/sub/deep.txt\n", " tree/empty_file\n", " tree/empty_folder/\n", "5 files, 4 folders"}}}},
    {"extract of a chosen folder writes it into the current one",
     {{"add @a @s/tree", 0}, {"extract @a tree/docs", 0, {}, {},
       "+tree +tree/docs +tree/docs/a.txt=15000 bytes +tree/docs/sub +tree/docs/sub/deep.txt=deep"}}},
    {"delete removes a folder with everything below it",
     {{"add @a @s/tree", 0}, {"delete @a tree/docs tree/b.bin", 0},
      {"list @a", 0, {" tree/empty_file\n"}, {"docs", "b.bin"}}}},
    {"an unknown name is refused",
     {{"add @a @s/tree", 0}, {"delete @a no/such/entry", 1, {"not in the archive: no/such/entry"}},
      {"extract @a -C @w/ tree/nothing", 1, {"not in the archive: tree/nothing"}}}},
    {"existing files are kept unless --overwrite is given",
     {{"add @a @s/tree", 0},
      {"extract @a -C @w/out tree/docs/sub/deep.txt", 1,
       {"exists, not replaced (use --overwrite): @w/out/tree/docs/sub/deep.txt"}},
      {"extract @a -C @w/out tree/docs/sub/deep.txt --overwrite", 0, {}, {}, "~out/tree/docs/sub/deep.txt=deep"}},
     {"out/tree/docs/sub/deep.txt"}},
    {"paths from several folders are packed, a file where a folder of its name is refused and the reverse",
     {{"add @a @s/tree/docs @w/other.txt", 0}, {"list @a", 0, {" docs/sub/deep.txt\n", " other.txt\n"}},
      {"add @a @w/clashing/docs", 2, {"a folder of that name is in the archive: docs"}},
      {"add @a @w/clashing/other.txt", 2, {"a file of that name is in the archive: other.txt"}}},
     {"other.txt", "clashing/docs", "clashing/other.txt/in.txt"}},
    {"two paths of the same name are refused", {{"add @a @s/tree/docs @w/docs", 2, {"same name docs"}}}, {"docs/"}},
    {"a name too long for the file manager is refused before packing",
     {{"add @a @w/long --into " + std::string(250, 'e'), 2, {"name too long for the file manager", "@w/long/f.txt"}}},
     {"long/f.txt"}},
    {"a foreign or a missing archive is unusable",
     {{"list @w/x.txt", 2, {"not a Tolvex archive: @w/x.txt"}}, {"list @w/missing.tvx", 2, {"@w/missing.tvx"}},
      {"test @w/x.txt", 2, {"not a Tolvex archive: @w/x.txt"}},
      {"extract @w/x.txt", 2, {"not a Tolvex archive: @w/x.txt"}}}},
#ifndef _WIN32
    {"extract never writes through a link below the destination",
     {{"extract @a -C @w/out", 1, {"@w/out/sub is a symbolic link"}, {}, "+out/ok.txt=fine"}}, {}, {},
     [](const std::string& w) {
       const LinkScene links(w);
       return links.ready && WriteFileBytes(w + "/a.tvx", links.ArchiveBytesOf()) ? "" : "no links here";
     }},
    {"anything left out of an add is named and exits one",
     {{"add @a @w/tree", 1,
       {"broken symbolic link, left out: @w/tree/dangling", "left out: @w/tree/pipe",
        "symbolic link to a folder, not followed, left out: @w/tree/outside",
        geteuid() == 0 ? "" : "cannot read, left out: @w/tree/secret.txt (Permission denied)",
        geteuid() == 0 ? "" : "cannot read the folder, left out: @w/tree/shut (Permission denied)"}, {}, "+a.tvx"},
      {"list @a", 0, {" tree/good.txt\n", " tree/linked.txt\n"}}},
     {"tree/good.txt=good", "tree/secret.txt=secret", "tree/shut/", "elsewhere/"}, {},
     [](const std::string& w) {
       fs::create_symlink(w + "/tree/missing", w + "/tree/dangling");
       fs::create_symlink(w + "/tree/good.txt", w + "/tree/linked.txt");
       fs::create_directory_symlink(w + "/elsewhere", w + "/tree/outside");
       return mkfifo((w + "/tree/pipe").c_str(), 0644) == 0 && chmod((w + "/tree/secret.txt").c_str(), 0) == 0 &&
                      chmod((w + "/tree/shut").c_str(), 0) == 0
                  ? "" : "no pipe or no unreadable file here";
     }},
    {"an archive without write bits is read-only, also to root",
     {{"delete @a a.txt", 1, {"cannot write @a: the archive is read-only"}}}, {}, ArchiveBytes({{"a.txt", "a"}}),
     [](const std::string& w) { return chmod((w + "/a.tvx").c_str(), 0444) == 0 ? "" : "cannot chmod"; }},
    {"output that cannot be written and a temporary folder that is missing or a file are errors",
     {{"list @a >/dev/full", 2, {"cannot write the output: "}}, {"list --json @a >/dev/full", 2, {"cannot write the output: "}},
      {"test @a >/dev/full", 2, {"cannot write the output: "}},
      {"TMPDIR=@w/missing add @a @w/x.txt", 1, {"TMPDIR names a folder that does not exist: @w/missing"}},
      {"TMPDIR=@w/x.txt add @a @w/x.txt", 1, {"TMPDIR names a file, not a folder: @w/x.txt"}}},
     {}, ArchiveBytes({{"f.txt", "f"}})},
    {"no room on the archive's drive is named before packing",
     {{"add @w/small/a.tvx @w/big.bin", 2, {"not enough free space on its drive"}}},
     {"small/", "big.bin=" + NoiseBytes(1 << 20, 2)}, {},
     [](const std::string& w) { return SmallDrive(w + "/small", "size=256k"); }, Unmount},
    // Delete asks the module first, and names the folder once it failed.
    {"a folder without write permission is named before packing and a move names the source it kept",
     {{"add @w/locked/a.tvx @w/locked/kept.txt", 2, {"its folder is not writable"}, {"disk full"}},
      {"delete @w/locked/b.tvx a.txt", 1, {"its folder is not writable"}},
      {"add @a @w/locked/kept.txt --move", 1, {"kept @w/locked/kept.txt: could not be deleted"}, {}, "+a.tvx"},
      {"list @a", 0, {" kept.txt\n"}}},
     {"locked/"}, {},
     [](const std::string& w) {
       return SmallDrive(w + "/locked", "size=1m", {{"kept.txt", "keep me"}, {"b.tvx", ArchiveBytes({{"a.txt", "alpha"}})}});
     }, Unmount},
#endif
    {"a file of 2 GiB is refused before packing",
     {{"add @a @w/big.iso", 2, {"file too large for the format: @w/big.iso"}}}, {"big.iso="}, {},
     [](const std::string& w) {
       std::error_code ec;
       fs::resize_file(w + "/big.iso", uintmax_t{1} << 31, ec);
       return ec ? "cannot make a sparse 2 GiB file here: " + ec.message() : "";
     }},
    {"a damaged directory is unusable", {{"list @a", 2, {"archive is damaged: @a"}}}, {},
     ArchiveBytes({{"a.txt", "aaaa"}, {"b.txt", "bbbb"}}).substr(0, 56)},  // cut into the records (up to 60)
    {"a damaged entry fails its test and is named; the others are extracted",
     {{"test @a", 1, {"damaged entry: broken.txt"}, {"good.txt"}},
      {"extract @a -C @w/out", 1, {}, {}, "+out +out/good.txt=plain stored bytes"}},
     {}, ArchiveBytes({{"good.txt", "plain stored bytes"}, {"broken.txt", std::string(40, '\x5a'), 5000}})},
    {"extract never writes outside the destination: names that climb out land inside it",
     {{"extract @a -C @w/dest/out", 0, {}, {},
       "+dest +dest/out +dest/out/evil=evil +dest/out/ok.txt=fine +dest/out/sub +dest/out/sub/evil2=evil"}},
     {}, ArchiveBytes({{"../evil", "evil"}, {"sub/../../evil2", "evil"}, {"ok.txt", "fine"}})},
    // Written on Linux or by another tool, an archive may hold names that
    // differ only in case. A guess at the case that could mean either is
    // refused (on Linux it names nothing).
    {"names that differ only in case are chosen by their exact spelling",
     {{"delete @a A.TXT", 1, {kOnWindows}}, {"extract @a -C @w/ A.TXT", 1, {kOnWindows}},
      {"extract --overwrite @a -C @w/out A.txt docs/x", 0, {}, {},
       "+out +out/A.txt=upper +out/docs +out/docs/x=lower x"},
      {"delete @a A.txt Docs/x", 0}, {"list @a", 0, {" a.txt\n", " docs/x\n"}, {" A.txt\n", "Docs"}}},
     {}, ArchiveBytes({{"A.txt", "upper"}, {"a.txt", "lower"}, {"Docs/x", "upper x"}, {"docs/x", "lower x"}})},
    {"test and its JSON count the stored entries whose size alone was checked",
     {{"add @a @w/text.txt @w/noise.bin", 0},
      {"t @a", 0, {"=2 entries tested, all OK; 1 stored entry has no checksum: its size was checked\n"}},
      {"test @a --json", 0, {"\"tested\": 2, \"damaged\": 0, \"stored_size_checked\": 1"}},
      {"l @a --json", 0, {"\"stored\": true, \"name_hex\": \"6e6f6973652e62696e\""}}},
     {"text.txt=" + std::string(5000, 'a'), "noise.bin=" + NoiseBytes(3000, 1)}},
    // An escape sequence, an encoded surrogate, an overlong '/', a code point
    // above U+10FFFF: the exact bytes travel as name_hex and select the entry.
    {"hostile names are escaped in the table and valid in JSON",
     {{"list @a", 0, {kOnLinux}, {"\x1b"}}, {"list @a --json", 0,
       {"\"name_hex\": \"73eda0802e747874\"", "\"name_hex\": \"6fe080af2e747874\"",
        "\"name_hex\": \"62f49080802e747874\""},
       {"\xED\xA0", "\xE0\x80", "\xF4\x90"}},
#ifndef _WIN32
      {"x @a -C @w/out s\xED\xA0\x80.txt", 0, {}, {}, "+out +out/s\xED\xA0\x80.txt=x"},
#endif
     },
     {}, ArchiveBytes({{"red\x1b[31m.txt", "x"}, {"s\xED\xA0\x80.txt", "x"}, {"o\xE0\x80\xAF.txt", "x"},
                   {"b\xF4\x90\x80\x80.txt", "x"}})},
    {"move keeps the sources when packing fails", {{"add @w/x.txt @s/tree --move", 2, {"not a Tolvex archive"}}}},
#ifndef _WIN32
    // The late-signal module raises SIGINT right after PackFiles and DeleteFiles
    // return: too late to stop the call, whose work is done and said so.
    {"a signal after the work is done reports the work as done",
     {{"--plugin " TOLVEX_LATE_SIGNAL_MODULE " add @a @w/a.txt --move", 0, {"1 entry added"}, {}, "+a.tvx -a.txt"},
      {"--plugin " TOLVEX_LATE_SIGNAL_MODULE " delete @a a.txt", 0, {"1 item deleted"}}},
     {"a.txt"}},
#endif
    {"help and usage",
     {{"add --help", 0, {"Usage: tolvex add"}}, {"list @a --move", 2, {"--move"}},
      {"--help", 0, {"list, l ", "test, t ", "extract, x ", "add, a ", "delete, d "}},
      // Nothing else would tell a user why an extracted program no longer runs.
      {"help extract", 0, {"--overwrite", "stores no permission bits"}}}},
    {"an unloadable module is reported",
     {{"--plugin @w/x.txt list @a", 2, {"cannot load the packer module: @w/x.txt"}}}},
};

TEST_F(CliEndToEnd, CommandsSayWhatTheyDidAndAFailureChangesNothing) {
  const Tree sources = Snapshot(src_.path());
  for (const Scene& scene : kScenes) {
    SCOPED_TRACE(scene.name);
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("x.txt"), "hello, I am text\n"));
    ASSERT_TRUE(scene.archive.empty() || WriteFileBytes(dir.File("a.tvx"), scene.archive));
    for (const std::string& file : scene.files) {
      const std::string name = file.substr(0, file.find('='));
      const fs::path path = dir.path() + kSep + NativePath(name);
      fs::create_directories(name.back() == '/' ? path : path.parent_path());
      const std::string bytes = name == file ? name : file.substr(name.size() + 1);
      ASSERT_TRUE(name.back() == '/' || WriteFileBytes(path.string(), bytes));
    }
    const std::shared_ptr<void> undo(nullptr, [&](void*) { scene.teardown ? scene.teardown(dir.path()) : void(); });
    if (const std::string why = scene.setup ? scene.setup(dir.path()) : ""; !why.empty()) {
      std::cout << "skipped here: " << scene.name << ": " << why << "\n";
      continue;
    }
    const auto expand = [&](std::string text) {
      for (const auto& [mark, path] : {std::pair<std::string, std::string>{"@a", dir.File("a.tvx")},
                                       {"@w/", dir.path() + "/"}, {"@s/", src_.path() + "/"}})
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), path);
      return NativePath(text);
    };
    for (const Step& step : scene.steps) {
      std::vector<std::string> args, environment;
      std::string output;
      std::istringstream words(step.command);
      for (std::string word; words >> word;) {
        if (word[0] == '>') output = word.substr(1);
        else (args.empty() && word[0] != '-' && Contains(word, "=") ? environment : args).push_back(expand(word));
      }
      const Tree before = Snapshot(dir.path());
      const CliRun run = RunTolvex(args, dir.path(), environment, output);
      const std::string& said = step.exit_code == 0 ? run.out : run.err;
      EXPECT_EQ(run.exit_code, step.exit_code) << step.command << "\n" << run.err;
      for (const std::string& text : step.says) {
        if (text[0] == '=') EXPECT_EQ(said, expand(text.substr(1))) << step.command;
        else EXPECT_TRUE(Contains(said, expand(text))) << step.command << ": " << said;
      }
      for (const std::string& text : step.never_says) EXPECT_FALSE(Contains(said, text)) << step.command << ": " << said;
      if (step.changes || step.exit_code != 0) {
        EXPECT_EQ(Changes(before, Snapshot(dir.path())), step.changes ? step.changes : "") << step.command;
      }
    }
    EXPECT_EQ(Snapshot(src_.path()), sources);
  }
  EXPECT_EQ(RunTolvex({"--version"}).out, std::string("tolvex ") + TOLVEX_CLI_VERSION + "\n");
}

// A file's time is read and given back with the daylight-saving rule of its
// own date, whatever the season it is packed in: 12:00 in Berlin is 11:00 UTC
// in January and 10:00 UTC in July.
TEST_F(CliEndToEnd, TimesKeepTheDaylightSavingOfTheirOwnDate) {
#ifdef _WIN32
  // The tool takes the zone this program started in (under Wine: its TZ;
  // ctest runs this case once more with TZ=Europe/Berlin).
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  if (zone.Bias != -60 || zone.DaylightBias != -60) GTEST_SKIP() << "the time zone here is not Central European";
#else
  const TimeZoneGuard zone("Europe/Berlin");
#endif
  const std::tuple<const char*, int, int> cases[] = {{"jan.txt", 1, 11}, {"jul.txt", 7, 10}};  // name, month, UTC hour
  std::vector<std::string> args = {"add", Archive()};
  for (const auto& [name, month, utcHour] : cases) {
    ASSERT_TRUE(WriteFileBytes(src_.File(name), name) &&
                SetUtcModifiedTime(src_.File(name), SecondsFromCivil(2005, month, 15, utcHour, 0, 0)));
    args.push_back(src_.File(name));
  }
  const CliRun add = RunTolvex(args), extract = RunTolvex({"extract", Archive(), "-C", work_.File("out")});
  ASSERT_TRUE(add.exit_code == 0 && extract.exit_code == 0) << add.err << extract.err;
  const ArchiveLayout layout = ParseLayout(ReadFileBytes(Archive()));
  ASSERT_EQ(layout.records.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto& [name, month, utcHour] = cases[i];
    EXPECT_EQ(layout.records[i].time, SecondsFromCivil(2005, month, 15, 12, 0, 0)) << name;
    EXPECT_EQ(UtcModifiedTime(work_.File("out") + kSep + name), SecondsFromCivil(2005, month, 15, utcHour, 0, 0))
        << name;
  }
}

#ifndef _WIN32
// Runs tolvex with its stderr on a pseudo-terminal: what was drawn there
// comes back as err.
CliRun RunOnTerminal(const std::vector<std::string>& args) {
  CliRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
  ProgramIo io;
  io.stderrPath = ptsname(master);
  const int slave = open(io.stderrPath.c_str(), O_RDWR | O_NOCTTY);  // keeps what is drawn readable
  fcntl(master, F_SETFL, O_NONBLOCK);
  const int pid = StartTolvex(args, io);
  for (int status = 0, running = pid > 0; running;) {
    running = waitpid(pid, &status, WNOHANG) == 0;
    if (!running) run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) run.err.append(buffer, static_cast<size_t>(n));
    if (running) usleep(10000);
  }
  close(slave);
  close(master);
  return run;
}

// The bar is drawn on a terminal only, and moves within a large file: it shows
// two percentages between 0 and 100 under its name.
TEST_F(CliEndToEnd, ProgressBarOnlyOnATerminalMovingWithinALargeFile) {
  ASSERT_TRUE(WriteFileBytes(src_.File("tree") + "/big.bin", NoiseBytes(16 << 20, 8)));
  const CliRun add = RunOnTerminal({"add", Archive(), src_.File("tree")});
  ASSERT_EQ(add.exit_code, 0) << add.err;
  std::set<int> shown;
  for (size_t at = add.err.find('['); at != std::string::npos; at = add.err.find('[', at + 1)) {
    const std::string line = add.err.substr(at, add.err.find('\r', at) - at);
    const size_t percent = line.find('%');
    const int value = percent >= 3 && percent != std::string::npos ? std::atoi(line.substr(percent - 3, 3).c_str()) : 0;
    if (Contains(line, "big.bin") && value > 0 && value < 100) shown.insert(value);
  }
  EXPECT_GE(shown.size(), 2u) << add.err;

  const CliRun quiet = RunOnTerminal({"test", "--quiet", Archive()}), piped = RunTolvex({"test", Archive()});
  const CliRun extract = RunOnTerminal({"extract", Archive(), "-C", work_.File("out")});
  EXPECT_TRUE(quiet.exit_code == 0 && !Contains(quiet.err, "\r[")) << quiet.exit_code << quiet.err;
  EXPECT_TRUE(piped.exit_code == 0 && !Contains(piped.err, "\r")) << piped.exit_code << piped.err;
  EXPECT_TRUE(extract.exit_code == 0 && Contains(extract.err, "\r[")) << extract.exit_code << extract.err;
}
#endif

// --- what it did not do -----------------------------------------------------------

using CliResults = CliTest;

TEST_F(CliResults, DeleteOfManyNamesLooksThemUp) {
  if (RunningUnderWine()) GTEST_SKIP() << "times under Wine say nothing about the tool";
  // 5,000 names against 100,000 entries: comparing each name with each entry
  // takes about 5 s; looking them up, a fraction of a second.
  std::vector<RawEntry> entries;
  std::vector<std::string> args{"delete", Archive()};
  for (int i = 0; i < 100000; ++i) {
    entries.push_back({"d/f" + std::to_string(i), "x"});
    if (i % 20 == 0) args.push_back(entries.back().name);
  }
  ASSERT_TRUE(WriteFileBytes(Archive(), ArchiveBytes(entries)));
  const auto start = std::chrono::steady_clock::now();
  const CliRun del = RunTolvex(args);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(del.exit_code == 0 && Contains(del.out, "5000 items deleted")) << del.err << del.out;
  EXPECT_LT(seconds, 2.0) << "delete of 5,000 names took " << seconds << " s";
}

#ifdef _WIN32
// Another program holding the archive open, sharing nothing or only reading:
// add and delete say so, instead of calling it no archive or a failing disk.
TEST_F(CliResults, AnArchiveInUseByAnotherProgramIsNamedSo) {
  ASSERT_TRUE(WriteFileBytes(src_.File("f.txt"), "f"));
  ASSERT_EQ(RunTolvex({"add", Archive(), src_.File("f.txt")}).exit_code, 0);
  const std::string before = ReadFileBytes(Archive());
  for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
    const HANDLE held = CreateFileA(Archive().c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const CliRun add = RunTolvex({"add", Archive(), src_.File("f.txt")});
    const CliRun del = RunTolvex({"delete", Archive(), "f.txt"});
    CloseHandle(held);
    for (const CliRun& run : {add, del})
      EXPECT_TRUE(run.exit_code != 0 && Contains(run.err, "in use by another program")) << sharing << ": " << run.err;
  }
  EXPECT_EQ(ReadFileBytes(Archive()), before);
}
#endif

// --- while something happens to its files ----------------------------------------------

#ifndef _WIN32
// Bytes the process has read so far (its rchar); -1 when that cannot be read.
long long BytesRead(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  for (long long value = 0; in >> key >> value;)
    if (key == "rchar:") return value;
  return -1;
}

// Starts tolvex and holds it stopped (SIGSTOP) in the middle of its work: once
// it has read more than `from` bytes and, counted while it stands still, fewer
// than `before`. The rest of the work is then ahead of it however late this
// process came to stop it. -1 when it ended or ran past `before` first (it is
// gone then).
pid_t StopMidWork(const std::vector<std::string>& args, const ProgramIo& io, long long from, long long before) {
  const pid_t pid = StartTolvex(args, io);
  if (pid <= 0) return -1;
  for (long long read = 0; read <= from; read = BytesRead(pid)) {
    if (waitpid(pid, nullptr, WNOHANG) != 0) return -1;
    usleep(100);
  }
  int status = 0;
  if (kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
    const long long read = BytesRead(pid);
    if (read > from && read < before) return pid;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return -1;
}

// The exit code of a child let go on, or 128 + the signal that ended it.
int ExitCodeAfterContinuing(pid_t pid) {
  kill(pid, SIGCONT);
  const ChildOutcome end = WaitForChild(pid);
  return end.exited ? end.exitCode : 128 + end.signal;
}

class CliWhileItRuns : public CliTest {
 protected:
  // Catches tolvex in the middle of its work (StopMidWork) on sources of 16
  // MiB, and where it slipped through, of 32 and then 64 MiB. prepare(size)
  // sets up the sources in the emptied folders and gives the arguments. -1
  // when it never was caught.
  pid_t CatchMidWork(const std::function<std::vector<std::string>(size_t)>& prepare) {
    const ProgramIo io{"", logs_.File("out.txt"), logs_.File("err.txt"), {"TMPDIR=" + temp_.path()}};
    for (size_t size = 16 << 20; size <= 64 << 20; size *= 2) {
      for (const std::string& folder : {work_.path(), temp_.path()})
        for (const auto& item : fs::directory_iterator(folder)) fs::remove_all(item.path());
      const std::vector<std::string> args = prepare(size);
      if (const pid_t pid = StopMidWork(args, io, 1 << 20, static_cast<long long>(size / 2)); pid > 0) return pid;
    }
    return -1;
  }
  std::string Err() const { return ReadFileBytes(logs_.File("err.txt")); }
  TempDir temp_;
  TempDir logs_;
};

TEST_F(CliWhileItRuns, MoveKeepsASourceEditedAfterItWasRead) {
  // a.txt is read first; tolvex is stopped while it reads b.bin, a.txt edited
  // and tolvex let go on: nothing races with the edit.
  const std::string edited = src_.File("a.txt");
  const pid_t pid = CatchMidWork([&](size_t size) {
    EXPECT_TRUE(WriteFileBytes(edited, "old") && WriteFileBytes(src_.File("b.bin"), NoiseBytes(size, 5)));
    return std::vector<std::string>{"add", Archive(), edited, src_.File("b.bin"), "--move"};
  });
  ASSERT_GT(pid, 0) << "tolvex was never caught in the middle of its work";
  std::ofstream(edited, std::ios::app) << " and new";
  EXPECT_EQ(ExitCodeAfterContinuing(pid), 1);
  EXPECT_EQ(ReadFileBytes(edited), "old and new");
  EXPECT_FALSE(PathExists(src_.File("b.bin")));
  ASSERT_EQ(RunTolvex({"extract", Archive(), "-C", work_.File("out")}).exit_code, 0);
  EXPECT_EQ(ReadFileBytes(work_.File("out") + "/a.txt"), "old");
  EXPECT_TRUE(Contains(Err(), "kept " + edited + ": it changed after it was read")) << Err();
}

// A signal in the middle of a large entry stops the work as the file
// manager's Cancel does, and the exit status still names the signal: the
// archive stays byte for byte as it was (an add of a new one leaves none, and
// the next add works), every source stays, nothing is left in the temporary
// folder or beside the archive; an extraction leaves no cut file and no
// partial one, and the folder it made has its stored date. A second signal
// does not wait for the work, and still leaves nothing cut.
TEST_F(CliWhileItRuns, ASignalStopsTheWorkAsCancelDoes) {
  constexpr std::time_t kFolderTime = 1600000000;
  // The command (@a is the archive, made first unless the command names @new
  // instead; @big the large source, @out the extraction's folder), the signal
  // and one more, handled before the work could stop for the first.
  // clang-format off
  const std::tuple<std::string, int, int> cases[] = {
      {"add @a @big", SIGINT, 0}, {"add @new @big", SIGTERM, 0}, {"add @a @big --move", SIGTERM, 0},
      {"delete @a small.txt", SIGHUP, 0}, {"extract @a -C @out", SIGINT, 0}, {"test @a", SIGHUP, 0},
      {"extract @a -C @out --overwrite", SIGTERM, 0}, {"extract @a -C @out", SIGINT, SIGTERM},
      {"extract @a -C @out --overwrite", SIGINT, SIGTERM}};
  // clang-format on
  std::string big, archive_bytes;
  const std::string out = work_.File("out");
  for (const auto& [command, signalNumber, secondSignal] : cases) {
    SCOPED_TRACE(command + (secondSignal ? ", two signals" : ""));
    const bool addNew = Contains(command, "@new"), over = Contains(command, "--overwrite");
    const bool extract = command.rfind("extract", 0) == 0 && !over;
    const pid_t pid = CatchMidWork([&](size_t size) {
      if (big.size() != size) {
        big = NoiseBytes(size, 7);
        archive_bytes = ArchiveBytes({{"tree/", "", -1, kFolderTime}, Stored("tree/big.bin", big),
                                      Stored("small.txt", "small")});
      }
      EXPECT_TRUE(WriteFileBytes(src_.File("big.bin"), big));
      EXPECT_TRUE(addNew || WriteFileBytes(Archive(), archive_bytes));
      if (over) {
        fs::create_directories(out + "/tree");
        EXPECT_TRUE(WriteFileBytes(out + "/tree/big.bin", "there before"));
      }
      const std::map<std::string, std::string> marks = {
          {"@a", Archive()}, {"@new", Archive()}, {"@big", src_.File("big.bin")}, {"@out", out}};
      std::vector<std::string> args;
      std::istringstream words(command);
      for (std::string word; words >> word;) args.push_back(marks.count(word) ? marks.at(word) : word);
      return args;
    });
    ASSERT_GT(pid, 0) << "tolvex was never caught in the middle of its work";
    // Both signals while it stands still: both handlers run before the work goes on.
    kill(pid, signalNumber);
    if (secondSignal != 0) kill(pid, secondSignal);
    EXPECT_EQ(ExitCodeAfterContinuing(pid), 128 + signalNumber) << Err();
    EXPECT_TRUE(addNew ? !PathExists(Archive()) : ReadFileBytes(Archive()) == archive_bytes) << "the archive changed";
    EXPECT_TRUE(ReadFileBytes(src_.File("big.bin")) == big) << "the source changed or went";
    EXPECT_TRUE(fs::is_empty(temp_.path())) << "debris left in the temporary folder";
    const std::string left = extract ? "+tree" : over ? "+tree +tree/big.bin=there before" : addNew ? "" : "+a.tvx";
    EXPECT_EQ(Changes({}, Snapshot(extract || over ? out : work_.path())), left) << "a cut or partial file, or debris";
    // Stored as a wall-clock time, set as local time: within a day of it.
    if (extract && secondSignal == 0) {
      EXPECT_LT(std::abs(UtcModifiedTime(out + "/tree") - kFolderTime), 86400);
    }
    if (addNew) {
      ASSERT_TRUE(WriteFileBytes(src_.File("small.txt"), "small"));
      EXPECT_EQ(RunTolvex({"add", Archive(), src_.File("small.txt")}).exit_code, 0) << "the next add";
      EXPECT_TRUE(Contains(RunTolvex({"list", Archive()}).out, " small.txt\n"));
    }
  }
}

// Where the archive's drive has no room for a copy, the module overwrites the
// archive in place from the finished new one in tolvex's temporary folder,
// and keeps that one when the overwrite fails. Neither the end of the command
// nor a second signal during the overwrite may delete that only whole copy.
TEST_F(CliWhileItRuns, TheNewArchiveInTheTemporaryFolderOutlivesAFailedOrInterruptedReplacement) {
  for (const bool signalled : {false, true}) {
    SCOPED_TRACE(signalled ? "two signals during the overwrite" : "the overwrite failed");
    ASSERT_TRUE(WriteFileBytes(Archive(), "old archive"));
    const std::string temp = work_.File(signalled ? "signalled" : "failed");
    fs::create_directories(temp);
    const ChildOutcome end = RunInChild([&] {
      setenv("TMPDIR", temp.c_str(), 1);
      cli::InterruptCleanup cleanup;
      cleanup.WatchSideFilesOf(Archive());
      const std::string kept = cleanup.Folder() + "/tvxKEPT";
      WriteFileBytes(kept, "new archive");
      WriteFileBytes(Archive(), "overwrit");
      if (signalled) {
        raise(SIGINT);
        raise(SIGTERM);
      }
      return cleanup.KeptFiles() == std::vector<std::string>{kept} ? 0 : 3;
    });
    EXPECT_TRUE(end.exited && end.exitCode == (signalled ? 128 + SIGINT : 0)) << end.exitCode << " " << end.signal;
    EXPECT_EQ(Snapshot(temp).size(), 2u) << "the kept archive went";
  }
}
#endif

}  // namespace
}  // namespace tvx::test
