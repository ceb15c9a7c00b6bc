#!/usr/bin/env bash
# guard.sh [BUILD]: korbu-guard's costs against no guard and against clamonacc
# with clamd (OnAccessPrevention yes), each on the same tmpfs tree of the
# script's own in a private mount namespace, as ratios of one run (Markdown):
#   - the time an open and an execution of a file seen before take (median, p99);
#   - the first run of a new 1 MB program;
#   - unpacking a 20,000-file tree into the watched folder;
#   - the time from closing EICAR to its report;
#   - CPU while idle.
# BUILD (default build-rel) must hold an optimised korbu-guard; it is built there
# when missing. Needs root, unshare, tar, clamd and clamonacc (clamav-daemon).
# Environment: KORBU_BENCH_FILES (files unpacked, default 20000), KORBU_BENCH_DB
# (databases for both, default the shared test databases), KORBU_GUARD_ARGS
# (options added to korbu-guard's, e.g. --no-spin).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-rel}
[[ $(id -u) == 0 ]] || { echo "guard.sh: run it as root (fanotify)" >&2; exit 2; }
for tool in unshare tar clamd clamonacc; do
  command -v "$tool" >/dev/null || { echo "guard.sh: $tool is missing" >&2; exit 2; }
done
if [[ ! -x "$build/korbu-guard" ]]; then
  echo "building korbu-guard (Release) in $build" >&2
  [[ -f "$build/CMakeCache.txt" ]] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORBU_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target korbu-guard >/dev/null
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$type" in
  Release | RelWithDebInfo | MinSizeRel) ;;
  *) echo "guard.sh: $build is a '$type' build; measure an optimised one" >&2; exit 2 ;;
esac
database=${KORBU_BENCH_DB:-$top/../shared/engine-test-db}
[[ -f "$database/main.cvd" ]] || { echo "guard.sh: no main.cvd in $database" >&2; exit 2; }
uptime >&2
exec unshare -m --propagation private python3 "$top/bench/guard_bench.py" \
  "$(cd "$build" && pwd)/korbu-guard" "$(cd "$database" && pwd)" "${KORBU_BENCH_FILES:-20000}"
