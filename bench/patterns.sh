#!/usr/bin/env bash
# patterns.sh [BUILD]: what a pathological exclusion pattern costs korbu-scan against
# a plain one, as the ratio of the medians of the whole scan (own detection only).
# The tree holds the cases that made a backtracking matcher take minutes: a chain of
# 22 folders named "a", and files at the end of a path of about 3,900 bytes. Neither
# kind of pattern matches anything, so each is tried on every path to its end.
#   plain:        --exclude-dir 'node_modules/$'        --exclude '#$'
#   pathological: --exclude-dir '^(.*/)*node_modules/$' --exclude '(.*)*#'
# BUILD (default build-rel) must hold korbu-scan; its build type is printed, since a
# sanitizer build is slower on both sides alike. KORBU_BENCH_RUNS: timed runs per
# side (default 5), alternating the two sides after one warm-up run of each;
# KORBU_BENCH_FILES: files in the tree, half at each end (default 1000).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-rel}
runs=${KORBU_BENCH_RUNS:-5}
files=${KORBU_BENCH_FILES:-1000}
exe=$build/korbu-scan
[[ -x "$exe" ]] || { echo "patterns.sh: no korbu-scan in $build (cmake --build $build --target korbu-scan)" >&2; exit 2; }
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/db" "$work/tree"
chain=$work/tree/chain
for _ in $(seq 22); do chain=$chain/a; done
long=$work/tree/long
for i in $(seq 15); do long=$long/$(printf "%0250d" "$i"); done
mkdir -p "$chain" "$long"
for folder in "$chain" "$long"; do
  for i in $(seq $((files / 2))); do echo "file $i" >"$folder/f$i.txt"; done
done

now() { date +%s%N; }
run() {  # prints the seconds one scan took
  local start end
  start=$(now)
  WINEPREFIX=/nonexistent "$exe" --no-memory --no-registry --quiet --no-summary -d "$work/db" "$@" "$work/tree" \
    >/dev/null 2>&1 || { echo "patterns.sh: korbu-scan failed" >&2; exit 2; }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", (b - a) / 1e9 }'
}
plain=(--exclude-dir 'node_modules/$' --exclude '#$')
patho=(--exclude-dir '^(.*/)*node_modules/$' --exclude '(.*)*#')
run "${plain[@]}" >/dev/null
run "${patho[@]}" >/dev/null
plainTimes=() pathoTimes=()
for _ in $(seq "$runs"); do
  plainTimes+=("$(run "${plain[@]}")")
  pathoTimes+=("$(run "${patho[@]}")")
done
median() { printf "%s\n" "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
p=$(median "${plainTimes[@]}")
q=$(median "${pathoTimes[@]}")
echo "korbu-scan (${type:-unknown} build), $((files / 2 * 2)) files, longest path $(( ${#long} + 9 )) bytes, $runs runs each:"
echo "| patterns | median scan time |"
echo "|---|---:|"
echo "| plain | $p s |"
echo "| pathological | $q s |"
awk -v p="$p" -v q="$q" 'BEGIN { printf "ratio pathological / plain: %.2f\n", q / p }'
