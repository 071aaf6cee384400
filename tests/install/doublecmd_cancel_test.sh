#!/bin/sh
# Cancel in Double Commander's progress window, with the module registered by
# scripts/install-doublecmd.sh. Double Commander runs under Xvfb, copies a
# large file into an archive and a large entry out of it, and its Cancel
# button is clicked as soon as each progress window shows. Afterwards the
# archive is byte for byte as it was, and no temporary or partial file is
# left: not beside the archive, not in the target folder, not in TMPDIR; the
# progress window's title never shows more than 100 %.
#
#   doublecmd_cancel_test.sh MODULE TOLVEX
#
# Exits 77 (skipped) with the reason when Double Commander cannot run here.
set -eu

MODULE=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
TOLVEX=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/install/doublecmd_common.sh"
dc_start_under_xvfb "$0" "$@"

FILES="$WORK/files"
ARCHIVE="$WORK/archive"
mkdir -p "$FILES" "$ARCHIVE" "$WORK/home" "$WORK/tmp"

# The archive holds one large entry (zeros: quick to pack, slow enough to
# unpack); the file to pack into it is incompressible.
truncate -s 1G "$WORK/large.bin"
(cd "$WORK" && "$TOLVEX" add -q "$ARCHIVE/old.tvx" large.bin --plugin "$MODULE") || fail "cannot make the archive"
rm "$WORK/large.bin"
cp "$ARCHIVE/old.tvx" "$WORK/old.tvx"
head -c 300M /dev/urandom >"$FILES/big.bin"

if ! sh "$ROOT/scripts/install-doublecmd.sh" --config-dir "$WORK/config" "$MODULE" >/dev/null 2>"$WORK/install.txt"; then
  grep -q "Double Commander is running" "$WORK/install.txt" &&
    { echo "SKIPPED: a Double Commander has started on this machine"; exit 77; }
  fail "install-doublecmd.sh failed: $(cat "$WORK/install.txt")"
fi

HOME="$WORK/home" TMPDIR="$WORK/tmp" doublecmd --config-dir="$WORK/config" -L "$FILES" -R "$ARCHIVE" \
  >"$WORK/doublecmd.log" 2>&1 &
DC_PID=$!
# It writes shortcuts.scf once its main window is built.
MAIN=$(dc_wait_window "Double Commander" 90) || fail "Double Commander did not start in 90 s"
dc_wait 90 "Double Commander did not start in 90 s" test -f "$WORK/config/shortcuts.scf"
sleep 2
eval "$(xdotool getwindowgeometry --shell "$MAIN")"
# Without a window manager nothing has the focus: a click into a panel gives
# it, End puts the cursor on its last (only) entry.
LEFT="$((WIDTH / 4)) $((HEIGHT * 2 / 3))"
RIGHT="$((WIDTH * 3 / 4)) $((HEIGHT * 2 / 3))"
# shellcheck disable=SC2086
xdotool mousemove --window "$MAIN" $RIGHT click 1 key End ctrl+Next
sleep 1

FAILED=0
problem() { echo "FAILED: $*" >&2; FAILED=1; }

# copy_and_cancel PANEL TITLE: F5 on the entry under the cursor in PANEL, Start
# in the dialog, then Cancel in the progress window titled ...TITLE.
copy_and_cancel() {
  # shellcheck disable=SC2086
  xdotool mousemove --window "$MAIN" $1 click 1 key End F5
  dialog=$(dc_wait_window "Copy file" 10) || fail "no copy dialog"
  sleep 0.5
  xdotool windowfocus --sync "$dialog" key Return
  progress=$(dc_wait_window "$2" 10) || fail "no $2 window"
  geometry=$(xdotool getwindowgeometry --shell "$progress") || fail "the $2 window went before Cancel"
  eval "$geometry"
  # For a second its title's percentage stays within 100 (the old archive's
  # copy taken for a share of the whole would pass it as the new file comes).
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    title=$(xdotool getwindowname "$progress" 2>/dev/null) || break
    percent=$(printf '%s\n' "$title" | sed -n 's/^\([0-9][0-9]*\)%.*/\1/p')
    [ -z "$percent" ] || [ "$percent" -le 100 ] || { problem "the $2 window showed \"$title\""; break; }
    sleep 0.1
  done
  # Cancel is the second button from the right in the bottom row; clicked
  # again while the window stays (a click as it shows may land before its
  # buttons do).
  dc_wait 60 "the $2 window stayed for 60 s" click_cancel "$2"
  sleep 1
  [ -z "$(ls -A "$WORK/tmp")" ] || problem "$2 cancelled left in TMPDIR: $(ls -A "$WORK/tmp")"
}
click_cancel() {
  [ -n "$(dc_windows "$1")" ] || return 0
  xdotool mousemove --window "$progress" $((WIDTH - 100)) $((HEIGHT - 22)) click 1
  return 1
}

copy_and_cancel "$LEFT" Packing
[ "$(ls -A "$ARCHIVE")" = old.tvx ] || problem "packing cancelled left: $(ls -A "$ARCHIVE")"
cmp -s "$ARCHIVE/old.tvx" "$WORK/old.tvx" || problem "packing cancelled changed the archive"

copy_and_cancel "$RIGHT" Extracting
[ "$(ls -A "$FILES")" = big.bin ] || problem "extracting cancelled left: $(ls -A "$FILES")"

[ "$FAILED" -eq 0 ] || exit 1
echo "doublecmd cancel: all checks passed"
