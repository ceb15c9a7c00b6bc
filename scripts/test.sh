#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the whole suite under
# AddressSanitizer with UndefinedBehaviorSanitizer (the scale tests aside: they run
# in the optimised build), the threaded tests under ThreadSanitizer, every fuzz
# target for a bounded time, the Windows build under Wine, and last the optimised
# build's scale tests. Each build compiles only what its stage runs: the benchmarks
# are compiled once, in the sanitized build, so that they keep building.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$top/scripts/install-deps.sh" test
export QT_QPA_PLATFORM=offscreen
# Every build of a run goes through ccache: paths inside the clone are made relative,
# so a later run in another clone of the same machine reuses what an earlier one
# compiled. A fresh machine simply compiles everything.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
fi

# Every stage names each option it relies on, so a folder configured earlier with
# other values (by run.sh, by hand) cannot change what a stage builds or runs.
configure() {  # folder, cmake arguments...
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -DKORBU_BUILD_TESTS=ON -DKORBU_BUILD_FUZZ=OFF "$@" >/dev/null
}
# A stage that finds no test fails; no failing test is retried (a flaky test is a
# defect to mend, not to hide).
run_ctest() { ctest --no-tests=error --no-label-summary "$@"; }
# Each stage line tells the minutes spent so far, to keep the whole run short.
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "sanitized build (address, undefined)"
configure "$top/build-asan" -DKORBU_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug \
  -DKORBU_BUILD_GUI=ON -DKORBU_BUILD_BENCH=ON
cmake --build "$top/build-asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest --test-dir "$top/build-asan" -j"$jobs" -LE scale --output-on-failure --timeout 180

stage "threaded tests under ThreadSanitizer"
configure "$top/build-tsan" -DKORBU_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug \
  -DKORBU_BUILD_GUI=OFF -DKORBU_BUILD_BENCH=OFF
cmake --build "$top/build-tsan" -j"$jobs" --target findfile_tests scan_tests ui_tests clamd_tests \
  guard_parts_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_ctest --test-dir "$top/build-tsan" -L threaded -j"$jobs" --output-on-failure --timeout 600

stage "fuzz targets, 15 s each"
bash "$top/scripts/fuzz.sh" 15

# The optimised build serves the parity check, the comparison with the Windows
# build and the scale tests; the rest of the suite ran under the sanitizers.
stage "optimised build of korbu-scan, its engine library and the scale tests"
configure "$top/build" -DKORBU_SANITIZE= -DCMAKE_BUILD_TYPE=Release \
  -DKORBU_BUILD_GUI=OFF -DKORBU_BUILD_BENCH=OFF
cmake --build "$top/build" -j"$jobs" --target korbu-scan korbu_bridge scale_tests

stage "parity of korbu-scan and clamscan over ClamAV's test files and crafted archives"
python3 "$top/scripts/parity.py" "$top/build/korbu-scan"

stage "parity of korbu-scan with its own engine and through a clamd of its own"
python3 "$top/scripts/parity.py" --clamd "$top/build/korbu-scan"

stage "Windows build under Wine"
KORBU_LINUX_BUILD="$top/build" bash "$top/scripts/test-windows.sh"

# Last, so that ctest's own closing lines end the output. The rest of the suite
# ran above under the sanitizers; the scale tests need the optimised build.
stage "optimised build: the scale tests"
run_ctest --test-dir "$top/build" -j"$jobs" -L scale --output-on-failure --timeout 600
