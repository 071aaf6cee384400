#!/usr/bin/env bash
# The main job: set-up, then build what the demo and the release packages
# need (module and tolvex of the linux, win64 and win32 presets, no test
# programs), write the packages (scripts/make-dist.sh) and run the demo of
# tolvex on real files (scripts/demo.sh). Exits non-zero when any step fails.
# scripts/test-all.sh builds and runs everything else.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${TOLVEX_JOBS:-2}
PRESETS=(linux win64 win32)
started=$SECONDS

"$ROOT/scripts/setup.sh"

for preset in "${PRESETS[@]}"; do
  echo "=== build $preset (module and tool)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$JOBS" --target Tolvex tolvex
done

echo
echo "=== built"
for preset in "${PRESETS[@]}"; do
  for artifact in Tolvex.wcx Tolvex.wcx64 tolvex tolvex.exe; do
    file="build/$preset/$artifact"
    if [ -f "$file" ]; then printf '%-36s %10d bytes\n' "$file" "$(stat -c %s "$file")"; fi
  done
done

echo
echo "=== release packages"
"$ROOT/scripts/make-dist.sh"

echo
echo "=== demo"
"$ROOT/scripts/demo.sh"

echo
echo "=== main job done in $((SECONDS - started)) s"
