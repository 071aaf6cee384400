#!/bin/sh
# Installs what building and testing Tolvex needs on Debian 12. Idempotent:
# asks apt only about packages that are missing, and prints nothing when none is.
#
# The Windows tests run under Wine with a prefix per build folder: the win64
# ones under /usr/lib/wine/wine64, the win32 ones under Wine's 32-bit loader
# /usr/lib/wine/wine (wine32, an i386 package: the i386 architecture is added).
#
# TOLVEX_SETUP_EXTRA names further packages to install the same way (the
# benchmark's other archivers).
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
  wine32:i386
  clang
  libclang-rt-14-dev
  zip
  doublecmd-gtk
  xvfb
  xdotool
  python3
"
PACKAGES="$PACKAGES ${TOLVEX_SETUP_EXTRA:-}"

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

# wine32 alone would remove wine64 (their shared files conflict unless both
# come in one go), so whenever either is missing both are named.
with_wine_pair() {
  case " $1 " in
    *" wine64 "*|*" wine32:i386 "*)
      printf '%s' "$1" | sed 's/wine64 //; s/wine32:i386 //'
      printf 'wine64 wine32:i386 ' ;;
    *) printf '%s' "$1" ;;
  esac
}

# The apt sources without the security suite, as a folder for
# Dir::Etc::SourceParts. The security mirror's i386 indexes are sometimes
# mid-sync ("File has unexpected size"): its amd64 libraries are then newer
# than its i386 ones, and the resolver refuses wine32 (the two must match).
# Without the suite both architectures come from the same release.
sources_without_security() {
  dir=$(mktemp -d)
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    # Deb822 stanzas are separated by blank lines; drop those naming a
    # -security suite or the debian-security archive.
    awk 'BEGIN { RS = ""; ORS = "\n\n" } !/-security|debian-security/' "$file" \
      >"$dir/$(basename "$file")"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    grep -v -e '-security' -e 'debian-security' "$file" \
      >"$dir/$(basename "$file" .list).list" || true
  done
  printf '%s' "$dir"
}

# apt-get update + install of the given packages; on failure once more with
# the sources that leave the security suite out.
install_packages() {
  export DEBIAN_FRONTEND=noninteractive
  # --no-install-recommends keeps the set small (wine64 recommends much more).
  if as_root apt-get update -qq && as_root apt-get install -y -qq --no-install-recommends "$@"; then
    return 0
  fi
  echo "setup: apt-get failed; retrying without the security suite's indexes" >&2
  parts=$(sources_without_security)
  status=0
  as_root apt-get -o Dir::Etc::SourceParts="$parts" -o Dir::Etc::SourceList=/dev/null update -qq &&
    as_root apt-get -o Dir::Etc::SourceParts="$parts" -o Dir::Etc::SourceList=/dev/null \
      install -y -qq --no-install-recommends "$@" || status=$?
  rm -rf "$parts"
  return $status
}

wait_for_package_manager
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for wine32)"
  as_root dpkg --add-architecture i386
fi
missing=$(missing_packages)
if [ -n "$missing" ]; then
  missing=$(with_wine_pair "$missing")
  echo "setup: installing $missing"
  # shellcheck disable=SC2086
  install_packages $missing || true
  missing=$(missing_packages)
  if [ -n "$missing" ]; then
    echo "setup: still missing after apt-get: $missing" >&2
    exit 1
  fi
fi

# The tools the build calls by name.
status=0
for tool in cmake ninja g++ x86_64-w64-mingw32-g++-win32 i686-w64-mingw32-g++-win32 \
            x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump clang zip; do
  command -v "$tool" >/dev/null 2>&1 || { echo "setup: $tool not found" >&2; status=1; }
done
for file in /usr/lib/wine/wine64 /usr/lib/wine/wine /usr/src/googletest/CMakeLists.txt \
            /usr/x86_64-w64-mingw32/lib/libz.a /usr/i686-w64-mingw32/lib/libz.a; do
  [ -e "$file" ] || { echo "setup: $file not found" >&2; status=1; }
done
exit $status
