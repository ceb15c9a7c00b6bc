#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the whole suite under
# AddressSanitizer with UndefinedBehaviorSanitizer (the scale tests aside: they run
# in the optimised build), the threaded tests under ThreadSanitizer, every fuzz
# target for a bounded time, the optimised build's suite, and the Windows build
# under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$top/scripts/install-deps.sh" test
export QT_QPA_PLATFORM=offscreen

configure_and_build() {  # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -DKORBU_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

echo "== sanitized build (address, undefined)"
configure_and_build "$top/build-asan" -DKORBU_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$top/build-asan" -j"$jobs" -LE scale --output-on-failure --timeout 180 --repeat until-pass:2

echo "== threaded tests under ThreadSanitizer"
cmake -S "$top" -B "$top/build-tsan" -DKORBU_BUILD_BENCH=OFF -DKORBU_SANITIZE=thread \
  -DCMAKE_BUILD_TYPE=Debug -DKORBU_BUILD_GUI=OFF >/dev/null
cmake --build "$top/build-tsan" -j"$jobs" --target findfile_tests scan_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$top/build-tsan" -L threaded -j"$jobs" --output-on-failure --timeout 600

echo "== fuzz targets, 45 s each"
bash "$top/scripts/fuzz.sh" 45

echo "== optimised build with the benchmarks, whole suite but the Wine tests (run above)"
cmake -S "$top" -B "$top/build" -DKORBU_BUILD_BENCH=ON >/dev/null
cmake --build "$top/build" -j"$jobs"
ctest --test-dir "$top/build" -j"$jobs" -LE wine --output-on-failure --timeout 600

echo "== Windows build under Wine"
bash "$top/scripts/test-windows.sh"

# The closing summary the CI reads: the whole suite of the optimised build again,
# a quick pass, so the last lines report every test.
ctest --test-dir "$top/build" -j"$jobs" -LE 'wine|scale' --timeout 600 | tail -n 3
