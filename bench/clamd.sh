#!/usr/bin/env bash
# clamd.sh BUILD [FILES]: korbu-scan through a clamd of its own against its own
# engine, over a database of the test databases plus KORBU_BENCH_HDB hash and
# KORBU_BENCH_NDB body signatures (default 1,000,000 and 500,000) and a tree of
# FILES files (default 20,000; make-tree.sh). BUILD is an optimised build
# (korbu-scan and its engine library). KORBU_BENCH_RUNS runs of each (default 3).
set -euo pipefail
build=$(cd "$1" && pwd)
files=${2:-20000}
here=$(cd "$(dirname "$0")" && pwd)
shared=${KORBU_BENCH_DB:-$here/../../shared/engine-test-db}
for tool in clamd clamdscan; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "SKIP: $tool is not installed"; exit 0; }
done
[ -f "$shared/main.cvd" ] || { echo "SKIP: no test databases in $shared"; exit 0; }
export PATH=$PATH:/usr/sbin
work=$(mktemp -d /tmp/korbu-clamd-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
bash "$here/make-tree.sh" "$work/tree" "$files"
cd "$here"
python3 clamd_bench.py --build "$build" --work "$work" --tree "$work/tree" --shared "$shared" \
  --hdb "${KORBU_BENCH_HDB:-1000000}" --ndb "${KORBU_BENCH_NDB:-500000}" --runs "${KORBU_BENCH_RUNS:-3}"
