#!/usr/bin/env bash
# The main job: set-up, then build every preset, list what was built, and run
# the demo of tolvex on real files (scripts/demo.sh). Exits non-zero when any
# step fails.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${TOLVEX_JOBS:-2}
PRESETS=(linux linux-asan win64 win32)

"$ROOT/scripts/setup.sh"

for preset in "${PRESETS[@]}"; do
  echo "=== build $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$JOBS"
done

echo
echo "=== built"
for preset in "${PRESETS[@]}"; do
  for artifact in Tolvex.wcx Tolvex.wcx64 tolvex tolvex.exe tolvex_tests tolvex_tests.exe; do
    file="build/$preset/$artifact"
    if [ -f "$file" ]; then printf '%-36s %10d bytes\n' "$file" "$(stat -c %s "$file")"; fi
  done
done

echo
echo "=== demo"
"$ROOT/scripts/demo.sh"
