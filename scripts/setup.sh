#!/bin/sh
# Installs what building and testing Tolvex needs on Debian 12. Idempotent:
# asks apt only about packages that are missing, and does nothing when none is.
#
# Never installs wine32: with it, Wine picks its 32-bit loader. The Windows
# tests run under /usr/lib/wine/wine64 with a prefix per build folder.
set -eu

PACKAGES="
  build-essential
  cmake
  ninja-build
  zlib1g-dev
  libgtest-dev
  g++-mingw-w64-i686
  g++-mingw-w64-x86-64
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine64
  clang
  libclang-rt-14-dev
  zip
  doublecmd-gtk
  xvfb
  xdotool
  python3
"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Another apt or dpkg run (e.g. one started by hand) holds the lock: wait for
# it rather than failing on the lock. Reads /proc so it needs no procps.
package_manager_busy() {
  for comm in /proc/[0-9]*/comm; do
    name=$(cat "$comm" 2>/dev/null) || continue
    case $name in apt|apt-get|aptitude|dpkg|unattended-upgr) return 0 ;; esac
  done
  return 1
}

wait_for_package_manager() {
  waited=0
  while package_manager_busy; do
    [ "$waited" -eq 0 ] && echo "setup: waiting for another apt/dpkg run to finish"
    waited=1
    sleep 5
  done
}

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_packages() {
  for package in $PACKAGES; do
    is_installed "$package" || printf '%s ' "$package"
  done
}

wait_for_package_manager
missing=$(missing_packages)
if [ -n "$missing" ]; then
  echo "setup: installing $missing"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  # --no-install-recommends: wine64 recommends wine32.
  # shellcheck disable=SC2086
  as_root apt-get install -y -qq --no-install-recommends $missing
  missing=$(missing_packages)
  if [ -n "$missing" ]; then
    echo "setup: still missing after apt-get: $missing" >&2
    exit 1
  fi
else
  echo "setup: all packages present"
fi

if is_installed wine32; then
  echo "setup: warning: wine32 is installed; the Windows tests expect wine64 only" >&2
fi

# The tools the build calls by name.
status=0
for tool in cmake ninja g++ x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix \
            x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump clang zip; do
  command -v "$tool" >/dev/null 2>&1 || { echo "setup: $tool not found" >&2; status=1; }
done
for file in /usr/lib/wine/wine64 /usr/src/googletest/CMakeLists.txt \
            /usr/x86_64-w64-mingw32/lib/libz.a /usr/i686-w64-mingw32/lib/libz.a; do
  [ -e "$file" ] || { echo "setup: $file not found" >&2; status=1; }
done
exit $status
