#!/usr/bin/env bash
# The whole benchmark in one command: installs what is missing, builds the
# bench preset, measures Tolvex, the raw-zlib limit and the other archivers on
# the same files, and writes docs/PERFORMANCE.md with its chart.
#
#   bench/run.sh
#
# Knobs (environment): TOLVEX_BENCH_WORK scratch folder (default
# /dev/shm/tolvex-bench: in RAM, up to about 6 GiB), TOLVEX_BENCH_ROUNDS (3),
# TOLVEX_BENCH_LIB_MB (64), TOLVEX_BENCH_BIG_BYTES (1073741824),
# TOLVEX_BENCH_7Z_PACK_ROUNDS (1: 7z packs in that many rounds, slow),
# TOLVEX_BENCH_FIRST_ROUND (1; N > 1 resumes an interrupted run at round N),
# TOLVEX_BENCH_OUT (docs/PERFORMANCE.md), TOLVEX_BENCH_QUICK=1 for a fast
# trial on a small corpus that checks the script, not the numbers.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# In RAM: on this machine's shared virtual disk, creating or removing 100,000
# files took minutes and varied with the colleagues' load.
WORK=${TOLVEX_BENCH_WORK:-/dev/shm/tolvex-bench}
ROUNDS=${TOLVEX_BENCH_ROUNDS:-3}
LIB_MB=${TOLVEX_BENCH_LIB_MB:-64}
BIG_BYTES=${TOLVEX_BENCH_BIG_BYTES:-1073741824}
SEVENZ_PACK_ROUNDS=${TOLVEX_BENCH_7Z_PACK_ROUNDS:-1}
# Above 1: go on with an interrupted run, keeping its inputs and results.
FIRST_ROUND=${TOLVEX_BENCH_FIRST_ROUND:-1}
OUT=${TOLVEX_BENCH_OUT:-$ROOT/docs/PERFORMANCE.md}
QUICK=${TOLVEX_BENCH_QUICK:-0}
if [[ $QUICK == 1 ]]; then
  ROUNDS=1
  LIB_MB=4
  BIG_BYTES=$((16 << 20))
fi
BENCH=$ROOT/build/bench/tolvex_bench
TOLVEX=$ROOT/build/bench/tolvex
RESULTS=$WORK/results.tsv
STARTED=$(date +%s)

say() { printf '[bench %s] %s\n' "$(date +%T)" "$*" >&2; }
trap 'say "FAILED at line $LINENO: $BASH_COMMAND"' ERR

# --- tools ------------------------------------------------------------------------
install_missing() {
  local -A package=([zip]=zip [unzip]=unzip [7z]=p7zip-full [bsdtar]=libarchive-tools [gzip]=gzip
                    [gnuplot]=gnuplot-nox [cmake]=cmake [ninja]=ninja-build [g++]=g++ [strace]=strace)
  local missing=()
  for tool in "${!package[@]}"; do
    command -v "$tool" > /dev/null || missing+=("${package[$tool]}")
  done
  [[ -e /usr/include/zlib.h ]] || missing+=(zlib1g-dev)
  if ((${#missing[@]})); then
    say "installing ${missing[*]}"
    # setup.sh knows this machine's apt (a security index mid-sync, say).
    TOLVEX_SETUP_EXTRA="${missing[*]}" "$ROOT/scripts/setup.sh" > /dev/null
  fi
}

build() {
  say "building the bench preset"
  (cd "$ROOT" && cmake --preset bench > /dev/null && cmake --build --preset bench > /dev/null &&
    cmake --build --preset bench --target tolvex > /dev/null)
}

# --- inputs -----------------------------------------------------------------------
# Regular files only (no links), so every tool reads exactly the same tree.
copy_listed() {  # list-file
  tar -C / -cf - --no-recursion -T "$1" | tar -C "$WORK/corpus" -xf -
}

INCLUDE_DIR=/usr/include
DOC_DIR=/usr/share/doc
if [[ $QUICK == 1 ]]; then INCLUDE_DIR=/usr/include/linux; DOC_DIR=/usr/share/doc/bash; fi
CORPUS_RULE="regular files of \`$INCLUDE_DIR\` and \`$DOC_DIR\` (all), and the shared libraries (\`lib*.so*\`, ≥ 1 MB) directly in \`/usr/lib/x86_64-linux-gnu\`, taken by name, each one that still fits in $LIB_MB MB in all"

make_corpus() {
  rm -rf "$WORK/corpus" && mkdir -p "$WORK/corpus"
  local include=$INCLUDE_DIR doc=$DOC_DIR
  find "$include" "$doc" -type f | LC_ALL=C sort | sed 's|^/||' > "$WORK/text.list"
  # Large binaries: shared libraries of 1 MB or more directly in the multiarch
  # folder, taken by name, each one that still fits in LIB_MB.
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name 'lib*.so*' -size +1M -printf '%p %s\n' |
    LC_ALL=C sort | awk -v max=$((LIB_MB * 1000000)) '{ if (s + $2 <= max) { s += $2; print substr($1, 2) } }' \
    > "$WORK/lib.list"
  copy_listed "$WORK/text.list"
  copy_listed "$WORK/lib.list"
}

describe() {  # folder -> "files, bytes"
  find "$1" -type f -printf '%s\n' | awk '{ n++; s += $1 } END { printf "%d files, %d bytes (%.1f MB)", n, s, s / 1e6 }'
}

make_inputs() {
  say "copying the corpus"
  make_corpus
  say "generating 100,000 small files and the ${BIG_BYTES}-byte file"
  rm -rf "$WORK/small" "$WORK/big" "$WORK/add10"
  "$BENCH" gen-small "$WORK/small"
  mkdir -p "$WORK/big"
  "$BENCH" gen-big "$WORK/big/mixed.bin" "$BIG_BYTES" "$WORK/corpus/usr/include" 2> "$WORK/big.info"
  # The ten files added to the corpus archive: the first ten of 16 KiB or more.
  mkdir -p "$WORK/add10"
  # (awk reads to the end: with pipefail, head's early exit would fail the pipe.)
  find "$WORK/corpus/usr/include" -type f -size +16k | LC_ALL=C sort | awk 'NR <= 10' | xargs -I{} cp {} "$WORK/add10/"
  # Every input read once before any tool: with relatime the first read of a
  # file just written also updates its access time, which cost the first tool
  # to read the 100,000 small files some 0.05 s more than the next.
  find "$WORK/corpus" "$WORK/small" "$WORK/big" "$WORK/add10" -type f -print0 | xargs -0 cat > /dev/null
}

# --- measuring ---------------------------------------------------------------------
# Dirty pages of the step before are written out first, not inside this one.
record() {
  sync
  "$BENCH" "$@" >> "$RESULTS"
}

# A peer's command, timed with its children; its output file gives the size.
peer() {  # case tool op round output cwd -- argv...
  local c=$1 tool=$2 op=$3 round=$4 output=$5 cwd=$6
  shift 7
  record --case "$c" --tool "$tool" --op "$op" --round "$round" --output "$output" --cwd "$cwd" exec -- "$@"
}

peers_round() {  # round
  local r=$1 src=$WORK/corpus a=$WORK/peer d=$WORK/peer-out
  mkdir -p "$a"
  rm -f "$a/z.zip" "$a/b.zip" "$a/t.tar.gz"
  peer corpus zip pack "$r" "$a/z.zip" "$src" -- zip -9 -r -q "$a/z.zip" .
  # 7z's level 9 takes over ten times zip's time: its archive is made in the
  # first rounds only and tested and extracted in every round.
  if ((r <= SEVENZ_PACK_ROUNDS)); then
    rm -f "$a/7.zip"
    peer corpus 7z pack "$r" "$a/7.zip" "$src" -- 7z a -tzip -mx=9 -bd -bso0 "$a/7.zip" .
  fi
  peer corpus bsdtar pack "$r" "$a/b.zip" "$src" -- bsdtar --format zip --options zip:compression-level=9 -cf "$a/b.zip" .
  peer corpus tar-gzip pack "$r" "$a/t.tar.gz" "$src" -- sh -c "tar -cf - . | gzip -9 > '$a/t.tar.gz'"
  peer corpus zip test "$r" "" "" -- unzip -tq "$a/z.zip"
  peer corpus 7z test "$r" "" "" -- 7z t -bd -bso0 "$a/7.zip"
  peer corpus tar-gzip test "$r" "" "" -- gzip -t "$a/t.tar.gz"
  rm -rf "$d" && mkdir -p "$d"
  peer corpus zip extract "$r" "" "" -- unzip -q "$a/z.zip" -d "$d"
  rm -rf "$d" && mkdir -p "$d"
  peer corpus 7z extract "$r" "" "" -- 7z x -bd -bso0 "-o$d" "$a/7.zip"
  rm -rf "$d" && mkdir -p "$d"
  peer corpus bsdtar extract "$r" "" "$d" -- bsdtar -xf "$a/b.zip"
  rm -rf "$d" && mkdir -p "$d"
  peer corpus tar-gzip extract "$r" "" "$d" -- sh -c "gzip -dc '$a/t.tar.gz' | tar -xf -"
  rm -rf "$d"
}

tolvex_round() {  # case round tree
  local c=$1 r=$2 tree=$3 a=$WORK/$1.tvx d=$WORK/$1-out
  record --case "$c" --round "$r" pack "$tree" "$a"
  record --case "$c" --round "$r" list "$a"
  record --case "$c" --round "$r" test "$a"
  record --case "$c" --round "$r" extract "$a" "$d"
  if [[ $r == 1 ]] && ! diff -r "$tree" "$d" > /dev/null; then
    say "ERROR: extracted $c differs from its source"
    exit 1
  fi
  rm -rf "$d"
  record --case "$c" --round "$r" limit "$tree" "$WORK"
  if [[ $c == small ]]; then cli_round "$r" "$tree"; fi
}

# The command-line host as whole processes, every check of its own included.
cli_round() {  # round tree
  local r=$1 tree=$2 a=$WORK/small-cli.tvx d=$WORK/small-cli-out
  rm -rf "$a" "$d"
  record --case small --tool tolvex-cli --op pack --round "$r" --output "$a" --cwd "$tree" exec -- "$TOLVEX" add "$a" .
  record --case small --tool tolvex-cli --op extract --round "$r" --output "" --cwd "" exec -- "$TOLVEX" extract "$a" -C "$d"
  # `add .` stores the folder under its own name.
  if [[ $r == 1 ]] && ! diff -r "$tree" "$d/$(basename "$tree")" > /dev/null; then
    say "ERROR: the tree extracted by tolvex differs from its source"
    exit 1
  fi
  rm -rf "$d" "$a"
}

# Archive changes work on a copy; the copy itself is the baseline.
changes_round() {  # round
  local r=$1
  record --case small --round "$r" copy "$WORK/small.tvx" "$WORK/small-copy.tvx"
  record --case small --round "$r" delete-half "$WORK/small-copy.tvx"
  record --case corpus --round "$r" copy "$WORK/corpus.tvx" "$WORK/corpus-copy.tvx"
  record --case corpus --round "$r" add "$WORK/add10" "$WORK/corpus-copy.tvx"
  record --case corpus --round "$r" delete-half "$WORK/corpus-copy.tvx"
  rm -f "$WORK/small-copy.tvx" "$WORK/corpus-copy.tvx"
}

measure() {
  if ((FIRST_ROUND == 1)); then
    : > "$RESULTS"
    record --case small --round 1 idle
  fi
  # Round by round, every tool in turn: a burst of colleagues' load lands on
  # all of them rather than on one.
  for ((r = FIRST_ROUND; r <= ROUNDS; r++)); do
    say "round $r of $ROUNDS: corpus"
    tolvex_round corpus "$r" "$WORK/corpus"
    peers_round "$r"
    say "round $r of $ROUNDS: 100,000 small files"
    # Every round: a single run of these short steps varied by a tenth.
    tolvex_round small "$r" "$WORK/small"
    changes_round "$r"
    say "round $r of $ROUNDS: the large file"
    tolvex_round big "$r" "$WORK/big"
  done
}

# System calls per small file, on 20,000 of them (strace slows every call down).
syscall_counts() {
  say "system calls per small file (strace -c)"
  rm -rf "$WORK/small20k"
  "$BENCH" gen-small "$WORK/small20k" 20 1000
  "$ROOT/bench/syscalls.sh" "$WORK/small20k" "$WORK/syscalls" "$BENCH" > "$WORK/syscalls.md"
  rm -rf "$WORK/small20k" "$WORK/syscalls"
}

# --- report -------------------------------------------------------------------------
chart() {
  # Bars cut at 4 so that 7z's pack does not flatten the rest; labels give the values.
  gnuplot <<EOF
set terminal svg size 760,400 dynamic font "sans,12"
set output "$(dirname "$OUT")/performance-corpus.svg"
set title "Corpus: CPU time relative to the limit (raw zlib -9 + plain I/O = 1)"
set style fill solid 0.8 border -1
set boxwidth 0.9
set yrange [0:4.6]
set grid ytics
set key top left
set ylabel "time / limit (bars cut at 4)"
cap(v) = v > 4 ? 4 : v
plot "$WORK/chart.dat" using (\$0*3):(cap(\$2)) with boxes title "pack", \
     "" using (\$0*3+1):(cap(\$3)) with boxes title "extract", \
     "" using (\$0*3):(cap(\$2)):(sprintf("%.2f", \$2)) with labels offset 0,0.6 font ",10" notitle, \
     "" using (\$0*3+1):(cap(\$3)):(sprintf("%.2f", \$3)) with labels offset 0,0.6 font ",10" notitle, \
     "" using (\$0*3+0.5):(0):xtic(1) with points pointsize 0 notitle
EOF
}

# Hand-written notes (profiles, fixes) below this line of the old report are
# carried over to the new one.
NOTES_MARK='<!-- Notes below this line are kept when bench/run.sh rewrites this file. -->'

write_report() {
  local took=$1
  local tables notes=""
  tables=$("$BENCH" report "$RESULTS" "$WORK/chart.dat")
  chart
  if [[ -f $OUT ]]; then notes=$(awk -v mark="$NOTES_MARK" 'kept { print } $0 == mark { kept = 1 }' "$OUT"); fi
  {
    echo "# Performance"
    echo
    echo "Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d) in $((took / 60)) min $((took % 60)) s."
    echo "Tolvex is driven through the module's exports, as the file manager calls them"
    echo "(\`build/bench/Tolvex.wcx\`, Release). Every tool works on the same copy of the files, all of them in"
    echo "\`$WORK\` ($(df --output=fstype "$WORK" | tail -1)): the disk's own cost is left out, the software's is measured."
    echo
    echo "![CPU time relative to the limit](performance-corpus.svg)"
    echo
    echo "$tables"
    echo
    echo "## System calls per small file"
    echo
    echo "Counted by \`bench/syscalls.sh\` with \`strace -c -f\`:"
    echo
    cat "$WORK/syscalls.md"
    echo
    echo "## What was measured"
    echo
    echo "- **Corpus** ($(describe "$WORK/corpus")): $CORPUS_RULE; copied to a scratch folder first."
    echo "- **Small files**: $(describe "$WORK/small"), in 100 folders (+ 100 folder entries): 100,100 entries."
    echo "- **Large file**: $(sed 's/^gen-big: //' "$WORK/big.info"). 70 % of its"
    echo "  blocks are 1–32 KiB slices of the corpus's headers, 15 % pseudo-random bytes, 15 % numeric records."
    echo "- **Limit**: the same program reads every file, compresses each at level 9 in memory with one"
    echo "  compressor reset between files (\`deflateReset\`), writes the packed bytes to one file (pack); reads them"
    echo "  back and inflates each with one decompressor (\`inflateReset\`) (test); then creates the folders, writes"
    echo "  every file and sets its time (\`futimens\`) (extract). Buffers are allocated before the clocks start and"
    echo "  freed memory is kept, so the limit is zlib's work plus the plain system calls, nothing else."
    echo "- **Tolvex**: \`PackFiles\` with \`PK_PACK_SAVE_PATHS\` and the host's AddList into a new archive;"
    echo "  \`OpenArchive\` + \`ReadHeader\`/\`ProcessFile(PK_SKIP)\` for every entry (list); \`PK_TEST\` every entry;"
    echo "  \`PK_EXTRACT\` every file into a fresh folder, creating folders first as a host does; \`PackFiles\` of 10"
    echo "  files (the first 10 headers of 16 KiB or more) into a copy of the corpus archive; \`DeleteFiles\` with"
    echo "  every other file of the 100,000 (50,000 names) on a copy of that archive. Times cover the export calls only."
    echo "  Round 1 compares every extracted tree with its source (\`diff -r\`)."
    echo "- **\`tolvex add\` / \`tolvex extract\`**: the command-line host as whole processes (start-up, its own checks"
    echo "  and the module's work), adding the 100,000 small files to a new archive and extracting them to a new folder."
    echo "- **Peers**, same files, output to the same folder: \`zip -9 -r\`, \`unzip\`, \`unzip -t\`;"
    echo "  \`7z a -tzip -mx=9\`, \`7z x\`, \`7z t\`; \`bsdtar --format zip --options zip:compression-level=9 -cf\`,"
    echo "  \`bsdtar -xf\`; \`tar -cf - . | gzip -9\`, \`gzip -dc | tar -xf -\`, \`gzip -t\`. CPU time and peak"
    echo "  memory come from \`wait4\` and include a pipeline's children."
    echo "- $ROUNDS rounds; in each round every tool runs in turn; the tables show medians (memory: the largest)."
    echo "  \`7z a -mx=9\` packs in the first $SEVENZ_PACK_ROUNDS round(s) only: it takes over ten times as long as zip."
    echo "  Every input is read once before the first round: with relatime, the first read of a file just written"
    echo "  also writes its access time, which cost whichever tool came first some 0.05 s on the small files."
    echo
    echo "## Machine"
    echo
    echo "- $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores (shared with colleagues' builds and fuzzers)"
    echo "- $(free -g | awk '/^Mem:/ { print $2 " GiB RAM" }'), Debian $(cat /etc/debian_version), Linux $(uname -r)"
    echo "- load average at the start: $LOAD_START; at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- zlib $(dpkg-query -W -f '${Version}' zlib1g), g++ $(g++ -dumpversion), zip $(dpkg-query -W -f '${Version}' zip),"
    echo "  p7zip $(dpkg-query -W -f '${Version}' p7zip-full), libarchive-tools $(dpkg-query -W -f '${Version}' libarchive-tools),"
    echo "  gzip $(dpkg-query -W -f '${Version}' gzip), tar $(dpkg-query -W -f '${Version}' tar)"
    echo
    echo "## Reproduce"
    echo
    echo '```sh'
    echo "bench/run.sh                         # all of it: about $((took / 60 + 1)) min here"
    echo "cmake --preset bench && cmake --build --preset bench"
    echo "build/bench/tolvex_bench pack TREE ARCHIVE     # one measurement, one results line"
    echo "build/bench/tolvex_bench limit TREE SCRATCH"
    echo '```'
    echo
    echo "Raw results (one line per run): \`$RESULTS\` while the scratch folder lasts."
    echo
    echo "$NOTES_MARK"
    [[ -z $notes ]] || echo "$notes"
  } > "$OUT.new"
  mv "$OUT.new" "$OUT"
  say "wrote $OUT"
}

main() {
  install_missing
  # A resumed run keeps the programs of the rounds before it.
  if ((FIRST_ROUND == 1)); then build; fi
  mkdir -p "$WORK"
  LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
  if ((FIRST_ROUND == 1)); then make_inputs; else say "resuming at round $FIRST_ROUND"; fi
  measure
  syscall_counts
  write_report $(($(date +%s) - STARTED))
}

main "$@"
