// tolvex_bench: one measurement per call, printed as a results.tsv line.
// bench/run.sh calls it for every step and round, then for the report.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "file_tree.h"
#include "generate.h"
#include "module_ops.h"
#include "plugin_module.h"
#include "report.h"
#include "results.h"
#include "stopwatch.h"
#include "support/child_process.h"
#include "zlib_limit.h"

namespace tvx::bench {
namespace {

const char kUsage[] =
    "usage: tolvex_bench [options] COMMAND ARGS...\n"
    "options: --module PATH  --case NAME  --round N\n"
    "         --tool NAME (a module's label too) --op NAME --cwd DIR --output FILE   (exec only)\n"
    "commands:\n"
    "  gen-small DIR [FOLDERS FILES] 100 folders x 1000 files of 100 bytes\n"
    "  walk TREE                     the tree walk alone (to subtract from a system-call count)\n"
    "  gen-big FILE BYTES TEXTROOT   mixed text and noise, deterministic\n"
    "  limit TREE SCRATCH            raw zlib level 9 plus plain I/O\n"
    "  pack TREE ARCHIVE | list ARCHIVE | test ARCHIVE | extract ARCHIVE DEST\n"
    "  add TREE ARCHIVE | delete-half ARCHIVE | idle\n"
    "  copy FROM TO                  plain copy of one file\n"
    "  exec -- PROGRAM ARGS...       another program's time and peak memory\n"
    "  report RESULTS CHARTDATA      Markdown tables to stdout\n";

struct Args {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
  std::string Option(const std::string& name, const std::string& fallback = "") const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
};

Args Parse(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      for (++i; i < argc; ++i) args.positional.push_back(argv[i]);
      break;
    }
    if (a.size() > 2 && a.compare(0, 2, "--") == 0 && i + 1 < argc) {
      args.options[a.substr(2)] = argv[++i];
    } else {
      args.positional.push_back(a);
    }
  }
  return args;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

Result Base(const Args& args, const std::string& tool, const std::string& op) {
  Result r;
  r.caseName = args.Option("case", "corpus");
  r.tool = tool;
  r.op = op;
  r.round = std::atoi(args.Option("round", "1").c_str());
  return r;
}

int EmitTimed(const Args& args, const std::string& op, const Timed& t, uint64_t bytes) {
  if (!t.ok) {
    std::fprintf(stderr, "tolvex %s failed\n", op.c_str());
    return 1;
  }
  Result r = Base(args, args.Option("tool", "tolvex"), op);
  r.wall = t.wall;
  r.cpu = t.cpu;
  r.bytes = bytes;
  r.maxRssKib = PeakRssKib();
  EmitResult(r);
  std::fprintf(stderr, "tolvex %s: %.3f s wall, %.3f s cpu, %ld entries\n", op.c_str(), t.wall, t.cpu, t.entries);
  return 0;
}

int RunModuleCommand(const Args& args, const std::string& command, const std::vector<std::string>& p) {
  auto loaded = cli::PluginModule::Load(args.Option("module", cli::DefaultModulePath()));
  if (!loaded.module) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    return 1;
  }
  cli::PluginModule& module = *loaded.module;
  if (command == "idle") return EmitTimed(args, "idle", Timed{true, 0, 0, 0}, 0);
  // The archive's size is taken after the timed call (not as a sibling argument:
  // their order is unspecified).
  if (command == "pack" && p.size() == 2) {
    const Timed t = PackTree(module, p[0], p[1]);
    return EmitTimed(args, "pack", t, FileSizeOf(p[1]));
  }
  if (command == "add" && p.size() == 2) {
    const Timed t = AddTree(module, p[0], p[1]);
    return EmitTimed(args, "add", t, FileSizeOf(p[1]));
  }
  if (command == "list" && p.size() == 1) return EmitTimed(args, "list", ListArchive(module, p[0]), 0);
  if (command == "test" && p.size() == 1) return EmitTimed(args, "test", TestArchive(module, p[0]), 0);
  if (command == "extract" && p.size() == 2) {
    return EmitTimed(args, "extract", ExtractArchive(module, p[0], p[1]), 0);
  }
  if (command == "delete-half" && p.size() == 1) {
    const std::vector<std::string> files = FileEntryNames(module, p[0]);
    std::vector<std::string> half;
    for (size_t i = 0; i < files.size(); i += 2) half.push_back(files[i]);
    const Timed t = DeleteEntries(module, p[0], half);
    return EmitTimed(args, "delete", t, FileSizeOf(p[0]));
  }
  return Usage();
}

int RunExec(const Args& args, const std::vector<std::string>& argv) {
  test::ProgramIo io;
  io.cwd = args.Option("cwd");
  const double start = Seconds(CLOCK_MONOTONIC);
  const test::ChildOutcome child = test::RunChildProgram(argv, io);
  const double wall = Seconds(CLOCK_MONOTONIC) - start;
  if (!child.exited || child.exitCode != 0) {
    std::fprintf(stderr, "exec %s: exit %d\n", argv.empty() ? "" : argv[0].c_str(), child.exitCode);
    return 1;
  }
  Result r = Base(args, args.Option("tool", "tool"), args.Option("op", "op"));
  r.wall = wall;
  r.cpu = child.cpuSeconds;
  r.maxRssKib = child.maxRssKiB;
  const std::string output = args.Option("output");
  if (!output.empty()) r.bytes = FileSizeOf(output);
  EmitResult(r);
  return 0;
}

int RunCopy(const Args& args, const std::string& from, const std::string& to) {
  Stopwatch watch;
  const bool ok = CopyFile(from, to);
  Result r = Base(args, "copy", "copy");
  r.wall = watch.Wall();
  r.cpu = watch.Cpu();
  r.bytes = FileSizeOf(to);
  if (!ok) return 1;
  EmitResult(r);
  return 0;
}

int Main(int argc, char** argv) {
  const Args args = Parse(argc, argv);
  if (args.positional.empty()) return Usage();
  const std::string command = args.positional[0];
  const std::vector<std::string> p(args.positional.begin() + 1, args.positional.end());
  const int round = std::atoi(args.Option("round", "1").c_str());
  if (command == "gen-small" && (p.size() == 1 || p.size() == 3)) {
    const int folders = p.size() == 3 ? std::atoi(p[1].c_str()) : 100;
    const int files = p.size() == 3 ? std::atoi(p[2].c_str()) : 1000;
    return GenerateSmallTree(p[0], folders, files, 100) ? 0 : 1;
  }
  if (command == "walk" && p.size() == 1) return AddListOf(ListTree(p[0])).empty() ? 1 : 0;
  if (command == "gen-big" && p.size() == 3) {
    return GenerateMixedFile(p[0], std::strtoull(p[1].c_str(), nullptr, 10), p[2]) ? 0 : 1;
  }
  if (command == "limit" && p.size() == 2) {
    return MeasureZlibLimit(args.Option("case", "corpus"), round, p[0], p[1]) ? 0 : 1;
  }
  if (command == "copy" && p.size() == 2) return RunCopy(args, p[0], p[1]);
  if (command == "exec") return RunExec(args, p);
  if (command == "report" && p.size() == 2) return WriteReport(ReadResults(p[0]), p[1]) ? 0 : 1;
  return RunModuleCommand(args, command, p);
}

}  // namespace
}  // namespace tvx::bench

int main(int argc, char** argv) { return tvx::bench::Main(argc, argv); }
