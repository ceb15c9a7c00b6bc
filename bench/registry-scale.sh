#!/usr/bin/env bash
# registry-scale.sh [BUILD]: how the registry phase of korbu-scan grows with the
# number of Run values, with Wine's server stopped (the registry files are read)
# and running (the values come through the Wine registry helper), and how soon a
# stop signal ends it. Prints a Markdown table of medians and their ratios.
#
# A fresh Wine prefix gets a Run key of SMALL and then LARGE values naming
# C:\windows\notepad.exe (as in a flooded Run key), written into user.reg while no
# server runs. Each figure is the median wall time of korbu-scan --no-memory over
# an empty folder, with no databases (own detection only).
# BUILD (default build-rel) must hold an optimised korbu-scan and korbu-winereg.exe;
# it is configured (Release) and built when they are missing.
# Environment: KORBU_BENCH_RUNS (runs per figure, default 3), KORBU_BENCH_SMALL
# (default 1000), KORBU_BENCH_LARGE (default 10000).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-rel}
runs=${KORBU_BENCH_RUNS:-3}
small=${KORBU_BENCH_SMALL:-1000}
large=${KORBU_BENCH_LARGE:-10000}

if [[ -f "$build/CMakeCache.txt" ]] && ! grep -qE '^CMAKE_BUILD_TYPE:[A-Z]*=(Release|RelWithDebInfo|MinSizeRel)$' "$build/CMakeCache.txt"; then
  echo "registry-scale.sh: $build is no optimised build" >&2; exit 2
fi
if [[ ! -x "$build/korbu-scan" || ! -f "$build/korbu-winereg.exe" ]]; then
  echo "building korbu-scan (Release) in $build" >&2
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORBU_BUILD_TESTS=OFF -DKORBU_BUILD_BENCH=OFF \
    -DKORBU_BUILD_GUI=OFF -DKORBU_SANITIZE= >/dev/null
  cmake --build "$build" -j"$(nproc)" --target korbu-scan >/dev/null
fi
command -v wine >/dev/null || { echo "registry-scale.sh: Wine is not installed" >&2; exit 2; }

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -p "$work/empty"
timeout 300 wineboot -i >/dev/null 2>&1
wineserver -w
cp "$WINEPREFIX/user.reg" "$work/user.reg.orig"

plant() {  # plant COUNT: the Run key of user.reg holds COUNT values (no server runs)
  python3 - "$work/user.reg.orig" "$WINEPREFIX/user.reg" "$1" <<'PY'
import sys
source, target, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
text = open(source, encoding="utf-8", errors="surrogateescape").read()
section = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
values = "".join('"Flood%05d"="C:\\\\windows\\\\notepad.exe /n%d"\n' % (i, i) for i in range(count))
open(target, "w", encoding="utf-8", errors="surrogateescape").write(text.rstrip("\n") + "\n\n" + section + values)
PY
}
# A scan that ends in an error (exit 2) timed nothing of the phase: stop there.
scan() {
  local rc=0
  "$build/korbu-scan" --no-memory --no-engine "$work/empty" >/dev/null 2>"$work/stderr" || rc=$?
  if [[ $rc -ge 2 ]]; then
    echo "registry-scale.sh: korbu-scan failed (exit $rc):" >&2; cat "$work/stderr" >&2; exit 2
  fi
}
median() {  # median of the wall times of RUNS scans
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N); scan; end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
# Seconds from SIGINT, sent once the registry phase is well under way, to the end.
stop_time() {
  # A script's background job starts with SIGINT ignored: give it back its default.
  env --default-signal=INT "$build/korbu-scan" --no-memory --no-engine "$work/empty" >/dev/null 2>&1 &
  local pid=$! sent ended rc=0
  sleep "$1"
  sent=$(date +%s.%N)
  kill -INT "$pid" 2>/dev/null || true
  wait "$pid" || rc=$?
  ended=$(date +%s.%N)
  # 130: it ended by the signal; anything else means it ran to its end first.
  [[ $rc -eq 130 ]] || echo "   (the scan ended with $rc, not by the signal)" >&2
  echo "$ended - $sent" | bc
}

declare -A figure
for mode in files live; do
  for count in "$small" "$large"; do
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    plant "$count"
    [[ $mode == live ]] && { wineserver -p; wine reg query 'HKCU\Software' >/dev/null 2>&1 || true; }
    figure[$mode-$count]=$(median)
    echo "   $mode, $count values: ${figure[$mode-$count]} s" >&2
  done
  figure[$mode-stop]=$(stop_time 1)
done
wineserver -k >/dev/null 2>&1 || true

ratio() { echo "scale=2; $1 / $2" | bc; }
echo "| Registry phase | $small values | $large values | ratio | stop after SIGINT ($large values) |"
echo "|---|---:|---:|---:|---:|"
for mode in files live; do
  label="Wine's server stopped (user.reg read)"
  [[ $mode == live ]] && label="Wine's server running (the helper)"
  printf '| %s | %.2f s | %.2f s | %s | %.2f s |\n' "$label" "${figure[$mode-$small]}" "${figure[$mode-$large]}" \
    "$(ratio "${figure[$mode-$large]}" "${figure[$mode-$small]}")" "${figure[$mode-stop]}"
done
