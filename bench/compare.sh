#!/usr/bin/env bash
# compare.sh [BUILD]: korbu's speed and memory against reference tools, as ratios of
# medians from one run, printed as a Markdown table:
#   - CRC-32: the own implementation against zlib and a bytewise table (crc_bench);
#   - the walk with the own detection (korbu-scan, no engine) against cat of every file;
#   - the scan with the engine against clamscan -r with the same databases, set up
#     as korbu's engine is and with clamscan's own defaults, and against
#     clamdscan --multiscan over a clamd of its own (when clamd is installed);
#   - the peak resident memory of each of those commands;
#   - the verdict cache: a rescan of the unchanged tree against the first scan, and a
#     rescan after a database update against a full scan (bench/cache_bench.py).
# BUILD (default build-rel) is configured as an optimised build with the benchmarks
# and built when korbu-scan, the engine library or crc_bench is missing there.
# Environment: KORBU_BENCH_FILES (generated files, default 20000), KORBU_BENCH_RUNS
# (timed runs per command, default 5), KORBU_BENCH_DB (database folder, default the
# shared test databases, else the system's ClamAV folder when it holds main.cvd),
# KORBU_BENCH_SYNTHETIC (random signatures added to a copy of the databases for the
# cache's rows, default 100,000), KORBU_BENCH_TMPDIR (the folder where every scanner
# measured makes its temporary files, as TMPDIR; default the machine's own).
# Exit status: 0 done, 1 the two scanners disagree on the detections, 2 error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-rel}
files=${KORBU_BENCH_FILES:-20000}
runs=${KORBU_BENCH_RUNS:-5}

# An existing build of another kind is refused, never reconfigured: the folder may
# be someone's debug or sanitizer build, and its figures would mean nothing.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [[ -f "$build/CMakeCache.txt" ]]; then
  type=$(cache_value CMAKE_BUILD_TYPE)
  case "$type" in
    Release | RelWithDebInfo | MinSizeRel) ;;
    *) echo "compare.sh: $build is a '$type' build; measure an optimised one" >&2; exit 2 ;;
  esac
  sanitize=$(cache_value KORBU_SANITIZE)
  [[ -z "$sanitize" ]] || { echo "compare.sh: $build is built with sanitizers ($sanitize)" >&2; exit 2; }
fi
needed=(korbu-scan libkorbu-clamav.so crc_bench)
missing=0
for target in "${needed[@]}"; do [[ -e "$build/$target" ]] || missing=1; done
if ((missing)); then
  echo "building korbu-scan and crc_bench (Release) in $build" >&2
  if [[ -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$top" -B "$build" -DKORBU_BUILD_BENCH=ON >/dev/null
  else
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORBU_BUILD_BENCH=ON -DKORBU_BUILD_GUI=OFF >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" --target korbu-scan crc_bench >/dev/null
fi
build=$(cd "$build" && pwd)
type=$(cache_value CMAKE_BUILD_TYPE)

database=${KORBU_BENCH_DB:-}
if [[ -z "$database" ]]; then
  for candidate in "$top/../shared/engine-test-db" /var/lib/clamav; do
    if [[ -f "$candidate/main.cvd" ]]; then database=$(cd "$candidate" && pwd); break; fi
  done
fi
[[ -z "$database" || -f "$database/main.cvd" ]] || { echo "compare.sh: no main.cvd in $database" >&2; exit 2; }
command -v clamscan >/dev/null || echo "clamscan is not installed: the engine comparison is left out" >&2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Set after the work folder is made, so that only the scanners' files go there.
if [[ -n "${KORBU_BENCH_TMPDIR:-}" ]]; then export TMPDIR=$KORBU_BENCH_TMPDIR; fi
bash "$top/bench/make-tree.sh" "$work/tree" "$files" 102400
read -r variants engine_files < <(python3 "$top/bench/add-detections.py" "$work/tree/hits" \
  "$top/src/detect/VariantTable.h")

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
  "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1); build: $build ($type);" \
  "scanners' temporary files: ${TMPDIR:-/tmp} ($(stat -f -c %T "${TMPDIR:-/tmp}"))"
python3 "$top/bench/compare.py" --build "$build" --tree "$work/tree" --work "$work" --runs "$runs" \
  ${database:+--database "$database"} --variants "$variants" --engine-files "$engine_files"
