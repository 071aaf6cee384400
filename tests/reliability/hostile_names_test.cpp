// Archives whose entry names try to leave the destination folder: "..",
// absolute paths, drive letters, backslashes, control characters, empty
// components, 65,535-byte names. The module must list each one under a safe
// name, and `tolvex extract -C DIR` must write nothing outside DIR.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/cli_runner.h"
#include "support/module_driver.h"

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxNameBytes = 65535;  // a record's uint16 name length

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  while (times-- > 0) out += piece;
  return out;
}

const char* const kDriveNames[] = {"C:\\tolvex-hostile-drive.txt", "C:tolvex-hostile-drive-relative.txt",
                                   "C:/tolvex-hostile-drive-forward.txt"};

// Names that climb, at most three levels, so that a climb out of DIR still
// lands inside the scratch folder, where it is seen: absolute paths into it,
// backslashes, control characters, NUL bytes (the host reads up to the first
// one; fuzz_read_archive: five NUL bytes were once reported as an empty name),
// 65,535 bytes of one name, of climbing, of depth.
std::vector<std::string> ClimbingNames(std::string scratch) {
  for (char& c : scratch) c = c == '\\' ? '/' : c;
  // A table: the formatter would give each name a line.
  // clang-format off
  std::vector<std::string> names = {"../up1.txt", "a/../../up2.txt", "a/b/../../../../up3.txt", "..", "../", ".",
                                    "./", "", "/", "//", "...", "x/..", "x/../", "a//b/./c.txt",
                                    scratch + "/absolute.txt", "/" + scratch + "/double.txt",
                                    "..\\..\\backslash-up.txt", "a\\..\\..\\..\\backslash-up2.txt",
                                    "\\\\server\\share\\unc.txt", "ctl\x01\x1f\x7f\n\r\t.txt", "dir\x01/file.txt",
                                    "trailing-dot./file.txt", std::string("..\0/nul-up.txt", 14),
                                    std::string("a/..\0", 5), std::string(5, '\0'), std::string("..\0x", 4),
                                    std::string("docs/..\0/", 9), std::string("\0/evil", 6),
                                    std::string(kMaxNameBytes, 'x'), Repeat("../", kMaxNameBytes / 3),
                                    Repeat("a/", kMaxNameBytes / 2 - 8) + "long-path.txt"};
  // clang-format on
  names.insert(names.end(), std::begin(kDriveNames), std::end(kDriveNames));
  return names;
}

// Calls visit for everything below folder. Unlike recursive_directory_iterator
// it goes on past names the system lists but cannot look up (Windows drops a
// trailing dot), since every name must be seen.
template <typename Visit>
void WalkTree(const fs::path& folder, Visit visit) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    visit(it->path());
    std::error_code kind;
    if (it->is_directory(kind) && !it->is_symlink(kind)) WalkTree(it->path(), visit);
  }
}

// The archive in scratch/l1/l2/outer, extracted to scratch/l1/l2/outer/dest (DIR).
TEST(HostileNames, EveryNameIsListedSafelyAndCommandLineExtractionWritesOnlyInsideTheDestination) {
  ASSERT_NE(LoadedModule(), nullptr) << ModulePath();
  TempDir scratch;
  const std::vector<std::string> names = ClimbingNames(scratch.path());
  const std::string outer = scratch.path() + NativePath("/l1/l2/outer"), archive = outer + NativePath("/hostile.tvx");
  fs::create_directories(outer);
  std::vector<RawEntry> entries;
  for (const std::string& name : names)
    entries.push_back(Stored(name, "content of entry " + std::to_string(entries.size())));
  ASSERT_TRUE(WriteFileBytes(archive, ArchiveBytes(entries)));

  const Listing listing = ListAndTest(*LoadedModule(), archive);
  ASSERT_TRUE(listing.opened) << listing.openResult;
  ASSERT_EQ(listing.entries.size(), names.size());
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& e = listing.entries[i];
    EXPECT_TRUE(e.nameSafe && e.name.size() < 260u && e.testResult == 0)
        << "stored " << Hex(names[i].substr(0, 80)) << " listed as \"" << e.name << "\", test " << e.testResult;
  }

  const CliRun run = RunTolvex({"extract", archive, "-C", outer + NativePath("/dest")});
  EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1) << run.exit_code << "\n" << run.err;
  // The whole scratch tree: only the archive, its folders and DIR's contents.
  const fs::path root(scratch.path());
  size_t inside = 0;
  WalkTree(root, [&](const fs::path& path) {
    const std::string relative = path.lexically_relative(root).generic_string();
    const bool below = relative.compare(0, 17, "l1/l2/outer/dest/") == 0;
    const bool allowed = below || relative == "l1" || relative == "l1/l2" || relative == "l1/l2/outer" ||
                         relative == "l1/l2/outer/hostile.tvx" || relative == "l1/l2/outer/dest";
    EXPECT_TRUE(allowed) << "written outside the destination: " << relative;
    inside += below ? 1 : 0;
  });
  EXPECT_GT(inside, 0u) << "nothing was extracted at all\n" << run.err;
  // Names that would reach beyond the scratch folder.
  for (const char* name : kDriveNames) EXPECT_FALSE(PathExists(name)) << name;
}

}  // namespace
}  // namespace tvx::test::reliability
