#!/usr/bin/env bash
# walk-vs-read.sh [KORBU_SCAN] [RUNS]: times korbu-scan's walk with the own
# detection against reading every file with cat, on the same tree with a warm page
# cache, and prints the ratio of the medians.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scan=${1:-$top/build/korbu-scan}
runs=${2:-7}
[[ -x "$scan" ]] || { echo "no korbu-scan at $scan" >&2; exit 2; }
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
bash "$top/bench/make-tree.sh" "$tree/t" 20000 102400
export WINEPREFIX=/nonexistent-prefix  # the walk only
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
time_of() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
find "$tree/t" -type f -exec cat {} + >/dev/null  # warm the cache
"$scan" --no-memory --no-registry --no-cache "$tree/t" >/dev/null || true
scan_times=(); read_times=()
for ((i = 0; i < runs; i++)); do
  read_times+=("$(time_of sh -c "find '$tree/t' -type f -exec cat {} + > /dev/null")")
  scan_times+=("$(time_of "$scan" --no-memory --no-registry --no-cache "$tree/t")")
done
scan_med=$(printf '%s\n' "${scan_times[@]}" | median)
read_med=$(printf '%s\n' "${read_times[@]}" | median)
printf 'files: 20000 (up to 100 KiB), runs: %d\n' "$runs"
printf 'median korbu-scan walk: %.3f s\nmedian find+cat read: %.3f s\n' "$scan_med" "$read_med"
printf 'ratio walk/read: %.2f\n' "$(echo "$scan_med / $read_med" | bc -l)"
