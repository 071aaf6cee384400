// Runs another program and takes what it cost: wall time, CPU time of it and
// the children it waited for, and its peak resident set.
#ifndef TOLVEX_BENCH_CHILD_PROCESS_H
#define TOLVEX_BENCH_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace tvx::bench {

struct ChildCost {
  bool ok = false;  // started and exited with status 0
  int exitCode = -1;
  double wall = 0;
  double cpu = 0;
  long maxRssKib = 0;
};

// argv[0] is looked up in PATH; cwd empty keeps ours. The child's standard
// output goes to /dev/null (ours carries the results).
ChildCost RunChild(const std::vector<std::string>& argv, const std::string& cwd);

}  // namespace tvx::bench

#endif
