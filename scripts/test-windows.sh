#!/bin/bash
# Builds the Windows targets with MinGW-w64 in build-mingw and runs them under Wine
# in a fresh prefix: the Win32 backend's tests, the desktop window's tests on a
# virtual display (screenshots in build-mingw/screenshots), then a korbu-scan.exe
# scan of a generated tree whose detections must equal those of the Linux
# korbu-scan, and a clean of a planted worm file and Run value that must match the
# Linux clean.
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
# winpath: a Linux path as Wine's Z: drive sees it.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
areas=(detect utils dispatch findfile scan cli shell platform ui)
area_list="windows;win32app"
for a in "${areas[@]}"; do area_list="$area_list;$a"; done
area_targets=()
for a in "${areas[@]}"; do area_targets+=("${a}_tests"); done

echo "== Building the Windows targets in $build"
# -O1: the tests and the scan comparison need no more, and the build from an empty
# folder takes about a third less time than at -O3.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
  -DKORBU_BUILD_TESTS=ON -DKORBU_BUILD_BENCH=OFF -DKORBU_BUILD_FUZZ=OFF -DKORBU_SANITIZE= \
  "-DKORBU_WINDOWS_TEST_AREAS=$area_list" >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target korbu korbu-scan korbu_bridge korbu_standin_clamav_current \
  korbu_standin_clamav_old windows_engine_probe windows_tests win32app_tests windows_test_holder \
  windows_make_scan_tree "${area_targets[@]}" >/dev/null || { echo "FAIL: the Windows build"; exit 1; }
echo "   built in $(( $(date +%s) - start )) s"

work=$(mktemp -d /tmp/korbu-windows-test.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Names travel between the Linux side and Wine as UTF-8.
export LC_ALL=C.UTF-8
unset DISPLAY
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "== Making a fresh Wine prefix"
timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }
# No Tahoma is copied into the prefix: the window finds Wine's own, as it must for a
# user whose prefix lacks it.

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
skip "not built for Windows: registry, procs, repair (a Wine prefix from the Linux side, /proc), bridge and engine (no ClamAV for Windows here: the engine library is tried with a stand-in below), app (no Qt), robust and scale"

echo "== The desktop window on a virtual display"
shots=$build/screenshots
if ! command -v Xvfb >/dev/null; then
  fail "Xvfb is not installed: the window's tests cannot run"
else
  mkdir -p "$shots"
  rm -f "$shots"/win32-*.bmp "$shots"/win32-*.png
  # Room for the window at 192 DPI (1316 by 908 and its frame).
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  if [ ! -s "$work/display" ]; then
    fail "Xvfb did not start"
  else
    # The prefix's desktop keeps the display its wineserver started with, none for
    # the runs above, and no window could be created on it: a new server starts the
    # desktop on the virtual display.
    timeout 30 wineserver -w >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1
    export DISPLAY=":$(head -1 "$work/display")"
    KORBU_SCREENSHOT_DIR="$(winpath "$shots")" KORBU_WINDOWS_DAMAGE_TESTS=1 run_tests win32app_tests
    # The program itself, as a user starts it: the main window after start-up.
    "$wine" "$build/korbu.exe" >/dev/null 2>&1 &
    korbu_pid=$!
    sleep 8
    if command -v import >/dev/null; then
      import -window root "$shots/win32-korbu-exe.png" 2>/dev/null || fail "no screenshot of korbu.exe"
    fi
    kill "$korbu_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    # Explorer's "Scan with KORBU", registered for this user on request and removed again.
    shell_key='HKCU\Software\Classes\Directory\shell\KORBU\command'
    if timeout 60 "$wine" "$build/korbu.exe" --register-shell >/dev/null 2>&1 &&
      timeout 60 "$wine" reg query "$shell_key" 2>/dev/null | tr -d '\r' | grep -qF '\korbu.exe" "%1"' &&
      timeout 60 "$wine" "$build/korbu.exe" --unregister-shell >/dev/null 2>&1 &&
      ! timeout 60 "$wine" reg query "$shell_key" >/dev/null 2>&1; then
      echo "   korbu.exe --register-shell and --unregister-shell: the Explorer entry added and removed"
    else
      fail "korbu.exe --register-shell / --unregister-shell"
    fi
    # The layout at 192 DPI, which Wine takes from these values when it starts.
    set_dpi() {
      "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
      "$wine" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
      wineserver -k >/dev/null 2>&1
    }
    set_dpi 192
    KORBU_SCREENSHOT_DIR="$(winpath "$shots")" run_tests win32app_tests --gtest_filter='*TheLayoutFollowsTheScreenDpi*'
    set_dpi 96
    for bmp in "$shots"/win32-*.bmp; do
      [ -f "$bmp" ] || continue
      if command -v convert >/dev/null; then convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; fi
    done
    echo "   screenshots: $(cd "$shots" && ls win32-* 2>/dev/null | tr '\n' ' ')"
    unset DISPLAY
  fi
  kill "$xvfb_pid" 2>/dev/null
fi
skip "POSIX-only cases inside the areas (links, FIFOs, fork, mode bits, handwritten prefixes, the engine library) are left out of their Windows builds"

echo "== End-to-end scan: korbu-scan.exe against the Linux korbu-scan"
tree=$work/tree
timeout 120 "$wine" "$build/windows_make_scan_tree.exe" "$(winpath "$tree")" \
  "$(winpath "$build/windows_test_holder.exe")" >/dev/null 2>&1 \
  || fail "making the scan tree"
if [ ! -x "$linux_build/korbu-scan" ]; then
  echo "   (building the Linux korbu-scan in $linux_build)"
  cmake -S "$root" -B "$linux_build" -DKORBU_BUILD_GUI=OFF -DKORBU_BUILD_BENCH=OFF \
    -DKORBU_BUILD_TESTS=OFF -DKORBU_SANITIZE= >/dev/null &&
    cmake --build "$linux_build" -j"$jobs" --target korbu-scan >/dev/null || fail "the Linux build"
fi
# Both without the engine library and without the running programs or Run keys of
# either side: only the own detection of the files differs, if anything does.
opts=(--no-memory --no-registry --no-cache --json)
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
# That scan kept its clean files in %LOCALAPPDATA%\KORBU\cache: the same scan again
# takes them from there.
timeout 300 "$wine" "$build/korbu-scan.exe" --no-memory --no-registry --json "Z:${tree//\//\\}" \
  >"$work/win-again.json" 2>"$work/win-again.err"
python3 - "$work/win-again.json" <<'PY' || { cat "$work/win-again.err"; fail "korbu-scan.exe took nothing from its verdict cache"; }
import json, sys
doc = json.load(open(sys.argv[1], encoding="latin-1"))
print("   rescan: %d of %d files from the verdict cache" % (doc["cache"]["from_cache"], doc["files_scanned"]))
sys.exit(0 if doc["cache"]["used"] and doc["cache"]["from_cache"] > 0 else 1)
PY
[ -n "$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -path '*/AppData/Local/KORBU/cache' -type d)" ] ||
  fail "no verdict cache in %LOCALAPPDATA%\\KORBU\\cache"

echo "== Names outside the ANSI code page and past MAX_PATH: shown, deleted and undone"
names_start=$(date +%s)
names=$tree/names
deep_dir=$names/$'\xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1'
for i in $(seq 0 11); do deep_dir=$deep_dir/folder_with_a_rather_long_name_$i; done
# name: the detection line each of them must print, as the file is named.
name_lines=("$(winpath "$names")\\"$'\xe4\xb8\xad\xe6\x96\x87\xe5\xa4\xb9\\\xe4\xb8\xad\xe6\x96\x87'".exe: Brontok-10 FOUND"
  "$(winpath "$names")\\T"$'\xc3\xb6'"k.exe: Brontok-12 FOUND"
  "$(winpath "$deep_dir")\\deep.exe: Brontok-12B FOUND")
check_lines() {
  local what=$1 file=$2 line
  for line in "${name_lines[@]}"; do
    grep -qF "$line" "$file" || { cat "$file"; fail "$what: no line \"$line\""; }
  done
}
# Written to a file: UTF-8.
tr -d '\r' <"$work/win.txt" >"$work/win.log"
check_lines "redirected output" "$work/win.log"
# On a console (a terminal, which Wine's console hands UTF-16 text to as UTF-8),
# wide enough for the deepest line.
if command -v script >/dev/null; then
  timeout 120 script -qec "stty cols 1000; $wine $build/korbu-scan.exe --no-memory --no-registry $(printf %q "$(winpath "$names")")" \
    /dev/null >"$work/console.txt" 2>&1
  tr -d '\r' <"$work/console.txt" >"$work/console.log"
  check_lines "console output" "$work/console.log"
else
  skip "script (bsdutils) is not installed: the console output is not tried"
fi
cp -r "$names" "$work/names.before"
timeout 120 "$wine" "$build/korbu-scan.exe" --no-memory --no-registry --delete "$(winpath "$names")" \
  >"$work/names-delete.txt" 2>&1
[ -z "$(find "$names" -type f)" ] || { cat "$work/names-delete.txt"; fail "--delete left $(find "$names" -type f)"; }
timeout 120 "$wine" "$build/korbu-scan.exe" --undo last >"$work/names-undo.txt" 2>&1 ||
  { cat "$work/names-undo.txt"; fail "--undo last did not set everything back"; }
diff -r "$work/names.before" "$names" >/dev/null || { cat "$work/names-undo.txt"; fail "--undo did not restore the named files"; }
echo "   shown on a console and in a file, deleted and undone in $(( $(date +%s) - names_start )) s"

echo "== Cleaning: korbu-scan.exe --clean against the Linux korbu-scan --clean"
# The same worm file and Run value, planted twice in this prefix, must be cleaned
# with the same rows and leave the same registry behind on both sides.
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
policy_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\System'
shellnew=$WINEPREFIX/drive_c/windows/ShellNew
clean_start=$(date +%s)
# A file of the tree that the Linux scan named as a table variant.
worm=$(python3 - "$work/linux.json" <<'PY'
import json, re, sys
try:
    doc = json.load(open(sys.argv[1], encoding="latin-1"))
except (OSError, ValueError):
    sys.exit(0)
names = sorted(d["file"] for d in doc.get("detections", []) if re.fullmatch(r"Brontok-\d+", d.get("virus", "")))
if names: print(names[0])
PY
)
wine_reg() { timeout 60 "$wine" reg "$@" >/dev/null 2>&1; }
plant_damage() {
  wine_reg add "$run_key" /v Bron-Spizaetus /d 'C:\windows\ShellNew\sempalong.exe' /f &&
    wine_reg add "$run_key" /v Keep /d 'C:\windows\notepad.exe' /f &&
    wine_reg add "$policy_key" /v DisableTaskMgr /t REG_DWORD /d 1 /f &&
    mkdir -p "$shellnew" && cp "$worm" "$shellnew/sempalong.exe"
}
# Planted once the last program's wineserver has ended: a reg call that meets a
# server on its way out fails, so a failed planting is tried once more.
plant_damage_settled() {
  timeout 30 wineserver -w >/dev/null 2>&1
  plant_damage || { sleep 1; timeout 30 wineserver -w >/dev/null 2>&1; plant_damage; }
}
# What a clean must leave: the worm's value and file gone, the other value kept,
# Task Manager allowed again.
check_cleaned() {
  local side=$1
  wine_reg query "$run_key" /v Bron-Spizaetus && fail "$side: the Bron-Spizaetus Run value is still there"
  wine_reg query "$run_key" /v Keep || fail "$side: the unrelated Run value Keep was removed"
  timeout 60 "$wine" reg query "$policy_key" /v DisableTaskMgr 2>/dev/null | tr -d '\r' |
    grep -qE 'DisableTaskMgr +REG_DWORD +0x0$' || fail "$side: DisableTaskMgr does not read 0x0"
  [ ! -e "$shellnew/sempalong.exe" ] || fail "$side: the worm file is still there"
}
# True while a wineserver holds this prefix's server lock (a fcntl lock in the
# server folder named after the prefix's device and inode).
server_holds_prefix() {
  python3 - "$WINEPREFIX" <<'PY'
import fcntl, os, struct, sys
prefix = sys.argv[1]
st = os.stat(prefix)
sub = "server-%x-%x" % (st.st_dev, st.st_ino)
dirs = ["/tmp/.wine-%d" % os.getuid()]
try:
    name = open(os.path.join(prefix, "wineserver")).read().strip()
    if name: dirs += [os.path.join(os.environ.get("TMPDIR", "/tmp"), name), os.path.join("/tmp", name)]
except OSError:
    pass
for d in dirs:
    try:
        fd = os.open(os.path.join(d, sub, "lock"), os.O_RDONLY)
    except OSError:
        continue
    query = struct.pack("hhqqi", fcntl.F_WRLCK, 0, 0, 0, 0)
    held = struct.unpack("hhqqi", fcntl.fcntl(fd, fcntl.F_GETLK, query))[0] != fcntl.F_UNLCK
    os.close(fd)
    if held: sys.exit(0)
sys.exit(1)
PY
}
if [ -z "$worm" ] || [ ! -f "$worm" ]; then
  fail "the Linux scan of the tree named no table variant to plant"
elif ! plant_damage_settled; then
  fail "planting the worm's file and registry values (Windows side)"
else
  timeout 120 "$wine" "$build/korbu-scan.exe" --no-memory --clean --json 'C:\windows\ShellNew' \
    >"$work/win-clean.json" 2>"$work/win-clean.err"
  win_status=$?
  check_cleaned "korbu-scan.exe"
  if ! plant_damage_settled; then
    fail "planting the worm's file and registry values (Linux side)"
  else
    # The Linux build refuses registry writes while the prefix's wineserver runs.
    timeout 30 wineserver -w >/dev/null 2>&1 || wineserver -k >/dev/null 2>&1
    for _ in $(seq 50); do server_holds_prefix || break; sleep 0.2; done
    if server_holds_prefix; then
      fail "the wineserver of the prefix did not stop"
    else
      linux_scan=$linux_build/korbu-scan
      [ -x "$work/noengine/korbu-scan" ] && linux_scan=$work/noengine/korbu-scan
      XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" timeout 120 "$linux_scan" --no-memory --clean --json "$shellnew" \
        >"$work/linux-clean.json" 2>"$work/linux-clean.err"
      linux_status=$?
      check_cleaned "korbu-scan"
      python3 - "$work/win-clean.json" "$work/linux-clean.json" "$shellnew" <<'PY' || fail "cleaning rows differ"
import json, sys
def load(path, strip):
    try:
        doc = json.load(open(path, encoding="latin-1"))
    except (OSError, ValueError) as e:
        print("   cannot read %s: %s" % (path, e))
        return []
    rows = []
    for d in doc.get("detections", []):
        where = d.get("file", "")
        if not where.upper().startswith("HKEY_"):
            where = where.replace("\\", "/")
            for p in strip:
                if where.lower().startswith(p.lower()): where = where[len(p):]
            where = where.lower()
        rows.append((where, d.get("virus", ""), d.get("information", "")))
    return sorted(rows)
win = load(sys.argv[1], ["C:/windows/ShellNew"])
lin = load(sys.argv[2], [sys.argv[3]])
for side, rows in (("Windows", win), ("Linux", lin)):
    print("   %s: %d row(s)" % (side, len(rows)))
    for r in rows: print("     ", r)
sys.exit(0 if win == lin and win else 1)
PY
      [ "$win_status" = "$linux_status" ] || fail "cleaning exit status: Windows $win_status, Linux $linux_status"
    fi
  fi
fi
echo "   cleaning compared in $(( $(date +%s) - clean_start )) s"

echo "== Memory phase: a running program with a worm's checksum under Wine"
# Started from a folder and a name outside the ANSI code page.
holder=$work/tree.run/$'\xe4\xb8\xad\xe6\x96\x87\xe5\xa4\xb9'/T$'\xc3\xb6'k.exe
"$wine" "$holder" "$(winpath "$work/tree.run/held.dat")" >/dev/null 2>&1 &
sleep 3
mkdir -p "$work/empty"
timeout 300 "$wine" "$build/korbu-scan.exe" --no-registry "$(winpath "$work/empty")" >"$work/mem.txt" 2>&1
if tr -d '\r' <"$work/mem.txt" | grep -qiF "$(winpath "$holder"): Brontok-10 FOUND"; then
  echo "   the running $(basename "$holder") was found"
else
  cat "$work/mem.txt"
  fail "korbu-scan.exe did not find the running forged program"
fi

echo "== Engine library: a stand-in ClamAV libclamav.dll at each place it is looked for"
# korbu-scan.exe with its engine library (libclamav.dll) in a folder of its own;
# the stand-in finds files holding its marker and takes any CVD header as valid.
app=$work/app
# Named outside the ANSI code page: the databases are reached by that name.
engine_db=$work/engine-db-$'\xe4\xb8\xad\xe6\x96\x87'
engine_tree=$work/engine-tree
mkdir -p "$app" "$engine_db" "$engine_tree"
cp "$build/korbu-scan.exe" "$build/libclamav.dll" "$app/"
for name in main.cvd daily.cld; do
  printf 'ClamAV-VDB:09 Dec 2026 10-00 +0000:7:1:90:x:y:z' >"$engine_db/$name"
  truncate -s 600 "$engine_db/$name"
done
echo "text KORBU-STANDIN-ENGINE-MARKER text" >"$engine_tree/marked.txt"
echo "nothing here" >"$engine_tree/clean.txt"
installer_key='HKLM\SOFTWARE\Kitware\CMake\Packages\ClamAV'
program_files="$WINEPREFIX/drive_c/Program Files/ClamAV"
# engine_scan NAME EXPECTED [--database]: one scan; EXPECTED is "found" or a text
# that the output must hold.
engine_scan() {
  local name=$1 expected=$2; shift 2
  timeout 120 "$wine" "$app/korbu-scan.exe" --no-memory --no-registry "$@" "$(winpath "$engine_tree")" \
    >"$work/engine-$name.txt" 2>&1
  tr -d '\r' <"$work/engine-$name.txt" >"$work/engine-$name.log"
  if [ "$expected" = found ]; then
    if grep -q "^DLL loaded.$" "$work/engine-$name.log" && grep -q "^Database loaded.$" "$work/engine-$name.log" &&
      grep -q "marked.txt: Korbu.StandIn.Marker FOUND" "$work/engine-$name.log" &&
      ! grep -q "clean.txt" "$work/engine-$name.log"; then
      echo "   $name: the stand-in engine loaded the databases and found the marked file"
    else
      cat "$work/engine-$name.log"; fail "engine library: $name"
    fi
  elif grep -q "^DLL NOT loaded.$" "$work/engine-$name.log" && grep -qF "$expected" "$work/engine-$name.log"; then
    echo "   $name: \"DLL NOT loaded.\" ($expected)"
  else
    cat "$work/engine-$name.log"; fail "engine library: $name"
  fi
}
engine_scan none "no ClamAV libclamav.dll" --database "$(winpath "$engine_db")"
mkdir -p "$app/clamav"
cp "$build/standin/current/libclamav.dll" "$app/clamav/"
engine_scan beside-program found --database "$(winpath "$engine_db")"
# A descriptor scan: libclamav must get the descriptor's system handle (the
# stand-in fails any descriptor scan, as a descriptor of another runtime would).
cp "$build/windows_engine_probe.exe" "$app/"
probe=$(timeout 120 "$wine" "$app/windows_engine_probe.exe" "$(winpath "$engine_db")" \
  "$(winpath "$engine_tree/marked.txt")" 2>&1 | tr -d '\r')
if [ "$probe" = "1 Korbu.StandIn.Marker open" ]; then
  echo "   descriptor scan: the marked file found through its system handle"
else
  echo "$probe"; fail "engine library: descriptor scan"
fi
cp "$build/standin/old/libclamav.dll" "$app/clamav/"
engine_scan older-than-1.2 "older than 1.2 (functionality level 180)" --database "$(winpath "$engine_db")"
rm -r "$app/clamav"
# An installation folder outside the ANSI code page: ClamAV's library is loaded by it.
installed="Installed ClamAV "$'\xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1'
mkdir -p "$WINEPREFIX/drive_c/$installed"
cp "$build/standin/current/libclamav.dll" "$WINEPREFIX/drive_c/$installed/"
wine_reg add "$installer_key" /v D9F136C1-3691-47E3-9079-4FE9C9010400 /d "C:\\$installed\\" /f ||
  fail "recording the stand-in's installation folder"
engine_scan installer-record found --database "$(winpath "$engine_db")"
wine_reg delete "$installer_key" /f
# %ProgramFiles%\ClamAV, whose database folder serves when no --database is given.
mkdir -p "$program_files/database"
cp "$build/standin/current/libclamav.dll" "$program_files/"
cp "$engine_db"/* "$program_files/database/"
engine_scan program-files found
rm -r "$program_files"

echo "== Done in $(( $(date +%s) - start )) s; $failures failure(s)"
[ "$failures" = 0 ]
