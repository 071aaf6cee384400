// Wall and CPU time of this process over one measured step.
#ifndef TOLVEX_BENCH_STOPWATCH_H
#define TOLVEX_BENCH_STOPWATCH_H

#include <sys/resource.h>
#include <time.h>

namespace tvx::bench {

inline double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Peak resident set of this process so far, in KiB.
inline long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class Stopwatch {
 public:
  Stopwatch() : wall_(Seconds(CLOCK_MONOTONIC)), cpu_(Seconds(CLOCK_PROCESS_CPUTIME_ID)) {}
  double Wall() const { return Seconds(CLOCK_MONOTONIC) - wall_; }
  // User plus system time: what the step cost, whatever else the shared
  // cores were running meanwhile.
  double Cpu() const { return Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_; }

 private:
  double wall_;
  double cpu_;
};

}  // namespace tvx::bench

#endif
