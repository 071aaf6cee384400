#!/usr/bin/env bash
# The whole test suite: set-up, then configure + build every preset, then the
# tests of each: linux, linux-asan, win64 (under wine64) and win32 (under Wine's
# 32-bit loader). A Windows preset whose programs cannot run on this machine
# (no Wine, or no way to execute 32-bit code) runs its static export and
# import checks only, and the summary lists its test stage as could not run,
# never as passed; so is each test that skipped itself (the Double Commander
# tests, where it cannot run).
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
LAST_COUNT=""
LAST_SKIPPED=()
declare -A BUILT=()
FAILED=0

# run_stage <name> <command...>: runs one stage, records result and duration.
run_stage() {
  local name=$1
  shift
  local start=$SECONDS
  echo
  echo "=== $name"
  LAST_COUNT=""
  LAST_SKIPPED=()
  local status=0
  if "$@"; then
    SUMMARY+=("ok      $(printf '%5ds' $((SECONDS - start)))  $name${LAST_COUNT:+ ($LAST_COUNT)}")
  else
    SUMMARY+=("FAILED  $(printf '%5ds' $((SECONDS - start)))  $name${LAST_COUNT:+ ($LAST_COUNT)}")
    FAILED=1
    status=1
  fi
  # A test that skipped itself (this machine cannot run it) is not passed.
  local test
  for test in "${LAST_SKIPPED[@]}"; do
    SUMMARY+=("COULD NOT RUN   $test in $name (its output says why)")
  done
  return "$status"
}

stage_setup() {
  "$ROOT/scripts/setup.sh"
}

stage_build() {
  local preset=$1
  cmake --preset "$preset" && cmake --build --preset "$preset" -j"$JOBS"
}

# The build's test program runs on this machine (the configure step decides:
# natively, or under a Wine loader that can execute here).
runs_here() {
  grep -q '^TOLVEX_RUNS_TARGET_PROGRAMS:INTERNAL=ON$' "$ROOT/build/$1/CMakeCache.txt" 2>/dev/null
}

# Runs ctest; LAST_COUNT becomes "T tests, F failed" from its closing line (T
# holds the skipped ones, which LAST_SKIPPED names).
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" | tee "$log"
  local status=${PIPESTATUS[0]}
  LAST_COUNT=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests* failed out of \([0-9]*\).*/\2 tests, \1 failed/p' "$log" | tail -1)
  mapfile -t LAST_SKIPPED < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
  [ "${#LAST_SKIPPED[@]}" -eq 0 ] || LAST_COUNT+=", ${#LAST_SKIPPED[@]} could not run"
  rm -f "$log"
  return "$status"
}

stage_test() {
  local preset=$1
  run_ctest --preset "$preset" -j"$JOBS"
}

# Where the programs cannot run, only the checks made on the build host.
stage_static_checks() {
  local preset=$1
  run_ctest --preset "$preset" -j"$JOBS" -R '^exports\.'
}

# The fuzz targets (fuzz/), each for a bounded time from its seeds; any crash,
# leak or broken invariant fails the stage. TOLVEX_FUZZ_SECONDS changes the time.
stage_fuzz() {
  "$ROOT/fuzz/run.sh" "${TOLVEX_FUZZ_SECONDS:-40}"
}

# The Windows tests leave a Wine server running for a while; stop ours.
stop_wine() {
  local preset prefix
  for preset in win64 win32; do
    prefix="$ROOT/build/$preset/wineprefix"
    if [ -d "$prefix" ]; then
      WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    fi
  done
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
  if [ -z "${BUILT[$preset]:-}" ]; then
    SUMMARY+=("SKIPPED         test $preset (build failed)")
  elif runs_here "$preset"; then
    run_stage "test $preset" stage_test "$preset"
  else
    run_stage "static checks $preset" stage_static_checks "$preset"
    SUMMARY+=("COULD NOT RUN   test $preset (its programs cannot run on this machine)")
  fi
done
stop_wine

run_stage "fuzz ${TOLVEX_FUZZ_SECONDS:-40}s per target" stage_fuzz

print_summary
exit $FAILED
