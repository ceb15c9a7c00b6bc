#!/usr/bin/env bash
# vs-cli.sh BUILD [FILES]: scans one generated tree of FILES files (default 100000)
# from the main window and with korbu-scan, both with own detection only and all
# three phases, and prints the window's event-loop figures (5 ms timer: ticks, the
# longest and 99th-percentile gap, object-label changes) and the ratio of the
# window's scan time to korbu-scan's.
set -euo pipefail
build=$(cd "$1" && pwd); files=${2:-100000}
here=$(cd "$(dirname "$0")" && pwd)
tree=$(mktemp -d); trap 'rm -rf "$tree"' EXIT
bash "$here/../make-tree.sh" "$tree/files" "$files" 4096
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export WINEPREFIX="$tree/no-prefix"   # the registry phase must not read the user's prefix
cli_start=$(date +%s.%N)
"$build/korbu-scan" --no-cache --no-engine "$tree/files" > /dev/null || [ $? -eq 1 ]
cli_end=$(date +%s.%N)
gui=$("$build/gui-responsiveness" "$tree/files")
gui_seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$gui")
echo "$gui"
python3 - "$cli_start" "$cli_end" "$gui_seconds" <<'PY'
import sys
start, end, gui = map(float, sys.argv[1:])
cli = end - start
print(f"korbu-scan {cli:.3f} s, window {gui:.3f} s, ratio window/korbu-scan {gui / cli:.2f}")
PY
