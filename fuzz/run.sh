#!/bin/sh
# Builds the fuzz preset and runs every fuzz target for SECONDS (default 60)
# from its committed seeds, one target at a time. Fails on the first crash,
# leak, sanitizer report or broken invariant; the input that did it is left as
# build/fuzz/findings/<target>/crash-* (or leak-*, timeout-*).
#   fuzz/run.sh [SECONDS]
#   FUZZ_JOBS=1 FUZZ_TARGETS="fuzz_read_archive" fuzz/run.sh 900
set -eu

seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
targets="${FUZZ_TARGETS:-fuzz_read_archive fuzz_update_archive fuzz_names_times}"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

status=0
for target in $targets; do
  case "$target" in
    fuzz_names_times) seeds="$root/fuzz/corpus/names"; max_len=4096 ;;
    *) seeds="$root/fuzz/corpus/archives"; max_len=16384 ;;
  esac
  # New inputs go to a working corpus outside the source tree.
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$work" "$findings"
  echo "== $target: ${seconds}s"
  if ! ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" \
       UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
       "$build/fuzz/$target" "$work" "$seeds" \
         -dict="$root/fuzz/tolvex.dict" -max_len="$max_len" -max_total_time="$seconds" \
         -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
         -artifact_prefix="$findings/" 2>"$build/$target.log"; then
    echo "!! $target found a fault: see $build/$target.log and $findings/"
    tail -40 "$build/$target.log"
    status=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|Done [0-9]+ runs" "$build/$target.log" || true
done
exit $status
