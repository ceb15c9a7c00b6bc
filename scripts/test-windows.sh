#!/bin/bash
# Builds the Windows targets with MinGW-w64 in build-mingw and runs them under Wine
# in a fresh prefix: the Win32 backend's tests, then a korbu-scan.exe scan of a
# generated tree whose detections must equal those of the Linux korbu-scan.
# Exits 0 only when everything it ran passed; says what it skipped.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-mingw
linux_build=${KORBU_LINUX_BUILD:-$root/build}
jobs=${JOBS:-2}
start=$(date +%s)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; }

wine=$(command -v wine || command -v wine64 || true)
if [ -z "$wine" ]; then
  echo "SKIP: Wine is not installed; nothing can run"
  exit 1
fi

# The test areas whose cases apply on Windows; each runs as <area>_tests.exe.
areas=(detect utils findfile scan cli shell platform)
area_list="windows"
for a in "${areas[@]}"; do area_list="$area_list;$a"; done
area_targets=()
for a in "${areas[@]}"; do area_targets+=("${a}_tests"); done

echo "== Building the Windows targets in $build"
# -O1: the tests and the scan comparison need no more, and the build from an empty
# folder takes about a third less time than at -O3.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
  "-DKORBU_WINDOWS_TEST_AREAS=$area_list" >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target korbu-scan windows_tests windows_test_holder \
  windows_make_scan_tree "${area_targets[@]}" >/dev/null || { echo "FAIL: the Windows build"; exit 1; }
echo "   built in $(( $(date +%s) - start )) s"

work=$(mktemp -d /tmp/korbu-windows-test.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "== Making a fresh Wine prefix"
timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }

# Runs one test program under Wine with a time limit; its skipped cases are listed
# with their reasons.
run_tests() {
  local name=$1; shift
  local log="$work/$name.log"
  if timeout 300 "$wine" "$build/$name.exe" --gtest_brief=1 "$@" >"$log" 2>&1; then
    tr -d '\r' <"$log" >"$log.txt"
    echo "   $name: $(grep -E '^\[  (PASSED|SKIPPED) *\]' "$log.txt" | sed 's/^\[ *\([A-Z]*\) *\] /\1 /' | tr '\n' ' ')"
    # Each skip prints "file:line: Skipped" and then its reason.
    grep -A1 ': Skipped$' "$log.txt" | grep -vE ': Skipped$|^--$' | sort | uniq -c |
      while read -r count reason; do echo "   $name skipped $count case(s): $reason"; done
  else
    local status=$?
    cat "$log"
    fail "$name.exe (status $status)"
  fi
}

echo "== Windows unit tests"
# The repair tests may damage this prefix's registry and system.ini: it is a fresh one.
KORBU_WINDOWS_DAMAGE_TESTS=1 run_tests windows_tests
for a in "${areas[@]}"; do
  case $a in
    # The INI file's mode bits and links, and a handwritten prefix's Windows folder,
    # are the POSIX backend's; the INI entry cases run.
    shell) run_tests shell_tests --gtest_filter=-IniFile.WritesRegularFilesOnly:IniFile.BareNamesLiveInTheWindowsFolder
           skip "shell: IniFile.WritesRegularFilesOnly (mode bits, links) and IniFile.BareNamesLiveInTheWindowsFolder (a handwritten prefix) are POSIX-only" ;;
    *) run_tests "${a}_tests" ;;
  esac
done
skip "not built for Windows: registry, procs, repair (a Wine prefix from the Linux side, /proc), bridge and engine (libclamav is not built for Windows), app (no Qt), robust and scale"
skip "POSIX-only cases inside the areas (links, FIFOs, fork, mode bits, handwritten prefixes, the engine library) are left out of their Windows builds"

echo "== End-to-end scan: korbu-scan.exe against the Linux korbu-scan"
tree=$work/tree
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
timeout 120 "$wine" "$build/windows_make_scan_tree.exe" "$(winpath "$tree")" \
  "$(winpath "$build/windows_test_holder.exe")" >/dev/null 2>&1 \
  || fail "making the scan tree"
if [ ! -x "$linux_build/korbu-scan" ]; then
  echo "   (building the Linux korbu-scan in $linux_build)"
  cmake -S "$root" -B "$linux_build" -DKORBU_BUILD_GUI=OFF -DKORBU_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$linux_build" -j"$jobs" --target korbu-scan >/dev/null || fail "the Linux build"
fi
# Both without the engine library and without the running programs or Run keys of
# either side: only the own detection of the files differs, if anything does.
opts=(--no-memory --no-registry --json)
timeout 300 "$wine" "$build/korbu-scan.exe" "${opts[@]}" "Z:${tree//\//\\}" >"$work/win.json" 2>"$work/win.err"
win_status=$?
(cd "$work" && mkdir -p noengine && cp "$linux_build/korbu-scan" noengine/ &&
  WINEPREFIX=/nonexistent-prefix timeout 300 noengine/korbu-scan "${opts[@]}" "$tree" >"$work/linux.json" 2>"$work/linux.err")
linux_status=$?
python3 - "$work/win.json" "$work/linux.json" "$tree" <<'PY' || fail "detections differ"
import json, sys
def load(path, strip):
    doc = json.load(open(path, encoding="latin-1"))
    found = doc.get("detections", doc) if isinstance(doc, dict) else doc
    out = set()
    for d in found:
        where = d.get("path", d.get("file", "")).replace("\\", "/")
        for p in strip:
            if where.lower().startswith(p.lower()): where = where[len(p):]
        out.add((where.lower(), d.get("name", d.get("virus", ""))))
    return out
tree = sys.argv[3]
win = load(sys.argv[1], ["Z:" + tree, tree])
lin = load(sys.argv[2], [tree])
print("   Windows: %d detections, Linux: %d" % (len(win), len(lin)))
for x in sorted(win - lin): print("   only on Windows:", x)
for x in sorted(lin - win): print("   only on Linux:", x)
sys.exit(0 if win == lin and win else 1)
PY
[ "$win_status" = "$linux_status" ] || fail "exit status: Windows $win_status, Linux $linux_status"
timeout 300 "$wine" "$build/korbu-scan.exe" --no-memory --no-registry "Z:${tree//\//\\}" >"$work/win.txt" 2>&1
if grep -q "^DLL NOT loaded." "$work/win.txt"; then
  echo "   korbu-scan.exe ran without the engine library (\"DLL NOT loaded.\")"
else
  fail "korbu-scan.exe did not report the missing engine library"
fi

echo "== Memory phase: a running program with a worm's checksum under Wine"
"$wine" "$work/tree.run/holder.exe" "$(winpath "$work/tree.run/held.dat")" >/dev/null 2>&1 &
sleep 3
mkdir -p "$work/empty"
timeout 300 "$wine" "$build/korbu-scan.exe" --no-registry "$(winpath "$work/empty")" >"$work/mem.txt" 2>&1
if grep -qi "tree.run.holder.exe: Brontok.* FOUND" "$work/mem.txt"; then
  echo "   the running holder.exe was found"
else
  cat "$work/mem.txt"
  fail "korbu-scan.exe did not find the running forged program"
fi

echo "== Done in $(( $(date +%s) - start )) s; $failures failure(s)"
[ "$failures" = 0 ]
