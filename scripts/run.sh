#!/usr/bin/env bash
# Installs what is missing, builds, and starts the scanner: the desktop program when
# a display is there, otherwise the command-line scanner on FOLDER (default: here).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$PWD}
bash "$top/scripts/install-deps.sh" run
cmake -S "$top" -B "$top/build" -DKORBU_BUILD_TESTS=OFF -DKORBU_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build" -j"$(nproc)"
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$top/build/korbu" ]]; then
  exec "$top/build/korbu"
fi
if [[ -x "$top/build/korbu" ]]; then
  echo "No display: scanning '$folder' with korbu-scan. For the window: xvfb-run $top/build/korbu" >&2
fi
exec "$top/build/korbu-scan" "$folder"
