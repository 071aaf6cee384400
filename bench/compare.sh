#!/usr/bin/env bash
# Two builds of the module timed side by side in one run, on the same files,
# round by round in turn, so that the machine's load falls on both: what a
# change of the code did to the speed, apart from what the machine did.
#
#   bench/compare.sh BEFORE_REVISION [ROUNDS]
#
# Builds the module of BEFORE_REVISION (a git revision of this repository) in
# a scratch worktree, and this tree's module and bench host; prints a Markdown
# table of median CPU and wall times and their ratios (after / before).
# Knobs: TOLVEX_BENCH_WORK (default /dev/shm/tolvex-compare), TOLVEX_COMPARE_FILES
# (small files, default 100000 in 100 folders).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BEFORE=${1:?usage: bench/compare.sh BEFORE_REVISION [ROUNDS]}
ROUNDS=${2:-5}
WORK=${TOLVEX_BENCH_WORK:-/dev/shm/tolvex-compare}
FILES=${TOLVEX_COMPARE_FILES:-100000}
BENCH=$ROOT/build/bench/tolvex_bench
say() { printf '[compare %s] %s\n' "$(date +%T)" "$*" >&2; }

say "building this tree's bench preset and the module of $BEFORE"
(cd "$ROOT" && cmake --preset bench > /dev/null && cmake --build --preset bench > /dev/null)
OLD_TREE=$WORK/before-src
rm -rf "$WORK" && mkdir -p "$WORK"
git -C "$ROOT" worktree add --detach -f "$OLD_TREE" "$BEFORE" > /dev/null 2>&1
trap 'git -C "$ROOT" worktree remove --force "$OLD_TREE" > /dev/null 2>&1 || true' EXIT
(cd "$OLD_TREE" && cmake --preset bench > /dev/null && cmake --build --preset bench --target Tolvex > /dev/null)
declare -A MODULE=([before]=$OLD_TREE/build/bench/Tolvex.wcx [after]=$ROOT/build/bench/Tolvex.wcx)

say "making $FILES small files and a text corpus"
"$BENCH" gen-small "$WORK/small" $((FILES / 1000)) 1000
mkdir -p "$WORK/corpus"
cp -r /usr/include/c++ "$WORK/corpus/" 2> /dev/null || cp -r /usr/include "$WORK/corpus/"

RESULTS=$WORK/results.tsv
: > "$RESULTS"
run() {  # label case round -- bench arguments
  local label=$1 c=$2 r=$3
  shift 4
  sync
  "$BENCH" --module "${MODULE[$label]}" --tool "$label" --case "$c" --round "$r" "$@" >> "$RESULTS" 2> /dev/null
}
one_round() {  # label round
  local l=$1 r=$2
  for c in small corpus; do
    local a=$WORK/$c-$l.tvx d=$WORK/$c-$l-out
    rm -f "$a"
    run "$l" "$c" "$r" -- pack "$WORK/$c" "$a"
    run "$l" "$c" "$r" -- list "$a"
    run "$l" "$c" "$r" -- test "$a"
    rm -rf "$d"
    run "$l" "$c" "$r" -- extract "$a" "$d"
    if ! diff -r "$WORK/$c" "$d" > /dev/null; then
      say "ERROR: $l extracted $c differently from its source"
      exit 1
    fi
    rm -rf "$d"
    cp "$a" "$a.copy"
    run "$l" "$c" "$r" -- delete-half "$a.copy"
    rm -f "$a.copy"
  done
}
for ((r = 1; r <= ROUNDS; r++)); do
  say "round $r of $ROUNDS"
  # Which build goes first alternates, so neither always gets the warm cache.
  if ((r % 2)); then one_round before "$r"; one_round after "$r"; else one_round after "$r"; one_round before "$r"; fi
done
if ! cmp -s "$WORK/corpus-before.tvx" "$WORK/corpus-after.tvx"; then say "note: the two builds wrote different corpus archives"; fi

echo "| case, operation | CPU before (s) | CPU after (s) | CPU after / before | wall after / before |"
echo "|---|---:|---:|---:|---:|"
# Medians per case, build and operation.
awk -F'\t' '
  { key = $1 " " $3; cpu[key, $2, ++n[key, $2]] = $6; wall[key, $2, n[key, $2]] = $5; keys[key] = 1 }
  function median(arr, k, l, m,   i, j, t, v) {
    for (i = 1; i <= m; i++) v[i] = arr[k, l, i]
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    for (k in keys) {
      cb = median(cpu, k, "before", n[k, "before"]); ca = median(cpu, k, "after", n[k, "after"])
      wb = median(wall, k, "before", n[k, "before"]); wa = median(wall, k, "after", n[k, "after"])
      printf "| %s | %.4f | %.4f | %.3f | %.3f |\n", k, cb, ca, (cb > 0 ? ca / cb : 0), (wb > 0 ? wa / wb : 0)
    }
  }' "$RESULTS" | sort
echo
echo "Medians of $ROUNDS rounds; small: $FILES files of 100 bytes; corpus: $(find "$WORK/corpus" -type f | wc -l) header files."
