#!/usr/bin/env bash
# The whole test suite: set-up, then configure + build every preset, then the
# tests of each: linux, linux-asan, win64 (under Wine) and win32 (static export
# and import checks only; 32-bit code cannot run here).
#
# Every stage runs even after an earlier one failed (a failed build skips only
# its own tests); the summary lists each stage's result and time, and the exit
# status is non-zero when any stage failed. To add a stage, write a stage_*
# function and call run_stage for it at the bottom.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT" || exit 1
JOBS=${TOLVEX_JOBS:-2}
PRESETS=(linux linux-asan win64 win32)

declare -a SUMMARY=()
declare -A BUILT=()
FAILED=0

# run_stage <name> <command...>: runs one stage, records result and duration.
run_stage() {
  local name=$1
  shift
  local start=$SECONDS
  echo
  echo "=== $name"
  if "$@"; then
    SUMMARY+=("ok      $(printf '%5ds' $((SECONDS - start)))  $name")
    return 0
  fi
  SUMMARY+=("FAILED  $(printf '%5ds' $((SECONDS - start)))  $name")
  FAILED=1
  return 1
}

stage_setup() {
  "$ROOT/scripts/setup.sh"
}

stage_build() {
  local preset=$1
  cmake --preset "$preset" && cmake --build --preset "$preset" -j"$JOBS"
}

stage_test() {
  local preset=$1
  ctest --preset "$preset" -j"$JOBS"
}

# The fuzz targets (fuzz/), each for a bounded time from its seeds; any crash,
# leak or broken invariant fails the stage. TOLVEX_FUZZ_SECONDS changes the time.
stage_fuzz() {
  "$ROOT/fuzz/run.sh" "${TOLVEX_FUZZ_SECONDS:-60}"
}

# The win64 tests leave a Wine server running for a while; stop ours.
stop_wine() {
  local prefix="$ROOT/build/win64/wineprefix"
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  fi
}

print_summary() {
  echo
  echo "=== summary"
  printf '%s\n' "${SUMMARY[@]}"
}

run_stage setup stage_setup || { print_summary; exit 1; }

for preset in "${PRESETS[@]}"; do
  if run_stage "build $preset" stage_build "$preset"; then
    BUILT[$preset]=1
  fi
done

for preset in "${PRESETS[@]}"; do
  if [ -n "${BUILT[$preset]:-}" ]; then
    run_stage "test $preset" stage_test "$preset"
  else
    SUMMARY+=("SKIPPED         test $preset (build failed)")
  fi
done
stop_wine

run_stage "fuzz ${TOLVEX_FUZZ_SECONDS:-60}s per target" stage_fuzz

print_summary
exit $FAILED
