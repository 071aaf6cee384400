// One measurement as a line of results.tsv, the file every step of a run
// appends to and the report reads back.
#ifndef TOLVEX_BENCH_RESULTS_H
#define TOLVEX_BENCH_RESULTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tvx::bench {

struct Result {
  std::string caseName;  // corpus, small, big
  std::string tool;      // tolvex, limit, zip, 7z, bsdtar, tar-gzip, copy
  std::string op;        // pack, list, test, extract, add, delete, ...
  int round = 0;
  double wall = 0;       // seconds
  double cpu = 0;        // user + system seconds
  uint64_t bytes = 0;    // what the op produced (archive size), 0 when nothing
  long maxRssKib = 0;    // peak resident set of the process, 0 when not taken
};

// Tab-separated, one line, no newline.
std::string FormatResult(const Result& r);
std::optional<Result> ParseResult(const std::string& line);
// Prints the line to stdout and flushes, so a crash later keeps it.
void EmitResult(const Result& r);
std::vector<Result> ReadResults(const std::string& path);

}  // namespace tvx::bench

#endif
