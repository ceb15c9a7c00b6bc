#!/usr/bin/env bash
# stalls.sh BUILD [MINGW_BUILD]: the longest time the window's main thread does not
# answer (a 5 ms timer on that thread: gui-stalls for the Qt window)
#   1. during start-up over the test databases plus KORBU_BENCH_HDB hash and
#      KORBU_BENCH_NDB body signatures generated beside them (default 1,000,000
#      and 2,000,000);
#   2. during a scan and a "Clean" while a stand-in worm runs under Wine in a fresh
#      prefix (needs Wine and MinGW-w64's gcc; skipped without them).
# BUILD is an optimised build with KORBU_BUILD_BENCH=ON (gui-stalls, the engine
# library). With MINGW_BUILD (a Windows build holding korbu-win32-stalls.exe) the
# Win32 window is measured too, under Wine on a virtual display: the scan and
# "Clean" as above, and start-up with a stand-in engine whose load takes 20 s, as
# no ClamAV for Windows runs here.
set -euo pipefail
build=$(cd "$1" && pwd)
mingw_build=${2:+$(cd "$2" && pwd)}
hdb=${KORBU_BENCH_HDB:-1000000}
ndb=${KORBU_BENCH_NDB:-2000000}
root=$(cd "$(dirname "$0")/../.." && pwd)
shared=${KORBU_BENCH_DB:-$root/../shared/engine-test-db}
work=$(mktemp -d /tmp/korbu-stalls.XXXXXX)
prefix=$work/prefix
xvfb_pid=
cleanup() {
  [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

echo "== start-up over $hdb + $ndb generated signatures"
mkdir "$work/db"
cp "$shared/main.cvd" "$shared/daily.cvd" "$work/db/"
python3 - "$work/db" "$hdb" "$ndb" <<'PY'
import hashlib, sys
folder, hdb, ndb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(f"{folder}/bench.hdb", "w") as out:
    for i in range(hdb):
        out.write(f"{hashlib.md5(b'h%d' % i).hexdigest()}:{1000 + i % 50000}:Bench.Hash-{i}\n")
with open(f"{folder}/bench.ndb", "w") as out:
    for i in range(ndb):
        body = hashlib.sha1(b"n%d" % i).hexdigest()
        out.write(f"Bench.Body-{i}:0:*:{body}\n")
PY
WINEPREFIX=$work/no-prefix "$build/gui-stalls" startup "$work/db"
rm -rf "$work/db"

echo "== scan and Clean with a stand-in worm running under Wine"
mingw=$(command -v x86_64-w64-mingw32-gcc || true)
if ! command -v wine >/dev/null || [ -z "$mingw" ]; then
  echo "SKIP: needs wine and x86_64-w64-mingw32-gcc"
  exit 0
fi
win32=
if [ -n "$mingw_build" ] && [ -f "$mingw_build/korbu-win32-stalls.exe" ] && command -v Xvfb >/dev/null; then
  # The prefix's desktop keeps the display its server starts with: start it there.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] && export DISPLAY=":$(head -1 "$work/display")" && win32=yes
fi
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 300 wineboot -i >/dev/null 2>&1
"$mingw" -O2 -o "$work/stand_in.exe" "$root/tests/repair/helpers/StandInWorm.c"
start_worm() {
  "$build/gui-stalls" forge "$work/stand_in.exe" "$prefix/drive_c/windows/bronworm.exe"
  wine 'C:\windows\bronworm.exe' >/dev/null 2>&1 &
  for _ in $(seq 300); do
    wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' 2>/dev/null | grep -q Bron && break
    sleep 0.2
  done
}
mkdir "$work/empty"
echo "-- Qt window"
start_worm
XDG_DATA_HOME=$work/data "$build/gui-stalls" clean "$work/empty"
if [ -z "$win32" ]; then
  echo "SKIP: the Win32 window (needs MINGW_BUILD with korbu-win32-stalls.exe, and Xvfb)"
  exit 0
fi
echo "-- Win32 window"
start_worm
wine "$mingw_build/korbu-win32-stalls.exe" clean "Z:${work//\//\\}\\empty" 2>/dev/null | tr -d '\r'
wine "$mingw_build/korbu-win32-stalls.exe" startup 20 2>/dev/null | tr -d '\r'
