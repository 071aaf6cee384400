#!/usr/bin/env bash
# A short demo of the tolvex tool on real files: documentation folders that ship
# with the system (/usr/share/doc), copied into build/demo so the tree stays
# the same while the demo runs. Adds them to a new archive, lists, tests and
# extracts it, compares the result with the originals, deletes a folder, and
# reports sizes. Then, for each of the win64 and win32 builds that is there
# with its Wine loader, does a smaller round trip with that Windows tool and
# module under Wine (wine64, or Wine's 32-bit loader).
#
#   scripts/demo.sh
#
# Needs build/linux/tolvex (scripts/main-job.sh builds it). Exits non-zero
# when any step fails. Environment:
#   TOLVEX_DEMO_FILES  about how many files to take (default 300)
#   TOLVEX_DEMO_WINE   0 skips the Windows part
set -Eeuo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOLVEX="$ROOT/build/linux/tolvex"
DEMO="$ROOT/build/demo"
SOURCE=/usr/share/doc
WANT_FILES=${TOLVEX_DEMO_FILES:-300}

STEP="start"
step() {
  STEP=$1
  echo
  echo "--- $1"
}
trap 'echo "demo: FAILED at step: $STEP" >&2' ERR

[ -x "$TOLVEX" ] || { echo "demo: $TOLVEX is missing (run scripts/main-job.sh)" >&2; exit 1; }

# entry_count ARCHIVE [TOOL...]: files plus folders, from the JSON listing.
entry_count() {
  local archive=$1
  shift
  local tool=("$@")
  [ ${#tool[@]} -gt 0 ] || tool=("$TOLVEX")
  "${tool[@]}" list --json "$archive" | tr -d '\r' |
    awk -F'[:,]' '/"totals"/ { n = $3 + $5; found = 1 } END { if (!found) exit 1; print n }'
}

# bytes_of_files DIR: the sum of the sizes of the regular files below DIR.
bytes_of_files() {
  find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'
}

# percent PART WHOLE: PART as a share of WHOLE, one decimal.
percent() {
  awk -v p="$1" -v w="$2" 'BEGIN { printf "%.1f%%", w ? 100 * p / w : 0 }'
}

start=$SECONDS
rm -rf "$DEMO"
mkdir -p "$DEMO/files"

step "pick files: package folders of $SOURCE in sorted order, until $WANT_FILES files"
picked=()
count=0
while IFS= read -r name; do
  dir="$SOURCE/$name"
  # Real folders only; symbolic links (to other folders or files) are left out.
  [ -d "$dir" ] && [ ! -L "$dir" ] || continue
  cp -R --preserve=timestamps "$dir" "$DEMO/files/"
  find "$DEMO/files/$name" -type l -delete
  picked+=("$name")
  count=$(find "$DEMO/files" -type f | wc -l)
  [ "$count" -ge "$WANT_FILES" ] && break
done < <(cd "$SOURCE" && LC_ALL=C ls -1)
[ "$count" -gt 0 ] || { echo "demo: no files found below $SOURCE" >&2; exit 1; }
original_bytes=$(bytes_of_files "$DEMO/files")
echo "${#picked[@]} folders (${picked[0]} ... ${picked[-1]}), $count files, $original_bytes bytes"
echo "$(find "$DEMO/files" -type f -name '*.gz' | wc -l) of the files are gzip files, which do not shrink again"
echo "copied to build/demo/files"

cd "$DEMO/files"
step "add: tolvex add demo.tvx FOLDER..."
"$TOLVEX" add ../demo.tvx "${picked[@]}"
cd "$DEMO"

step "list: tolvex list demo.tvx (first lines and the total)"
"$TOLVEX" list demo.tvx >list.txt
head -n 7 list.txt
echo "    ..."
tail -n 1 list.txt

step "test: tolvex test demo.tvx"
"$TOLVEX" test demo.tvx

step "extract: tolvex extract demo.tvx -C extracted"
"$TOLVEX" extract demo.tvx -C extracted

step "compare: diff -r files extracted"
diff -r files extracted
echo "no differences"

step "sizes"
archive_bytes=$(stat -c %s demo.tvx)
printf 'original files  %12d bytes\n' "$original_bytes"
printf 'archive         %12d bytes\n' "$archive_bytes"
echo "ratio           $(percent "$archive_bytes" "$original_bytes") (archive size / original size)"

victim=${picked[0]}
step "delete: tolvex delete demo.tvx $victim"
before=$(entry_count demo.tvx)
"$TOLVEX" delete demo.tvx "$victim"
after=$(entry_count demo.tvx)
expected=$((before - 1 - $(find "files/$victim" -mindepth 1 | wc -l)))
echo "entries before: $before, after: $after"
[ "$after" -eq "$expected" ] || { echo "demo: expected $expected entries after the delete" >&2; false; }
"$TOLVEX" test --quiet demo.tvx
echo "archive still tests OK, now $(stat -c %s demo.tvx) bytes"

# --- the Windows tools and modules under Wine -------------------------------------------
# windows_round_trip PRESET MODULE: the tool of build/PRESET with its module
# packs, lists, tests and extracts one folder; then it and the Linux tool test
# each other's archives. Each preset runs under its own Wine loader (wine64,
# or the 32-bit wine) with its own prefix; the Wine server is stopped after.
windows_round_trip() {
  local preset=$1 module=$2
  local build="$ROOT/build/$preset"
  local wine_run="$build/wine-run.sh" win_tolvex="$build/tolvex.exe"
  if [ ! -f "$win_tolvex" ] || [ ! -f "$build/$module" ]; then
    echo
    echo "($preset part skipped: build/$preset has no tolvex.exe or $module)"
    return 0
  fi
  if [ ! -x "$wine_run" ]; then
    # CMake writes wine-run.sh only where Wine's loader for the word size runs.
    echo
    if [ "$preset" = win32 ] && [ -e /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo "($preset part skipped: this machine cannot run 32-bit programs, so Wine's 32-bit loader does not start)"
    else
      echo "($preset part skipped: Wine's loader was not found when build/$preset was configured, see scripts/setup.sh)"
    fi
    return 0
  fi
  # Windows programs write CRLF; show plain lines.
  wintolvex() { "$wine_run" "$win_tolvex" "$@" | tr -d '\r'; }
  local small=${picked[1]:-${picked[0]}}

  step "Windows ($preset, Wine): tolvex.exe with $module packs, lists, tests and extracts $small"
  if [ ! -f "$build/wineprefix/system.reg" ]; then
    echo "(the first Wine run sets up build/$preset/wineprefix, which takes a while)"
  fi
  rm -rf "$DEMO/$preset"
  mkdir -p "$DEMO/$preset"
  cd "$DEMO/files"
  wintolvex add "../$preset/small.tvx" "$small"
  cd "$DEMO/$preset"
  wintolvex list small.tvx | tail -n 1
  wintolvex test small.tvx
  wintolvex extract small.tvx -C extracted
  diff -r "$DEMO/files/$small" "extracted/$small"
  echo "no differences"

  step "Windows ($preset) and Linux read each other's archives"
  "$TOLVEX" test small.tvx
  wintolvex test ../demo.tvx
  cd "$DEMO"
  WINEPREFIX="$build/wineprefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}

if [ "${TOLVEX_DEMO_WINE:-1}" = 0 ]; then
  echo
  echo "(Windows part skipped: TOLVEX_DEMO_WINE=0)"
else
  windows_round_trip win64 Tolvex.wcx64
  windows_round_trip win32 Tolvex.wcx
fi

echo
echo "demo: all steps passed in $((SECONDS - start)) s"
