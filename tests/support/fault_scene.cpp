#include "support/fault_scene.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <system_error>

#include "TolvexU/archive_changes.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/extract.h"
#include "platform/platform.h"
#include "support/module_driver.h"
#include "support/plugin_test.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace fs = std::filesystem;

namespace tvx::test {
namespace {

bool IsFolder(const std::string& name) { return !name.empty() && name.back() == '/'; }

// The old entries a delete leaves: neither named nor below a folder named.
std::vector<SceneEntry> Kept(const FaultScene& scene) {
  std::vector<SceneEntry> kept;
  for (const SceneEntry& entry : scene.oldContent) {
    const auto& files = scene.deletedFiles;
    bool deleted = std::find(files.begin(), files.end(), entry.name) != files.end();
    for (const std::string& folder : scene.deletedFolders) deleted = deleted || entry.name.rfind(folder, 0) == 0;
    if (!deleted) kept.push_back(entry);
  }
  return kept;
}

// An entry's bytes unpacked; empty when they do not inflate.
std::string Content(const std::string& bytes, const RecordLayout& record) {
  const std::string packed = bytes.substr(record.dataBegin, record.dataEnd - record.dataBegin);
  if (!record.deflated()) return packed;
  std::string out(static_cast<size_t>(record.unpackedSize), '\0');
  uLongf size = static_cast<uLongf>(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(packed.data()),
                 static_cast<uLong>(packed.size())) != Z_OK ||
      size != out.size()) {
    return std::string();
  }
  return out;
}

std::vector<SceneEntry> Joined(std::vector<SceneEntry> first, const std::vector<SceneEntry>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

#ifndef _WIN32
uint64_t g_killBefore = 0;
void KillBeforeCall(uint64_t index) {
  if (index == g_killBefore) ::raise(SIGKILL);
}
#endif

}  // namespace

const char* ChangeName(SceneChange change) {
  static const char* const kNames[] = {"pack into the archive", "pack and move", "create an archive",
                                       "delete from the archive"};
  return kNames[static_cast<int>(change)];
}

std::vector<SceneEntry> FaultScene::After(SceneChange change) const {
  if (change == SceneChange::kCreate) return packed;
  return change == SceneChange::kDelete ? Kept(*this) : Joined(oldContent, packed);
}

std::vector<SceneEntry> FaultScene::AfterDeleteAndPack() const { return Joined(Kept(*this), packed); }

uint64_t FaultScene::PackedBytes() const {
  uint64_t bytes = 0;
  for (const SceneEntry& entry : packed) bytes += entry.content.size();
  return bytes;
}

static FaultScene MakeFaultScene(size_t bigBytes) {
  FaultScene scene;
  const size_t lines = std::min<size_t>(bigBytes / 80, 2500);  // 40 bytes a line
  const std::string kept = NoiseBytes(bigBytes, 5);
  const std::string keptText = TextBytes(lines / 6);
  const std::string oldText = TextBytes(100);
  scene.oldContent = {
      {"keep.bin", kept}, {"keep.txt", keptText}, {"docs/", ""}, {"docs/old.txt", oldText}, {"drop.txt", "dropped"}};
  scene.oldEntries = {Stored("keep.bin", kept), Deflated("keep.txt", keptText), Stored("docs/", ""),
                      Deflated("docs/old.txt", oldText), Stored("drop.txt", "dropped")};
  scene.packed = {{"new/", ""},
                  {"new/text.txt", TextBytes(lines)},
                  {"new/empty.txt", ""},
                  {"noise.bin", NoiseBytes(bigBytes - bigBytes / 12)}};
  scene.deletedFiles = {"drop.txt"};
  scene.deletedFolders = {"docs/"};
  return scene;
}

const FaultScene& SharedFaultScene(size_t bigBytes) {
  static std::map<size_t, FaultScene> made;  // map nodes never move: references stay valid
  auto found = made.find(bigBytes);
  if (found == made.end()) found = made.emplace(bigBytes, MakeFaultScene(bigBytes)).first;
  return found->second;
}

::testing::AssertionResult ArchiveHolds(const std::string& path, const std::vector<SceneEntry>& expected) {
  // As the module reads it: whole, these names, every entry testing good.
  std::unique_ptr<Archive> archive = Archive::NewArchive(platform::OsSystem(), path);
  if (!archive->valid() || archive->damaged()) {
    return ::testing::AssertionFailure() << path << " does not open whole";
  }
  const std::vector<ArchiveEntry>& entries = archive->entries();
  if (entries.size() != expected.size()) {
    return ::testing::AssertionFailure() << path << " holds " << entries.size() << " entries, not " << expected.size();
  }
  // As the bytes lie, decoded here: every entry's content.
  const std::string bytes = ReadFileBytes(path);
  const ArchiveLayout layout = ParseLayout(bytes);
  if (!layout.ok || layout.records.size() != expected.size()) {
    return ::testing::AssertionFailure() << path << ": its directory does not parse";
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    if (entries[i].name != expected[i].name) {
      return ::testing::AssertionFailure()
             << "entry " << i << " is " << entries[i].name << ", not " << expected[i].name;
    }
    const Status status = TestEntry(*archive, entries[i]);
    if (status != Status::kOk) {
      return ::testing::AssertionFailure()
             << expected[i].name << " does not read back: status " << static_cast<int>(status);
    }
    if (layout.records[i].dataEnd > bytes.size() || Content(bytes, layout.records[i]) != expected[i].content) {
      return ::testing::AssertionFailure() << expected[i].name << " holds other bytes";
    }
  }
  return ::testing::AssertionSuccess();
}

SceneFolders::SceneFolders(const FaultScene& scene) : scene_(scene), oldBytes_(ArchiveBytes(scene.oldEntries)) {
  fixedTime_ = fs::file_time_type::clock::now();
}

std::string SceneFolders::SourcePath(const std::string& entryName) const {
  std::string path = SrcPath() + ListForm(entryName);
  if (IsFolder(entryName)) path.pop_back();
  return path;
}

void SceneFolders::Reset(bool withArchive) {
  std::error_code ec;
  for (const std::string& folder : {archiveFolder(), sourceFolder(), tempFolder()}) {
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
  }
  if (withArchive) WriteFileBytes(archive(), oldBytes_);
  for (const SceneEntry& entry : scene_.packed) {
    const std::string path = SourcePath(entry.name);
    if (IsFolder(entry.name)) {
      fs::create_directories(path, ec);
    } else {
      WriteFileBytes(path, entry.content);
    }
  }
  // Times last: writing a file changes its folder's.
  for (const SceneEntry& entry : scene_.packed) fs::last_write_time(SourcePath(entry.name), fixedTime_, ec);
}

std::string SceneFolders::PackList() const {
  std::vector<std::string> names;
  for (const SceneEntry& entry : scene_.packed) names.push_back(ListForm(entry.name));
  return NameList(names);
}

std::string SceneFolders::DeleteList() const {
  std::vector<std::string> names;
  for (const std::string& name : scene_.deletedFiles) names.push_back(ListForm(name));
  for (const std::string& folder : scene_.deletedFolders) names.push_back(ListForm(folder + "*.*"));
  return NameList(names);
}

int SceneFolders::Apply(platform::System& system, SceneChange change) const {
  if (change == SceneChange::kDelete) {
    const std::string names = DeleteList();
    return host::DeleteFilesWith(system, archive(), names.c_str());
  }
  const std::string list = PackList();
  host::PackRequest request;
  request.packedFile = archive();
  request.srcPath = SrcPath();
  request.addList = list.c_str();
  request.flags = PK_PACK_SAVE_PATHS | (change == SceneChange::kPackAndMove ? PK_PACK_MOVE_FILES : 0);
  return host::PackFilesWith(system, request);
}

std::vector<std::string> SceneFolders::Leftovers() const {
  std::vector<std::string> found;
  for (const std::string& name : FolderListing(archiveFolder())) {
    if (name != "old.tvx") found.push_back(archiveFolder() + NativeSeparator() + name);
  }
  for (const std::string& name : FolderListing(tempFolder())) found.push_back(tempFolder() + NativeSeparator() + name);
  for (const std::string& name : FolderListing(sourceFolder())) {
    bool packed = false;
    for (const SceneEntry& entry : scene_.packed) packed = packed || entry.name.substr(0, entry.name.find('/')) == name;
    if (!packed) found.push_back(sourceFolder() + NativeSeparator() + name);
  }
  return found;
}

::testing::AssertionResult SceneFolders::SourcesIntact(bool missingAllowed) const {
  for (const SceneEntry& entry : scene_.packed) {
    if (IsFolder(entry.name)) continue;
    const std::string path = SourcePath(entry.name);
    if (!PathExists(path)) {
      if (missingAllowed) continue;
      return ::testing::AssertionFailure() << "source " << entry.name << " is gone";
    }
    if (ReadFileBytes(path) != entry.content) {
      return ::testing::AssertionFailure() << "source " << entry.name << " changed";
    }
  }
  return ::testing::AssertionSuccess();
}

CallCounts CountsOf(const FaultySystem& cleanRun) { return {cleanRun.MutatingCalls(), cleanRun.ReadCalls()}; }

uint64_t CallsSwept(const FaultCase& c, const CallCounts& cleanRun) {
  return c.failing == Failing::kReads ? cleanRun.reads : cleanRun.mutating;
}

FaultPlan PlanFor(const FaultCase& c, uint64_t n) {
  FaultPlan plan{c.failing == Failing::kWrites ? n : 0, c.failing == Failing::kReads ? n : 0, c.once};
#ifndef _WIN32
  if (c.failing == Failing::kKill) {
    g_killBefore = n;
    plan.beforeWrite = KillBeforeCall;
  }
#endif
  return plan;
}

std::string Describe(const FaultCase& c) {
  if (c.failing == Failing::kKill) return "a kill before the Nth mutating call";
  const char* call = c.failing == Failing::kWrites ? "write" : "read";
  return c.once ? std::string("the Nth ") + call + " alone" : std::string("every ") + call + " from the Nth on";
}

std::string Describe(const FaultCase& c, uint64_t n, uint64_t calls) {
  const std::string of = std::to_string(n) + " of " + std::to_string(calls);
  if (c.failing == Failing::kKill) return "killed before mutating call " + of;
  return std::string(c.failing == Failing::kWrites ? "write " : "read ") + of +
         (c.once ? " failed once" : " and every later one failed");
}

void ForEveryCall(const FaultCase& c, const CallCounts& cleanRun,
                  const std::function<void(const FaultPlan& plan, const std::string& what)>& step) {
  const uint64_t calls = CallsSwept(c, cleanRun);
  if (calls == 0) {
    ADD_FAILURE() << "the clean run made no call to fail: " << Describe(c);
    return;
  }
  for (uint64_t n = 1; n <= calls; ++n) {
    step(PlanFor(c, n), Describe(c, n, calls));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace tvx::test
