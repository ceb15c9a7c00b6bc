#!/usr/bin/env bash
# actions.sh OLD_KORBU_SCAN NEW_KORBU_SCAN [ROWS]: Delete and Clean of ROWS rows
# (default 10000) through korbu-scan --delete / --clean, the same tree generated
# afresh for each run, in a private data folder and an empty private Wine prefix:
#   delete: ROWS copies of the EICAR test file (the shared test databases);
#   clean:  ROWS worm stand-ins (forged variant-table checksums, own detection).
# Prints the seconds of each binary and the ratio old/new. Build the old binary
# from the commit to compare against (e.g. a release build of main).
# KORBU_BENCH_KINDS="delete" measures one kind alone (an old Clean of 10,000 rows
# takes about an hour).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
old=$1; new=$2; rows=${3:-10000}
db=${KORBU_BENCH_DB:-$top/../shared/engine-test-db}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prefix/drive_c/windows/system32" "$work/home"
printf 'WINE REGISTRY Version 2\n' > "$work/prefix/system.reg"
printf 'WINE REGISTRY Version 2\n' > "$work/prefix/user.reg"
export WINEPREFIX=$work/prefix HOME=$work/home

make_tree() {  # KIND
  rm -rf "$work/tree"
  python3 "$top/bench/make-detections.py" "$work/tree" "$rows" "$1" "$top/src/detect/VariantTable.h"
}

run() {  # BINARY KIND -> seconds
  local binary=$1 kind=$2 args
  make_tree "$kind"
  rm -rf "$work/data"; export XDG_DATA_HOME=$work/data
  if [[ $kind == delete ]]; then args=(--database "$db" --delete); else args=(--no-engine --clean); fi
  local start end
  start=$(date +%s.%N)
  "$binary" --no-memory --no-registry "${args[@]}" "$work/tree" > "$work/out.txt" 2>&1 || true
  end=$(date +%s.%N)
  local left; left=$(find "$work/tree" -type f | wc -l)
  [[ $left -eq 0 ]] || { echo "$binary $kind left $left files" >&2; exit 2; }
  echo "$end - $start" | bc
}

echo "| action | rows | old s | new s | old/new |"
echo "|---|---|---|---|---|"
for kind in ${KORBU_BENCH_KINDS:-delete clean}; do
  o=$(run "$old" "$kind"); n=$(run "$new" "$kind")
  printf '| %s | %s | %.1f | %.1f | %.1f |\n' "$kind" "$rows" "$o" "$n" "$(echo "$o / $n" | bc -l)"
done
