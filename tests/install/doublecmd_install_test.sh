#!/bin/sh
# scripts/install-doublecmd.sh against a configuration that Double Commander
# itself wrote: Double Commander runs under Xvfb with a configuration folder of
# its own, is closed (it writes doublecmd.xml then), and the script's edit is
# checked with an XML parser, byte for byte against the original, for a second
# run, while Double Commander runs, and by Double Commander reading it again;
# then for a tvx element of another plug-in, disabled, a doublecmd.xml that is
# a link, and newlines in the folder's name.
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
display = x.XOpenDisplay(None)
protocols = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
delete = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
for window in sys.argv[1:]:
    # An XEvent is 24 longs; a ClientMessage's fields fill one long each:
    # type, serial, send_event, display, window, message_type, format, data.l[0].
    event = (ctypes.c_long * 24)(33, 0, 1, display, int(window), protocols, 32, delete)
    x.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
x.XFlush(display)
EOF

# run_doublecmd DIR...: starts a Double Commander on each DIR, waits until
# their main windows are up, closes them and waits until each has written its
# configuration.
run_doublecmd() {
  DC_PID=
  for dir in "$@"; do
    mkdir -p "$dir.home"
    HOME="$dir.home" doublecmd --config-dir="$dir" >>"$WORK/doublecmd.log" 2>&1 &
    DC_PID="$DC_PID $!"
  done
  # It writes shortcuts.scf once its main window is built, and maps that
  # window; closing it sooner can crash it. (On a second start the file is
  # there already: only the mapped window tells.)
  dc_wait 90 "Double Commander did not start in 90 s" all_started "$@"
  sleep 5
  asked=0
  dc_wait 60 "Double Commander did not close in 60 s" closed
  for pid in $DC_PID; do wait "$pid" || true; done
  DC_PID=
  for dir in "$@"; do
    [ -f "$dir/doublecmd.xml" ] || { tail -20 "$WORK/doublecmd.log" >&2; fail "Double Commander wrote no $dir/doublecmd.xml"; }
  done
}
all_started() {
  for dir in "$@"; do [ -f "$dir/shortcuts.scf" ] || return 1; done
  for pid in $DC_PID; do xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1 || return 1; done
}
running() { for pid in $DC_PID; do kill -0 "$pid" 2>/dev/null && return 0; done; return 1; }
# closed: true once all have ended; asks them to close every 5 s till then.
closed() {
  running || return 0
  if [ $((asked % 5)) -eq 0 ]; then
    for pid in $DC_PID; do
      # A window may go between the search and the message: that is no failure.
      # shellcheck disable=SC2046
      python3 "$WORK/close.py" $(xdotool search --pid "$pid" 2>/dev/null) 2>/dev/null || true
    done
  fi
  asked=$((asked + 1))
  return 1
}

# check_registered CONFIG [ORIGINAL]: one WcxPlugin for tvx, enabled, with the
# module's path and capabilities, beside the other plug-ins; without it the
# file is ORIGINAL without its tvx element, byte for byte.
check_registered() {
  python3 - "$1" "${2:-}" <<'EOF' || fail "$1 does not register the module as expected"
import os, re, sys, xml.etree.ElementTree as ET
config, original = sys.argv[1], sys.argv[2]
root = ET.parse(config).getroot()
assert root.tag == "doublecmd", root.tag
tvx = [p for p in root.iter("WcxPlugin") if (p.findtext("ArchiveExt") or "") == "tvx"]
assert len(tvx) == 1, "%d tvx plug-ins" % len(tvx)
module = os.path.join(os.path.dirname(config), "plugins/wcx/tolvex/Tolvex.wcx")
assert tvx[0].findtext("Path") == module, tvx[0].findtext("Path")
assert tvx[0].get("Enabled") == "True", "Enabled=%s" % tvx[0].get("Enabled")
assert tvx[0].findtext("Flags") == "79", tvx[0].findtext("Flags")
assert len(list(root.iter("WcxPlugin"))) > 1, "the other plug-ins are gone"
if original:
    element = re.compile(rb"[ \t]*<WcxPlugin [^>]*>\s*<ArchiveExt>tvx</ArchiveExt>.*?</WcxPlugin>\n", re.S)
    with open(config, "rb") as edited, open(original, "rb") as before:
        assert element.sub(b"", edited.read()) == element.sub(b"", before.read()), "the rest of the file changed"
EOF
}

# install_checked DIR ORIGINAL: installs into DIR, whose doublecmd.xml was
# ORIGINAL; checks the edit, the backup, and that a second run changes nothing.
install_checked() {
  sh "$INSTALL" --config-dir "$1" "$MODULE" >/dev/null || fail "the install into $1 failed"
  check_registered "$1/doublecmd.xml" "$2"
  cmp -s "$2" "$1/doublecmd.xml.tolvex-backup" || fail "the backup in $1 differs from the original"
  cp "$1/doublecmd.xml" "$WORK/installed.xml"
  out=$(sh "$INSTALL" --config-dir "$1" "$MODULE") || fail "the second run into $1 failed"
  cmp -s "$WORK/installed.xml" "$1/doublecmd.xml" || fail "the second run changed $1/doublecmd.xml"
  case $out in *"already registered"*) ;; *) fail "the second run said: $out" ;; esac
}

CONFIG_DIR="$WORK/config"
CONFIG="$CONFIG_DIR/doublecmd.xml"
run_doublecmd "$CONFIG_DIR"
cp "$CONFIG" "$WORK/original.xml"
install_checked "$CONFIG_DIR" "$WORK/original.xml"
cmp -s "$MODULE" "$CONFIG_DIR/plugins/wcx/tolvex/Tolvex.wcx" || fail "the module was not copied"

# A process named doublecmd stands for a running Double Commander.
cp "$(command -v sleep)" "$WORK/doublecmd"
"$WORK/doublecmd" 60 &
FAKE_PID=$!
sleep 0.2
rm -f "$CONFIG"
! sh "$INSTALL" --config-dir "$CONFIG_DIR" "$MODULE" 2>"$WORK/refused.txt" ||
  fail "the install went ahead while Double Commander runs"
grep -q "Double Commander is running" "$WORK/refused.txt" || fail "the refusal said: $(cat "$WORK/refused.txt")"
[ ! -f "$CONFIG" ] || fail "the refused install wrote $CONFIG"
kill "$FAKE_PID"
wait "$FAKE_PID" 2>/dev/null || true
FAKE_PID=
cp "$WORK/installed.xml" "$CONFIG"

# Double Commander reads the edited file and keeps the plug-in when it writes
# its configuration again. Beside it, a second one writes a configuration
# where tvx belongs to another plug-in, disabled.
DISABLED_DIR="$WORK/disabled"
mkdir -p "$DISABLED_DIR"
sed '0,/^    <\/WcxPlugins>/s||      <WcxPlugin Enabled="False">\n        <ArchiveExt>tvx</ArchiveExt>\
        <Path>%commander_path%/plugins/wcx/zip/zip.wcx</Path>\n        <Flags>0</Flags>\n      </WcxPlugin>\n&|' \
  "$WORK/original.xml" >"$DISABLED_DIR/doublecmd.xml"
run_doublecmd "$CONFIG_DIR" "$DISABLED_DIR"
check_registered "$CONFIG"

grep -q '<WcxPlugin Enabled="False">' "$DISABLED_DIR/doublecmd.xml" ||
  fail "Double Commander did not keep the disabled plug-in"
cp "$DISABLED_DIR/doublecmd.xml" "$WORK/disabled.xml"
install_checked "$DISABLED_DIR" "$WORK/disabled.xml"

# doublecmd.xml a link into a dotfiles folder: the file there gets the edit,
# the link stays.
mkdir -p "$WORK/linked" "$WORK/dotfiles"
cp "$WORK/original.xml" "$WORK/dotfiles/doublecmd.xml"
ln -s ../dotfiles/doublecmd.xml "$WORK/linked/doublecmd.xml"
install_checked "$WORK/linked" "$WORK/original.xml"
[ "$(readlink "$WORK/linked/doublecmd.xml")" = ../dotfiles/doublecmd.xml ] || fail "the link was replaced"

# Newlines in the configuration folder's name, one of them last.
NEWLINE_DIR="$WORK/double
commander
"
mkdir -p "$NEWLINE_DIR"
cp "$WORK/original.xml" "$NEWLINE_DIR/doublecmd.xml"
install_checked "$NEWLINE_DIR" "$WORK/original.xml"

# No configuration yet: the script writes one that parses.
sh "$INSTALL" --config-dir "$WORK/fresh" "$MODULE" >/dev/null || fail "the install into an empty folder failed"
python3 -c 'import sys, xml.etree.ElementTree as ET; ET.parse(sys.argv[1])' "$WORK/fresh/doublecmd.xml" ||
  fail "the new configuration does not parse"

echo "install-doublecmd: all checks passed"
