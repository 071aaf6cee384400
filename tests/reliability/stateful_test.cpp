// A stateful random tester (Linux: it forks). Seeded sequences of PackFiles
// (with and without paths, with SubPath, moving, into new and existing
// archives), DeleteFiles (files and folders) and reading (listing, testing,
// extracting) go through the built module, some racing a second process on
// the same archive. (Kills, full disks, changes from the progress callback and
// odd forms of names have sweeps and cases of their own: crash_consistency,
// full_disk, TolvexU/concurrent_updates and exports_pack_and_delete.) After
// each step the archive and the source folders must be what a small model
// says: every entry's bytes, no source gone unless it is packed, every change
// that answered 0 there, a refused or failed call changing nothing, no file
// left behind. Two racing calls that both answered 0 may have happened in
// either order. A divergence prints the seed and the shortest sequence found.
//
//   TOLVEX_STATEFUL_SECONDS=3600 build/linux/tolvex_tests --gtest_filter='Stateful*'
//   TOLVEX_STATEFUL_SEED=N ...   replays from seed N (the default seed is random)
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "reliability/reliability_helpers.h"
#include "support/child_process.h"
#include "support/fault_scene.h"
#include "support/module_driver.h"
#include "support/plugin_test.h"

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kHangSeconds = 30;  // a call that takes longer has hung
constexpr size_t kSteps = 24;

struct World {
  bool archived = false;  // the archive exists
  std::vector<SceneEntry> entries;
  Tree disk = {{"p0", "dir"}, {"p1", "dir"}};  // the sources, as Snapshot sees them
};

// One PackFiles (from source root p0 or p1) or DeleteFiles; names use '/'.
struct Call {
  bool pack = true;
  int root = 0;
  std::vector<std::string> items;
  std::optional<std::string> subPath;
  int flags = PK_PACK_SAVE_PATHS;
};

std::map<std::string, uint64_t> g_seen;  // how steps ended, for the figures

struct Step {
  bool read = false;  // list, test and extract instead of a call
  Call call, other;   // other: the racing call
  bool race = false;  // other runs at the same time
  std::vector<std::pair<std::string, std::string>> writes;  // sources laid out first
};

std::string Joined(const std::vector<std::string>& parts, const char* separator = "/") {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

std::string Describe(const Call& c) {
  return (c.pack ? "PackFiles p" + std::to_string(c.root) : "DeleteFiles") + " [" + Joined(c.items, ", ") + "]" +
         (c.subPath ? " SubPath=" + *c.subPath : "") +
         (c.pack && (c.flags & PK_PACK_SAVE_PATHS) == 0 ? " without paths" : "") +
         (c.flags & PK_PACK_MOVE_FILES ? " moving" : "");
}

std::string Describe(const Step& s) {
  if (s.read) return "list, test, extract";
  std::string out;
  for (const auto& write : s.writes) out += write.first + "(" + std::to_string(write.second.size()) + ") ";
  return out + (s.writes.empty() ? "" : "written; ") + Describe(s.call) +
         (s.race ? "  racing  " + Describe(s.other) : "");
}

// --- the model --------------------------------------------------------------------

// A listed path's components.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '/');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

// A file that shares its name with a folder (its own entry or a path below it):
// nothing could extract both.
bool Clashes(const std::vector<SceneEntry>& entries) {
  std::set<std::string> files;
  for (const SceneEntry& e : entries)
    if (e.name.back() != '/') files.insert(e.name);
  for (const SceneEntry& e : entries)
    for (size_t k = e.name.find('/'); k != std::string::npos; k = e.name.find('/', k + 1))
      if (files.count(e.name.substr(0, k)) != 0) return true;
  return false;
}

struct Prediction {
  bool ok = false;  // false: the call must be refused and change nothing
  World after;
};

Prediction ApplyPack(const Call& c, const World& w) {
  Prediction p{false, w};
  const std::string root = "p" + std::to_string(c.root) + "/";
  const std::vector<std::string> sub = Components(c.subPath.value_or(""));
  std::vector<SceneEntry> added;
  std::set<std::string> names;
  std::vector<std::string> moved;
  for (const std::string& item : c.items) {
    const std::string source = root + Joined(Components(item));
    const auto found = w.disk.find(source);
    if (found == w.disk.end()) return p;  // missing: E_EOPEN
    const bool folder = found->second == "dir";
    const bool paths = (c.flags & PK_PACK_SAVE_PATHS) != 0;
    if (!paths && folder) continue;  // a folder adds nothing without paths
    std::vector<std::string> parts = Components(paths ? item : item.substr(item.rfind('/') + 1));
    parts.insert(parts.begin(), sub.begin(), sub.end());
    SceneEntry entry{Joined(parts) + (folder ? "/" : ""), found->second.substr(folder ? 3 : 5)};
    if (!names.insert(entry.name).second) return p;  // two items give one entry
    added.push_back(entry);
    if (!folder) moved.push_back(source);
  }
  p.after.entries.clear();
  for (const SceneEntry& old : w.entries)
    if (names.count(old.name) == 0) p.after.entries.push_back(old);  // else replaced by the new entry
  p.after.entries.insert(p.after.entries.end(), added.begin(), added.end());
  if (Clashes(p.after.entries)) return {false, w};
  p.after.archived = true;
  for (const std::string& source : moved)
    if (c.flags & PK_PACK_MOVE_FILES) p.after.disk.erase(source);
  p.ok = true;
  return p;
}

Prediction ApplyDelete(const Call& c, const World& w) {
  Prediction p{w.archived, w};
  std::vector<SceneEntry>& entries = p.after.entries;
  for (const std::string& item : c.items) {
    const bool folder = item.size() > 3 && item.compare(item.size() - 4, 4, "/*.*") == 0;
    const std::string prefix = item.substr(0, item.size() - 3);
    for (size_t i = entries.size(); i-- > 0;)
      if (folder ? entries[i].name.compare(0, prefix.size(), prefix) == 0 : entries[i].name == item)
        entries.erase(entries.begin() + static_cast<long>(i));
  }
  return p;
}

Prediction Apply(const Call& c, const World& w) { return c.pack ? ApplyPack(c, w) : ApplyDelete(c, w); }

// --- the sequences ------------------------------------------------------------------

const std::vector<std::string> kFolders[2] = {{"a/", "a/c/", "b/"}, {"b/", "d/"}};
const std::vector<std::string> kFiles[2] = {{"x", "a/x", "a/c/z", "b/y"}, {"a", "x", "b/y", "d/a"}};
const std::vector<std::string> kSubPaths = {"a", "s/t", "x", "b/"};
const std::vector<std::string> kDeleteNames = {"x",     "a",     "a/",    "a/x", "a/c/z", "b/y",
                                               "d/a",   "s/t/x", "a/*.*", "b/*.*", "s/*.*", "none"};

template <typename T>
const T& Pick(const std::vector<T>& from, std::mt19937& rng) {
  return from[rng() % from.size()];
}

std::string Content(std::mt19937& rng) {
  const unsigned kind = rng() % 20;
  const size_t size = kind < 2 ? 0 : kind < 15 ? rng() % 2000 : kind < 19 ? 2000 + rng() % 30000 : 100000 + rng() % 300000;
  return rng() % 2 ? NoiseBytes(size, rng()) : TextLikeBytes(size);
}

Call MakeCall(std::mt19937& rng, int root, Step& step) {
  Call c;
  c.root = root;
  c.pack = rng() % 3 != 0;
  if (!c.pack) {
    for (unsigned n = 1 + rng() % 3; n > 0; --n) c.items.push_back(Pick(kDeleteNames, rng));
    return c;
  }
  const std::string prefix = "p" + std::to_string(root) + "/";
  std::vector<std::string> pool = kFiles[root];
  pool.insert(pool.end(), kFolders[root].begin(), kFolders[root].end());
  std::shuffle(pool.begin(), pool.end(), rng);
  for (size_t n = 1 + rng() % 4; n > 0; --n) {
    const std::string& item = pool[n];
    step.writes.emplace_back(prefix + item, item.back() == '/' ? "" : Content(rng));
    c.items.push_back(item);
  }
  if (rng() % 4 == 0) c.subPath = Pick(kSubPaths, rng);
  c.flags = (rng() % 4 != 0 ? PK_PACK_SAVE_PATHS : 0) | (rng() % 3 == 0 ? PK_PACK_MOVE_FILES : 0);
  return c;
}

std::vector<Step> MakeSequence(uint64_t seed) {
  std::mt19937 rng(static_cast<uint32_t>(seed ^ (seed >> 32)));
  std::vector<Step> steps(kSteps);
  for (Step& s : steps) {
    if (rng() % 5 == 0) {
      s.read = true;
      continue;
    }
    const int root = static_cast<int>(rng() % 2);
    s.call = MakeCall(rng, root, s);
    s.race = rng() % 3 == 0;
    if (s.race) s.other = MakeCall(rng, 1 - root, s);
  }
  return steps;
}

// --- playing a sequence ---------------------------------------------------------------

class Play {
 public:
  Play() : redirect_(Tmp()) {
    for (const std::string& folder : {Arc(), Tmp(), Src() + "/p0", Src() + "/p1"}) fs::create_directories(folder);
  }

  // Empty, or how the step diverged from the model.
  std::string Take(const Step& s) {
    for (const auto& write : s.writes) LayOut(write.first, write.second);
    if (s.read) return Read();
    std::vector<const Call*> calls = {&s.call};
    if (s.race) calls.push_back(&s.other);
    const std::vector<ChildOutcome> outcomes = Released(calls);
    if (outcomes.empty()) return "no pipe";
    std::vector<int> results;
    for (const ChildOutcome& o : outcomes) {
      if (!o.exited) return o.signal == SIGALRM ? "the call hung" : "the call died of signal " + std::to_string(o.signal);
      results.push_back(o.exitCode);
    }
    const bool allZero = std::count(results.begin(), results.end(), 0) == static_cast<long>(results.size());
    ++g_seen[std::string(s.race ? "racing" : "alone") + (allZero ? ", all answered 0" : ", refused or failed")];
    return Settle(calls, results, !s.race);
  }

 private:
  std::string Arc() const { return dir_.File("arc"); }
  std::string Src() const { return dir_.File("src"); }
  std::string Tmp() const { return dir_.File("tmp"); }
  std::string Out() const { return dir_.File("out"); }
  std::string Archive() const { return Arc() + "/t.tvx"; }
  cli::PluginModule& Module() const { return *LoadedModule(); }

  void LayOut(const std::string& rel, const std::string& content) {
    std::error_code ec;
    const bool folder = rel.back() == '/';
    fs::create_directories(fs::path(Src() + "/" + rel).parent_path(), ec);
    if (!folder) WriteFileBytes(Src() + "/" + rel, content);
    for (size_t k = rel.find('/'); k != std::string::npos; k = rel.find('/', k + 1))
      world_.disk[rel.substr(0, k)] = "dir";
    if (!folder) world_.disk[rel] = "file:" + content;
  }

  // In a child: the call through the module, under the hang watchdog.
  int Invoke(const Call& c) {
    ::alarm(kHangSeconds);
    if (!c.pack) return DeleteWith(Module(), Archive(), c.items);
    const std::string src = Src() + "/p" + std::to_string(c.root) + "/";
    return PackWith(Module(), Archive(), c.subPath ? c.subPath->c_str() : nullptr, src, c.items, c.flags);
  }

  // Each call in a child, all released at once from a closed pipe (racing when two).
  std::vector<ChildOutcome> Released(const std::vector<const Call*>& calls) {
    int gate[2];
    if (::pipe(gate) != 0) return {};
    std::vector<int> pids;
    for (const Call* c : calls) {
      pids.push_back(StartInChild([&] {
        ::close(gate[1]);
        for (char byte; ::read(gate[0], &byte, 1) < 0;) continue;
        return Invoke(*c);
      }));
    }
    for (const int end : gate) ::close(end);
    std::vector<ChildOutcome> outcomes;
    for (const int pid : pids) outcomes.push_back(WaitForChild(pid));
    return outcomes;
  }

  // Accepts the world the calls left when some order of those that answered 0
  // gives it, each allowed by the model where it ran, and the others changed
  // nothing. Unless strict, a call the model allows may still fail (a rival).
  std::string Settle(const std::vector<const Call*>& calls, const std::vector<int>& results, bool strict) {
    std::string first;
    std::vector<size_t> order(calls.size());
    std::iota(order.begin(), order.end(), size_t{0});
    do {
      World w = world_;
      std::string why;
      for (size_t i : order) {
        const Prediction p = Apply(*calls[i], w);
        if (results[i] == 0 && !p.ok) why = "answered 0 to a call that must be refused: " + Describe(*calls[i]);
        if (results[i] != 0 && p.ok && strict)
          why = "answered " + std::to_string(results[i]) + " to a call that must succeed: " + Describe(*calls[i]);
        if (results[i] == 0) w = p.after;
      }
      if (why.empty()) why = Differences(w);
      if (why.empty()) {
        world_ = w;
        return "";
      }
      if (first.empty()) first = why;
    } while (std::next_permutation(order.begin(), order.end()));
    std::string answers;
    for (int r : results) answers += " " + std::to_string(r);
    return first + " (answers:" + answers + ")";
  }

  // Empty when the archive, the sources and the folders are as w says.
  std::string Differences(const World& w) const {
    if (!w.archived && PathExists(Archive())) return "an archive exists where none should";
    if (w.archived) {
      const ::testing::AssertionResult holds = ArchiveHolds(Archive(), w.entries);
      if (!holds) {
        std::string expected;
        for (const SceneEntry& e : w.entries) expected += " " + e.name + "(" + std::to_string(e.content.size()) + ")";
        return std::string("the archive: ") + holds.message() + "; expected:" + expected;
      }
    }
    if (const std::string source = Changes(w.disk, Snapshot(Src())); !source.empty()) return "sources: " + source;
    std::vector<std::string> left = FolderListing(Tmp());
    for (const std::string& name : FolderListing(Arc()))
      if (name != "t.tvx") left.push_back(name);
    for (const std::string& name : FolderListing(dir_.path()))
      if (name != "arc" && name != "src" && name != "tmp") left.push_back(name);
    return left.empty() ? "" : "left behind: " + Joined(left, ", ");
  }

  // Lists, tests and extracts every entry as the host does. (A divergence
  // leaves its mess: the Play is dropped with its folder.)
  std::string Read() {
    const Listing listing = ListAndTest(Module(), Archive());
    if (!world_.archived) return listing.opened ? "an archive opened where none should be" : "";
    if (!listing.opened) return "the archive does not open: " + std::to_string(listing.openResult);
    const auto line = [](const std::string& name, long size, int test) {
      return " " + name + " (" + std::to_string(size) + " bytes, test " + std::to_string(test) + ")";
    };
    std::string listed, expected;
    for (const ListedEntry& e : listing.entries) listed += line(e.name, e.unpSize, e.testResult);
    for (const SceneEntry& e : world_.entries) expected += line(e.name, static_cast<long>(e.content.size()), 0);
    if (listed != expected) return "listed as" + listed + ", expected" + expected;
    fs::create_directories(Out());
    const std::vector<int> results = ExtractEach(Module(), Archive(), Out());
    if (results != std::vector<int>(world_.entries.size(), 0)) return "extraction answered otherwise or ended early";
    Tree entries;  // as e0, e1...
    for (const SceneEntry& e : world_.entries)
      entries["e" + std::to_string(entries.size())] = e.name.back() == '/' ? "dir" : "file:" + e.content;
    if (const std::string extracted = Changes(entries, Snapshot(Out())); !extracted.empty())
      return "extracted: " + extracted;
    fs::remove_all(Out());
    return "";
  }

  TempDir dir_;
  TempFolderRedirect redirect_;
  World world_;
};

struct Verdict {
  size_t step = 0;  // of the divergence, when what is not empty
  std::string what;
};

Verdict PlayAll(const std::vector<Step>& steps) {
  Play play;
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string what = play.Take(steps[i]);
    if (!what.empty()) return {i, what};
  }
  return {};
}

// Drops steps one at a time while the sequence still diverges (races are
// retried: they need not diverge every time).
std::vector<Step> Shrink(std::vector<Step> steps, Verdict& verdict) {
  steps.resize(verdict.step + 1);
  for (size_t i = 0; i < steps.size() && steps.size() > 1;) {
    std::vector<Step> fewer = steps;
    fewer.erase(fewer.begin() + static_cast<long>(i));
    const bool nondeterministic = std::any_of(fewer.begin(), fewer.end(), [](const Step& s) { return s.race; });
    Verdict v;
    for (int tries = nondeterministic ? 5 : 1; tries > 0 && v.what.empty(); --tries) v = PlayAll(fewer);
    if (v.what.empty()) {
      ++i;
      continue;
    }
    steps = fewer;
    steps.resize(v.step + 1);
    verdict = v;
  }
  return steps;
}

uint64_t Setting(const char* name, uint64_t otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : otherwise;
}

TEST(StatefulRandom, EveryStepLeavesArchiveAndSourcesAsTheModelSays) {
  ASSERT_NE(LoadedModule(), nullptr);
  const uint64_t seconds = Setting("TOLVEX_STATEFUL_SECONDS", 20);
  const uint64_t seed = Setting("TOLVEX_STATEFUL_SEED", std::random_device()());
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(seconds);
  uint64_t sequences = 0;
  auto report = [&] {  // also every ten minutes: a long run that is stopped still tells how far it got
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    std::cout << "[ figures  ] seeds " << seed << "..." << seed + sequences - 1 << ": " << sequences * kSteps
              << " steps in " << took.count() << " s, no divergence";
    for (const auto& seen : g_seen) std::cout << "; " << seen.first << ": " << seen.second;
    std::cout << std::endl;
  };
  auto nextReport = start + std::chrono::minutes(10);
  do {
    const uint64_t sequenceSeed = seed + sequences++;
    const std::vector<Step> steps = MakeSequence(sequenceSeed);
    Verdict verdict = PlayAll(steps);
    if (!verdict.what.empty()) {
      const std::vector<Step> shortest = Shrink(steps, verdict);
      std::ostringstream out;
      out << "seed " << sequenceSeed << " (TOLVEX_STATEFUL_SEED=" << sequenceSeed << " replays it first), "
          << shortest.size() << " of " << steps.size() << " steps:\n";
      for (size_t i = 0; i < shortest.size(); ++i) out << "  " << i + 1 << ". " << Describe(shortest[i]) << "\n";
      ADD_FAILURE() << out.str() << "step " << verdict.step + 1 << " diverged: " << verdict.what;
      return;
    }
    if (std::chrono::steady_clock::now() < nextReport) continue;
    report();
    nextReport += std::chrono::minutes(10);
  } while (std::chrono::steady_clock::now() < deadline);
  report();
}

}  // namespace
}  // namespace tvx::test::reliability

#endif
