#!/usr/bin/env bash
# System calls per small file, counted with `strace -c -f`: PackFiles and
# ProcessFile(PK_EXTRACT) through the exports (the bench host; its own walk of
# the tree is counted alone and taken off), `tolvex add` and `tolvex extract`
# as whole processes. Prints a Markdown table.
#
#   bench/syscalls.sh TREE SCRATCH [BENCH [MODULE [TOLVEX]]]
#
# TREE holds small files (`tolvex_bench gen-small TREE 20 1000`: 20,000).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TREE=$1
SCRATCH=$2
BENCH=${3:-$ROOT/build/bench/tolvex_bench}
MODULE=${4:-$(dirname "$BENCH")/Tolvex.wcx}
TOLVEX=${5:-$(dirname "$BENCH")/tolvex}
FILES=$(find "$TREE" -type f | wc -l)

# strace -c's table as "name calls" lines, the total left out.
count() {  # output-file -- argv...
  local out=$1
  shift 2
  strace -c -f -o "$out.raw" "$@" > /dev/null 2>&1
  awk '$1 ~ /^[0-9.]+$/ && $NF != "total" { print $NF, $4 }' "$out.raw" > "$out"
}

# One row: total calls per file and the calls of at least 0.5 per file,
# less the baseline's counts.
row() {  # label counts [baseline]
  awk -v label="$1" -v files="$FILES" '
    FNR == NR && ARGC == 3 { base[$1] = $2; next }
    { n[$1] += $2 - base[$1] }
    END {
      for (k in n) { total += n[k]; if (n[k] / files >= 0.5) top = top sprintf("%s%.1f `%s`", top == "" ? "" : ", ", n[k] / files, k) }
      printf "| %s | %.1f | %s |\n", label, total / files, top
    }' ${3:+"$3"} "$2"
}

rm -rf "$SCRATCH" && mkdir -p "$SCRATCH"
S=$SCRATCH
count "$S/walk" -- "$BENCH" --module "$MODULE" walk "$TREE"
count "$S/pack" -- "$BENCH" --module "$MODULE" pack "$TREE" "$S/a.tvx"
count "$S/list" -- "$BENCH" --module "$MODULE" list "$S/a.tvx"
count "$S/extract" -- "$BENCH" --module "$MODULE" extract "$S/a.tvx" "$S/out"
rm -rf "$S/out"
(cd "$TREE" && count "$S/add" -- "$TOLVEX" add "$S/b.tvx" .)
count "$S/cli-extract" -- "$TOLVEX" extract "$S/b.tvx" -C "$S/out"
rm -rf "$S/out"

echo "| operation ($FILES files of 100 bytes) | calls per file | of which (≥ 0.5 per file) |"
echo "|---|---:|---|"
row "PackFiles (exports; the host's walk taken off)" "$S/pack" "$S/walk"
row "ProcessFile PK_EXTRACT (exports; the listing taken off)" "$S/extract" "$S/list"
row "\`tolvex add\` (whole process)" "$S/add"
row "\`tolvex extract\` (whole process)" "$S/cli-extract"
