# Sourced by the tests that run Double Commander. Call dc_start_under_xvfb
# "$0" "$@" first: it exits 77 (skipped) with the reason when this machine
# cannot run Double Commander for the test (a tool missing, or a Double
# Commander running already: the install script refuses then), and otherwise
# runs the test again under Xvfb with WORK, a folder removed on exit.

# TOLVEX_DC_SCREENSHOT=FILE.png keeps the screen as a failure left it.
fail() {
  echo "FAILED: $*" >&2
  [ -z "${TOLVEX_DC_SCREENSHOT:-}" ] || import -window root "$TOLVEX_DC_SCREENSHOT" 2>/dev/null || true
  exit 1
}

# dc_start_under_xvfb SCRIPT ARGS...
dc_start_under_xvfb() {
  for tool in doublecmd xvfb-run xdotool python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"
      exit 77
    fi
  done
  for comm in /proc/[0-9]*/comm; do
    if [ "$(cat "$comm" 2>/dev/null)" = doublecmd ]; then
      echo "SKIPPED: a Double Commander is running on this machine"
      exit 77
    fi
  done
  if [ -z "${TOLVEX_UNDER_XVFB:-}" ]; then
    TOLVEX_UNDER_XVFB=1 exec xvfb-run -a sh "$@"
  fi
  WORK=$(mktemp -d)
  DC_PID=
  trap dc_cleanup EXIT
}

dc_cleanup() {
  # shellcheck disable=SC2086
  [ -z "$DC_PID" ] || kill -9 $DC_PID 2>/dev/null || true
  [ -z "${FAKE_PID:-}" ] || kill "$FAKE_PID" 2>/dev/null || true
  rm -rf "$WORK"
}

# dc_wait SECONDS WHAT COMMAND...: runs COMMAND once a second until it
# succeeds; fails saying WHAT after SECONDS.
dc_wait() {
  limit=$1
  what=$2
  shift 2
  seconds=0
  until "$@"; do
    sleep 1
    seconds=$((seconds + 1))
    [ "$seconds" -lt "$limit" ] || fail "$what"
  done
}

# dc_windows [NAME]: the visible windows of Double Commander (DC_PID), of
# those only the ones whose title holds NAME.
dc_windows() { xdotool search --all --onlyvisible --pid "$DC_PID" --name "${1:-.}" 2>/dev/null; }

# dc_wait_window NAME SECONDS: prints the first window whose title holds NAME
# once it is shown; fails after SECONDS.
dc_wait_window() {
  tries=$(($2 * 10))
  until window=$(dc_windows "$1" | head -n 1) && [ -n "$window" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
  echo "$window"
}
