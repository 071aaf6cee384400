#!/bin/sh
# Builds the release packages:
#   dist/Tolvex-VERSION.zip                   Tolvex.wcx (32-bit), Tolvex.wcx64,
#                                             pluginst.inf, readme.txt
#   dist/tolvex-VERSION-linux-x86_64.tar.gz   Tolvex.wcx, tolvex, tolvex.1,
#                                             install-doublecmd.sh, readme.txt
#
#   scripts/make-dist.sh [VERSION]
#
# VERSION defaults to the version the build gives (tolvex --version). Presets
# whose outputs are missing are configured and built first (module and tool
# only, not the tests). The binaries are stripped in the packages only.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

fail() {
  echo "make-dist: $*" >&2
  exit 1
}

command -v zip >/dev/null 2>&1 || fail "zip not found (scripts/setup.sh installs it)"

# build_preset PRESET FILE... : builds the preset unless all FILEs exist.
build_preset() {
  preset=$1
  shift
  for file in "$@"; do
    if [ ! -f "build/$preset/$file" ]; then
      echo "make-dist: building preset $preset"
      cmake --preset "$preset" >/dev/null
      cmake --build --preset "$preset" --target Tolvex tolvex
      break
    fi
  done
  for file in "$@"; do
    [ -f "build/$preset/$file" ] || fail "build/$preset/$file is missing after the build"
  done
}

build_preset linux Tolvex.wcx tolvex
build_preset win32 Tolvex.wcx
build_preset win64 Tolvex.wcx64

# Each module must be of the kind its package promises.
i686-w64-mingw32-objdump -f build/win32/Tolvex.wcx | grep -q "pei-i386" ||
  fail "build/win32/Tolvex.wcx is not a 32-bit Windows module"
x86_64-w64-mingw32-objdump -f build/win64/Tolvex.wcx64 | grep -q "pei-x86-64" ||
  fail "build/win64/Tolvex.wcx64 is not a 64-bit Windows module"
head -c 4 build/linux/Tolvex.wcx | grep -q "ELF" || fail "build/linux/Tolvex.wcx is not an ELF module"

if [ $# -ge 1 ]; then
  VERSION=$1
else
  VERSION=$(build/linux/tolvex --version | sed -n 's/^tolvex //p')
  [ -n "$VERSION" ] || fail "cannot tell the version; pass it as the first argument"
fi
case $VERSION in
  *[!A-Za-z0-9._-]*) fail "version may hold only letters, digits, '.', '_' and '-': $VERSION" ;;
esac

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT INT TERM

# fill TEMPLATE OUTPUT [crlf]: the template with @VERSION@ replaced.
fill() {
  if [ "${3:-}" = crlf ]; then
    sed "s/@VERSION@/$VERSION/g; s/\$/\r/" "$1" >"$2"
  else
    sed "s/@VERSION@/$VERSION/g" "$1" >"$2"
  fi
}

# Windows package: files at the top of the zip, text with CRLF.
WIN="$STAGE/windows"
mkdir -p "$WIN"
cp build/win32/Tolvex.wcx "$WIN/Tolvex.wcx"
cp build/win64/Tolvex.wcx64 "$WIN/Tolvex.wcx64"
i686-w64-mingw32-strip --strip-debug "$WIN/Tolvex.wcx"
x86_64-w64-mingw32-strip --strip-debug "$WIN/Tolvex.wcx64"
fill packaging/pluginst.inf.in "$WIN/pluginst.inf" crlf
fill packaging/readme-windows.txt.in "$WIN/readme.txt" crlf

# Linux package: one folder named after the package.
LINUX_NAME="tolvex-$VERSION-linux-x86_64"
LIN="$STAGE/$LINUX_NAME"
mkdir -p "$LIN"
cp build/linux/Tolvex.wcx build/linux/tolvex "$LIN/"
strip --strip-debug "$LIN/Tolvex.wcx"
strip "$LIN/tolvex"
chmod 0755 "$LIN/tolvex"
chmod 0644 "$LIN/Tolvex.wcx"
fill packaging/readme-linux.txt.in "$LIN/readme.txt"
fill packaging/tolvex.1.in "$LIN/tolvex.1"
cp scripts/install-doublecmd.sh "$LIN/install-doublecmd.sh"
chmod 0644 "$LIN/tolvex.1"
chmod 0755 "$LIN/install-doublecmd.sh"

mkdir -p dist
ZIP="dist/Tolvex-$VERSION.zip"
TAR="dist/$LINUX_NAME.tar.gz"
rm -f "$ZIP" "$TAR"
(cd "$WIN" && zip -q -X "$ROOT/$ZIP" Tolvex.wcx Tolvex.wcx64 pluginst.inf readme.txt)
tar -C "$STAGE" --owner=0 --group=0 --numeric-owner --sort=name -czf "$TAR" "$LINUX_NAME"

echo "make-dist: wrote $ZIP"
echo "make-dist: wrote $TAR"
