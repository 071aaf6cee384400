// The Markdown tables of docs/PERFORMANCE.md, from the results of a run:
// medians per case, tool and operation, their ratios to the limit and to the
// other archivers, and each target marked met or missed.
#ifndef TOLVEX_BENCH_REPORT_H
#define TOLVEX_BENCH_REPORT_H

#include <string>
#include <vector>

#include "results.h"

namespace tvx::bench {

// Writes the tables to stdout and the chart's data (tool, pack and extract
// time relative to the limit) to chartData. False when the results lack the
// measurements every table needs.
bool WriteReport(const std::vector<Result>& results, const std::string& chartData);

}  // namespace tvx::bench

#endif
