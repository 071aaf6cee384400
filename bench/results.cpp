#include "results.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tvx::bench {

std::string FormatResult(const Result& r) {
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "%d\t%.6f\t%.6f\t%llu\t%ld", r.round, r.wall, r.cpu,
                static_cast<unsigned long long>(r.bytes), r.maxRssKib);
  return r.caseName + "\t" + r.tool + "\t" + r.op + "\t" + numbers;
}

std::optional<Result> ParseResult(const std::string& line) {
  std::istringstream in(line);
  Result r;
  if (!std::getline(in, r.caseName, '\t') || !std::getline(in, r.tool, '\t') || !std::getline(in, r.op, '\t')) {
    return std::nullopt;
  }
  unsigned long long bytes = 0;
  if (!(in >> r.round >> r.wall >> r.cpu >> bytes >> r.maxRssKib)) return std::nullopt;
  r.bytes = bytes;
  return r;
}

void EmitResult(const Result& r) {
  std::printf("%s\n", FormatResult(r).c_str());
  std::fflush(stdout);
}

std::vector<Result> ReadResults(const std::string& path) {
  std::vector<Result> results;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (auto r = ParseResult(line)) results.push_back(*r);
  }
  return results;
}

}  // namespace tvx::bench
