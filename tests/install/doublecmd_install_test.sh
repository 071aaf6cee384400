#!/bin/sh
# scripts/install-doublecmd.sh against a configuration that Double Commander
# itself wrote: Double Commander runs under Xvfb with a configuration folder of
# its own, is closed (it writes doublecmd.xml then), and the script's edit is
# checked with an XML parser, byte for byte against the original, for a second
# run, while Double Commander runs, and by Double Commander reading it again.
#
#   doublecmd_install_test.sh MODULE
#
# Exits 77 (skipped) with the reason when this machine lacks Double Commander,
# Xvfb, xdotool or python3.
set -eu

MODULE=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
INSTALL="$ROOT/scripts/install-doublecmd.sh"

. "$ROOT/tests/install/doublecmd_common.sh"
dc_start_under_xvfb "$0" "$@"
FAKE_PID=

# Asks each of a process's windows to close, as a window manager's close
# button does (WM_DELETE_WINDOW), through libX11.
cat >"$WORK/close.py" <<'EOF'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
display = x.XOpenDisplay(None)
protocols = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
delete = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
for window in sys.argv[1:]:
    event = ClientMessage(33, 0, 1, display, int(window), protocols, 32)
    event.data[0] = delete
    x.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
x.XFlush(display)
EOF

# run_doublecmd DIR: starts Double Commander on DIR, waits until its main
# window is up, closes it and waits until it has written its configuration.
run_doublecmd() {
  HOME="$WORK/home" doublecmd --config-dir="$1" >"$WORK/doublecmd.log" 2>&1 &
  DC_PID=$!
  # It writes shortcuts.scf once its main window is built, and maps that
  # window; closing it sooner can crash it. (On a second start the file is
  # there already: only the mapped window tells.)
  seconds=0
  until [ -f "$1/shortcuts.scf" ] && xdotool search --onlyvisible --pid "$DC_PID" >/dev/null 2>&1; do
    sleep 1
    seconds=$((seconds + 1))
    [ "$seconds" -lt 90 ] || fail "Double Commander did not start in 90 s"
  done
  sleep 5
  seconds=0
  while kill -0 "$DC_PID" 2>/dev/null; do
    if [ $((seconds % 5)) -eq 0 ]; then
      # A window may go between the search and the message: that is no failure.
      # shellcheck disable=SC2046
      python3 "$WORK/close.py" $(xdotool search --pid "$DC_PID" 2>/dev/null) 2>/dev/null || true
    fi
    sleep 1
    seconds=$((seconds + 1))
    [ "$seconds" -lt 60 ] || fail "Double Commander did not close in 60 s"
  done
  wait "$DC_PID" || true
  DC_PID=
  [ -f "$1/doublecmd.xml" ] || { tail -20 "$WORK/doublecmd.log" >&2; ls -la "$1" >&2; fail "Double Commander wrote no $1/doublecmd.xml"; }
}

# check_registered CONFIG PATH: exactly one WcxPlugin for tvx, with PATH.
check_registered() {
  python3 - "$1" "$2" <<'EOF' || fail "$1 does not register the module as expected"
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "doublecmd", root.tag
tvx = [p for p in root.iter("WcxPlugin") if (p.findtext("ArchiveExt") or "") == "tvx"]
assert len(tvx) == 1, "%d tvx plug-ins" % len(tvx)
assert tvx[0].findtext("Path") == sys.argv[2], tvx[0].findtext("Path")
assert tvx[0].findtext("Flags") == "79", tvx[0].findtext("Flags")
others = [p for p in root.iter("WcxPlugin") if p is not tvx[0]]
assert others, "the other plug-ins are gone"
EOF
}

CONFIG_DIR="$WORK/config"
CONFIG="$CONFIG_DIR/doublecmd.xml"
EXPECTED_MODULE="$CONFIG_DIR/plugins/wcx/tolvex/Tolvex.wcx"
mkdir -p "$CONFIG_DIR" "$WORK/home"

run_doublecmd "$CONFIG_DIR"
cp "$CONFIG" "$WORK/original.xml"

sh "$INSTALL" --config-dir "$CONFIG_DIR" "$MODULE" || fail "the install failed"
check_registered "$CONFIG" "$EXPECTED_MODULE"
cmp -s "$MODULE" "$EXPECTED_MODULE" || fail "the module was not copied to $EXPECTED_MODULE"
cmp -s "$WORK/original.xml" "$CONFIG.tolvex-backup" || fail "the backup differs from the original"
# Without the five lines of the new element, the file is the original.
grep -v -e '<ArchiveExt>tvx</ArchiveExt>' -e "<Path>$EXPECTED_MODULE</Path>" "$CONFIG" |
  awk '
    /<WcxPlugin Enabled="True">/ { held = $0; next }
    held != "" && /<Flags>79<\/Flags>/ { skip = 1; next }
    held != "" && skip && /<\/WcxPlugin>/ { held = ""; skip = 0; next }
    held != "" { print held; held = "" }
    { print }' >"$WORK/without.xml"
cmp -s "$WORK/original.xml" "$WORK/without.xml" || {
  diff "$WORK/original.xml" "$WORK/without.xml" >&2 || true
  fail "the rest of the configuration changed"
}

cp "$CONFIG" "$WORK/installed.xml"
out=$(sh "$INSTALL" --config-dir "$CONFIG_DIR" "$MODULE") || fail "the second run failed"
cmp -s "$WORK/installed.xml" "$CONFIG" || fail "the second run changed the configuration"
case $out in *"already registered"*) ;; *) fail "the second run said: $out" ;; esac

# A process named doublecmd stands for a running Double Commander.
cp "$(command -v sleep)" "$WORK/doublecmd"
"$WORK/doublecmd" 60 &
FAKE_PID=$!
sleep 0.2
rm -f "$CONFIG"
if sh "$INSTALL" --config-dir "$CONFIG_DIR" "$MODULE" 2>"$WORK/refused.txt"; then
  fail "the install went ahead while Double Commander runs"
fi
grep -q "Double Commander is running" "$WORK/refused.txt" || fail "the refusal said: $(cat "$WORK/refused.txt")"
[ ! -f "$CONFIG" ] || fail "the refused install wrote $CONFIG"
kill "$FAKE_PID"
wait "$FAKE_PID" 2>/dev/null || true
FAKE_PID=
cp "$WORK/installed.xml" "$CONFIG"

# Double Commander reads the edited file and keeps the plug-in when it
# writes its configuration again.
run_doublecmd "$CONFIG_DIR"
check_registered "$CONFIG" "$EXPECTED_MODULE"

# No configuration yet: the script writes one that parses.
sh "$INSTALL" --config-dir "$WORK/fresh" "$MODULE" >/dev/null || fail "the install into an empty folder failed"
python3 -c 'import sys, xml.etree.ElementTree as ET; ET.parse(sys.argv[1])' "$WORK/fresh/doublecmd.xml" ||
  fail "the new configuration does not parse"

echo "install-doublecmd: all checks passed"
