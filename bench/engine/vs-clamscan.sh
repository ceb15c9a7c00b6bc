#!/bin/sh
# Times the engine component (engine-scan-driver, the engine as korbu starts it)
# against clamscan on the same generated tree and the same databases, and prints
# the medians and their ratio.
#   vs-clamscan.sh BUILD_DIR [DATABASE_DIR] [FILES] [RUNS]
set -eu
build=${1:?usage: vs-clamscan.sh BUILD_DIR [DATABASE_DIR] [FILES] [RUNS]}
here=$(cd "$(dirname "$0")" && pwd)
db=${2:-$here/../../../shared/engine-test-db}
files=${3:-2000}
runs=${4:-5}
driver=$build/engine-scan-driver
[ -x "$driver" ] || { echo "build the target engine-scan-driver first" >&2; exit 2; }
command -v clamscan >/dev/null || { echo "clamscan is not installed" >&2; exit 2; }
[ -f "$db/main.cvd" ] || { echo "no databases in $db" >&2; exit 2; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
# A reproducible tree: files of 1 to 100 KiB of pseudo-random bytes in 20
# folders, a few of them starting like executables, and some test viruses.
awk -v n="$files" -v dir="$tree" 'BEGIN {
  srand(42);
  for (i = 0; i < n; i++) {
    d = dir "/d" (i % 20); if (i < 20) system("mkdir -p " d);
    f = d "/f" i ".bin"; size = 1024 + int(rand() * 100 * 1024);
    printf "%s %d %d\n", f, size, (i % 10 == 0) }
}' | while read -r f size mz; do
  if [ "$mz" = 1 ]; then printf 'MZ' >"$f"; else : >"$f"; fi
  head -c "$size" /dev/urandom >>"$f"
done
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$tree/d0/eicar.com"
for f in clam.exe clam.zip; do
  [ -f /usr/share/clamav-testfiles/$f ] && cp /usr/share/clamav-testfiles/$f "$tree/d1/"
done

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
timed() {
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(now); "$@" >"$tree.out" 2>/dev/null || true; end=$(now)
    echo "$end - $start" | bc
    i=$((i + 1))
  done
}

# clamscan set up as the engine is (bench/clamscan_setup.py holds the options).
set -- $(python3 "$here/../clamscan_setup.py")
korbu=$(timed "$driver" --database "$db" --archive "$tree" | median)
korbu_found=$(grep -c FOUND "$tree.out" || true)
clam=$(timed clamscan -r --no-summary --infected --database="$db" "$@" "$tree" | median)
clam_found=$(grep -c FOUND "$tree.out" || true)
rm -f "$tree.out"

echo "files: $(find "$tree" -type f | wc -l), runs: $runs"
echo "engine-scan-driver median: ${korbu}s (detections: $korbu_found)"
echo "clamscan median:           ${clam}s (detections: $clam_found)"
echo "ratio (driver / clamscan): $(echo "scale=3; $korbu / $clam" | bc)"
