#!/usr/bin/env bash
# Installs what is missing, builds, and starts the scanner: the desktop program when
# a display is there, otherwise the command-line scanner on FOLDER (default: here).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$PWD}
bash "$top/scripts/install-deps.sh" run
# A folder of its own: the test script's builds keep their tests and options.
build=$top/build-run
cmake -S "$top" -B "$build" -DKORBU_BUILD_TESTS=OFF -DKORBU_BUILD_BENCH=OFF \
  -DKORBU_BUILD_GUI=ON -DKORBU_BUILD_FUZZ=OFF -DKORBU_SANITIZE= -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$build/korbu" ]]; then
  exec "$build/korbu"
fi
if [[ -x "$build/korbu" ]]; then
  echo "No display: scanning '$folder' with korbu-scan. For the window: xvfb-run $build/korbu" >&2
fi
exec "$build/korbu-scan" "$folder"
