// The one scene every fault sweep plays: an archive, the files packed into it
// and the entries deleted from it, laid out on disk; what the archive must hold
// after each change; the checks that nothing was lost; and the loop that
// fails (or kills before) the Nth call for every N a clean run reaches.
#ifndef TOLVEX_TESTS_SUPPORT_FAULT_SCENE_H
#define TOLVEX_TESTS_SUPPORT_FAULT_SCENE_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx::test {

// What the host does to the scene's archive through the exports: packing
// into it (and deleting the packed files), creating it, deleting from it.
enum class SceneChange { kPack, kPackAndMove, kCreate, kDelete };
const char* ChangeName(SceneChange change);

// An entry as the archive must hold it: '/' separators, a trailing '/' for a
// folder, the content unpacked.
struct SceneEntry {
  std::string name;
  std::string content;
};

// The old archive keeps a large stored file and a deflated text, and loses a
// folder with a file in it and a small stored file; the files packed are a
// folder with a text that deflates and an empty file, and an incompressible
// file whose deflate attempt loses to storing.
struct FaultScene {
  std::vector<RawEntry> oldEntries;         // the archive before, as its bytes are written
  std::vector<SceneEntry> oldContent;       // the same entries, unpacked
  std::vector<SceneEntry> packed;           // the files to pack, each folder before its files
  std::vector<std::string> deletedFiles;    // entries a delete names one by one
  std::vector<std::string> deletedFolders;  // folders ("docs/") a delete removes with all below them

  // What the archive holds after each change: kept entries first, in their
  // order, then the packed ones.
  std::vector<SceneEntry> After(SceneChange change) const;
  // Both at once, as a rebuild can do.
  std::vector<SceneEntry> AfterDeleteAndPack() const;
  // The bytes of the files to pack.
  uint64_t PackedBytes() const;
};

// The scene's size: the old archive's stored file has bigBytes, the
// incompressible file to pack a twelfth less, the texts grow with it up to
// 100 KB. Above the 1 MiB copy piece (kLargeScene) every copy, store and
// deflate attempt takes several pieces; the default still fills several 64 KiB
// pieces of deflate output. In each the files packed add less than the old
// archive holds.
constexpr size_t kLargeScene = 1200000;
constexpr size_t kSmallScene = 200 * 1024;
// The scene of that size, made once per test program: its data is large.
const FaultScene& SharedFaultScene(size_t bigBytes = kSmallScene);

// Whether the archive at path opens undamaged and holds exactly these entries
// in this order: each reads back through the module, and its bytes, decoded
// here, are its content.
::testing::AssertionResult ArchiveHolds(const std::string& path, const std::vector<SceneEntry>& expected);

// The scene on disk, in a fresh folder, once Reset has laid it out: arc/
// holds the archive (old.tvx), src/ the files to pack, tmp/ serves as the
// temporary folder.
class SceneFolders {
 public:
  explicit SceneFolders(const FaultScene& scene);

  const FaultScene& scene() const { return scene_; }
  const std::string& root() const { return dir_.path(); }
  std::string archiveFolder() const { return dir_.File("arc"); }
  std::string sourceFolder() const { return dir_.File("src"); }
  std::string tempFolder() const { return dir_.File("tmp"); }
  std::string archive() const { return archiveFolder() + NativeSeparator() + "old.tvx"; }
  // The folder as the host passes SrcPath: with its trailing separator.
  std::string SrcPath() const { return sourceFolder() + NativeSeparator(); }
  // A packed file's path below src/.
  std::string SourcePath(const std::string& entryName) const;
  const std::string& oldBytes() const { return oldBytes_; }

  // Everything as before a change: the old archive (none when withArchive is
  // false: the change creates it), the files to pack with one fixed time, so
  // that every run writes the same archive, and nothing else in the folders.
  void Reset(bool withArchive = true);
  void ResetFor(SceneChange change) { Reset(change != SceneChange::kCreate); }

  // The change as PackFiles or DeleteFiles makes it, through system: the
  // host's result code.
  int Apply(platform::System& system, SceneChange change) const;

  // The host's AddList and DeleteList for the scene.
  std::string PackList() const;
  std::string DeleteList() const;

  // Everything in arc/ besides the archive, in tmp/, and in src/ besides the
  // files to pack: full paths.
  std::vector<std::string> Leftovers() const;
  // Whether every file to pack is there with its content; a missing one
  // passes where missingAllowed (a move that finished).
  ::testing::AssertionResult SourcesIntact(bool missingAllowed = false) const;

 private:
  const FaultScene& scene_;
  TempDir dir_;
  std::string oldBytes_;
  std::filesystem::file_time_type fixedTime_;
};

// --- the sweep --------------------------------------------------------------------

// Which calls a case fails: the mutating calls (writes, truncations, flushes,
// renames), the reads, or the process killed before a mutating call.
enum class Failing { kWrites, kReads, kKill };

struct FaultCase {
  Failing failing;
  bool once;  // only call N; else N and every later one (a kill ends it all anyway)
};

// What a clean run counted.
struct CallCounts {
  uint64_t mutating = 0;
  uint64_t reads = 0;
};
CallCounts CountsOf(const FaultySystem& cleanRun);
// The calls of the clean run that a case sweeps.
uint64_t CallsSwept(const FaultCase& c, const CallCounts& cleanRun);
// The plan that fails (or kills before) call n.
FaultPlan PlanFor(const FaultCase& c, uint64_t n);
// "the Nth write alone", "every write from the Nth on", "a kill before the
// Nth mutating call".
std::string Describe(const FaultCase& c);
inline void PrintTo(const FaultCase& c, std::ostream* os) { *os << Describe(c); }
// "write 3 of 12 failed once", "read 2 of 7 and every later one failed",
// "killed before mutating call 5 of 14".
std::string Describe(const FaultCase& c, uint64_t n, uint64_t calls);

// For every N from 1 to the calls of the case's kind that the clean run made
// (a failure when it made none): step with the plan for N and its
// description. Stops at a fatal failure.
void ForEveryCall(const FaultCase& c, const CallCounts& cleanRun,
                  const std::function<void(const FaultPlan& plan, const std::string& what)>& step);

}  // namespace tvx::test

#endif
