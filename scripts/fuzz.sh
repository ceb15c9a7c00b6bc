#!/bin/sh
# Builds the fuzz targets in build-fuzz (clang, ASan+UBSan, libFuzzer) and runs each
# for a bounded time over a seed corpus generated here. Fails on any crash, leak or
# sanitizer report.
#   scripts/fuzz.sh [seconds-per-target (default 60)] [target ...]
set -eu
seconds=${1:-60}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
targets=${*:-"fuzz_wine_registry fuzz_wine_value fuzz_cvd_header fuzz_command_line fuzz_wildcard fuzz_ini_entry fuzz_split_text fuzz_searches fuzz_scan_file"}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKORBU_BUILD_FUZZ=ON \
    -DKORBU_BUILD_TESTS=OFF -DKORBU_BUILD_BENCH=OFF -DKORBU_BUILD_GUI=OFF \
    -DKORBU_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1" >/dev/null
fi
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"

seed() {  # seed TARGET NAME printf-format...
  dir=$work/corpus-$1; name=$2; shift 2
  mkdir -p "$dir"
  # shellcheck disable=SC2059
  printf "$@" >"$dir/$name"
}
reg='WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n'
seed fuzz_wine_registry a "${reg}[Software\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\CurrentVersion\\\\\\\\Run] 1700000000\n#time=1d9e\n\"Tray\"=\"C:\\\\\\\\windows\\\\\\\\tray.exe\"\n@=dword:00000001\n\"Bin\"=hex:01,02,\\\\\n  03\n\"Multi\"=str(7):\"a\\\\0b\\\\0\"\n\n[Software\\\\\\\\Other] 1\n\"x\"=\"\\\\x00e9\"\n"
seed fuzz_wine_registry b "${reg}[Software\\\\\\\\Korbu] 1\n"
seed fuzz_wine_value a '"Name"="text with \\"quotes\\" \\x263a"'
seed fuzz_wine_value b '@=hex(2):25,00,41,00,\\\n  00,00'
seed fuzz_wine_value c '"D"=dword:0000ffff'
seed fuzz_cvd_header a 'ClamAV-VDB:22 Jun 2021 10-10 +0000:62:8:90:hash:sig:builder:1624352400'
seed fuzz_cvd_header b 'ClamAV-VDB::::'
seed fuzz_command_line a '\002ab"C:\\Program Files\\App\\app.exe" /run'
seed fuzz_command_line b '\001 rundll32.exe shell32.dll,Control_RunDLL'
seed fuzz_wildcard a '\005*.exeprogram.exe'
seed fuzz_wildcard b '\006a?c*.*abcdef'
seed fuzz_ini_entry a '\004boot\005shell\014explorer.exe[boot]\r\nshell=Brontok.exe\r\n'
seed fuzz_ini_entry b '\007Windows\004load\000; comment\n[windows]\nrun=\n'
seed fuzz_split_text a ';a;;b;c;;'
seed fuzz_split_text b ',1234567,89'
seed fuzz_searches a '\003\004BronThis file holds brontok and BRONTOK twice'
seed fuzz_searches b '\000\002abab\000ab'
seed fuzz_scan_file a 'MZ\220\000\003\000\000\000\004\000\000\000\377\377\000\000'
seed fuzz_scan_file b 'not an executable'

status=0
for target in $targets; do
  mkdir -p "$work/corpus-$target" "$work/found-$target"
  printf '%s: ' "$target"
  if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/found-$target/" "$work/corpus-$target" \
      >"$work/$target.log" 2>&1; then
    grep -E '^#[0-9]+.*DONE' "$work/$target.log" | tail -1 || echo done
  else
    status=1
    echo FAILED
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$work/$target.log" | head -5
    mkdir -p "$root/build-fuzz/artifacts"
    cp -r "$work/found-$target" "$root/build-fuzz/artifacts/" 2>/dev/null || true
  fi
done
exit $status
