#!/usr/bin/env bash
# Builds the fuzz targets (clang, ASan+UBSan, libFuzzer) and runs each for a bounded
# time over a small seed corpus generated here, two targets at a time. Prints one
# line per target and exits non-zero on any crash, leak, timeout or sanitizer
# report; the report is shown and the input that caused it is kept.
#
#   scripts/fuzz.sh [--build DIR] [seconds-per-target (default 60)] [target ...]
#
# The build folder is DIR, else $FUZZ_BUILD, else build-fuzz in the repository; it
# is configured when it holds no build yet. FUZZ_JOBS sets how many targets run at
# once (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --build=*) build=${1#--build=}; shift ;;
    *) break ;;
  esac
done
seconds=${1:-60}
[ $# -gt 0 ] && shift
case $seconds in '' | *[!0-9]*) echo "fuzz.sh: seconds must be a number, not '$seconds'" >&2; exit 2 ;; esac
all="fuzz_hive_logs fuzz_wine_registry fuzz_wine_value fuzz_wine_reply fuzz_cvd_header fuzz_command_line fuzz_wildcard fuzz_ini_entry fuzz_split_text fuzz_searches fuzz_scan_file fuzz_cli_text"
read -r -a targets <<<"${*:-$all}"
parallel=${FUZZ_JOBS:-2}
mkdir -p "$build"
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Build; the log is shown only when the build fails.
# Configured every time with every option it relies on: a folder left configured
# otherwise must not change what is fuzzed.
if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKORBU_BUILD_FUZZ=ON \
    -DKORBU_BUILD_TESTS=OFF -DKORBU_BUILD_BENCH=OFF -DKORBU_BUILD_GUI=OFF \
    -DKORBU_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log"; echo "fuzz.sh: configuring $build failed" >&2; exit 1
fi
if ! cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log"; echo "fuzz.sh: building the fuzz targets failed" >&2; exit 1
fi

# Seed corpora: a few small, fixed inputs per target.
seed() {  # seed TARGET NAME printf-format...
  local dir=$work/corpus-$1 name=$2
  shift 2
  mkdir -p "$dir"
  # shellcheck disable=SC2059
  printf "$@" >"$dir/$name"
}
reg='WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n'
# Hive logs: flags, bins pages, the two sequence numbers, the bins' pattern, then
# the log bodies; hashes and checksums are sealed by the harness where flags say so.
hvle='HvLE%b\000\000\000\000%b\000\020\000\000%b\000\000\000'
nohash='\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
seed fuzz_hive_logs a "\007\001\002\000\000\000\001\000\000\000\004hbin${hvle}${nohash}%0472d" \
  '\000\002\000\000' '\002\000\000\000' '\000' 0
seed fuzz_hive_logs b "\007\001\002\000\000\000\001\000\000\000\004hbin${hvle}${nohash}\000\000\000\000\000\020\000\000%04560d" \
  '\000\022\000\000' '\002\000\000\000' '\001' 0
seed fuzz_hive_logs c '\012\001\001\000\000\000\001\000\000\000\004hbinDIRT\001%0507d%0512d' 0 0
seed fuzz_hive_logs d "\027\001\002\000\000\000\001\000\000\000\004hbin${hvle}${nohash}%0472d${hvle}${nohash}%0472d" \
  '\000\002\000\000' '\002\000\000\000' '\000' 0 '\000\002\000\000' '\003\000\000\000' '\000' 0
seed fuzz_wine_registry a "${reg}[Software\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\CurrentVersion\\\\\\\\Run] 1700000000\n#time=1d9e\n\"Tray\"=\"C:\\\\\\\\windows\\\\\\\\tray.exe\"\n@=dword:00000001\n\"Bin\"=hex:01,02,\\\\\n  03\n\"Multi\"=str(7):\"a\\\\0b\\\\0\"\n\n[Software\\\\\\\\Other] 1\n\"x\"=\"\\\\x00e9\"\n"
seed fuzz_wine_registry b "${reg}[Software\\\\\\\\Korbu] 1\n"
seed fuzz_wine_value a '"Name"="text with \\"quotes\\" \\x263a"'
seed fuzz_wine_value b '@=hex(2):25,00,41,00,\\\n  00,00'
seed fuzz_wine_value c '"D"=dword:0000ffff'
seed fuzz_wine_reply a '\002\000\002KORBU-REG 1\nOK\nK 2\nV 4200 1 43003a000000\nV - 3 -\nNF\n.\n'
seed fuzz_wine_reply b '\001\001KORBU-REG 1\nS 80000001 52007500 4e00 1 00ff\n.\n'
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
seed fuzz_cli_text a '\025^(.*/)*node_modules/$/home/a/a/node_modules/x'
seed fuzz_cli_text b '\027[[:alpha:]]{2,3}(x|\\.)+C:\\d\\x0A\342\200\256\n'
# Repetitions stacked deep enough to take the C library's regcomp minutes.
seed fuzz_cli_text c '\016^(.**)++++/\274f\377yyyy/x'
# A newline before "^" in the pattern, which the C library reads its own way.
seed fuzz_cli_text d '\006\006\200\012^()+\274+\006\200\012^()+fyyy'

# Findings of this run only: what an earlier run left is cleared.
findings=$build/fuzz-findings
rm -rf "$findings"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_one() {  # run_one TARGET: writes $work/TARGET.result as "executions status"
  local target=$1 log=$work/$1.log found=$findings/$1 status=ok
  mkdir -p "$work/corpus-$target" "$found" "$work/tmp-$target"
  # The outer limit catches a target that hangs where libFuzzer's own -timeout cannot.
  if ! TMPDIR="$work/tmp-$target" timeout --kill-after=10 $((seconds + 120)) \
      "$build/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$found/" "$work/corpus-$target" >"$log" 2>&1; then
    status=FAILED
  fi
  # A sanitizer report fails the run even when the process ended well.
  if grep -qE '^(==[0-9]+==)?ERROR: |runtime error: |^SUMMARY: ' "$log"; then status=FAILED; fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')
  echo "${runs:-0} $status" >"$work/$target.result"
  [ "$status" = ok ] && rm -rf "$found"
  return 0
}

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run_one "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
  read -r runs status <"$work/$target.result"
  printf '%-20s %12s runs  %s\n' "$target" "$runs" "$status"
  [ "$status" = ok ] || failed=1
done
for target in "${targets[@]}"; do
  read -r _ status <"$work/$target.result"
  [ "$status" = ok ] && continue
  echo
  echo "== $target: report (inputs kept in $findings/$target/)"
  grep -vE '^(#[0-9]+|INFO:|MS:|	NEW_FUNC)' "$work/$target.log" | head -n 80
  ls -l "$findings/$target/" 2>/dev/null || true
  echo "Reproduce: $build/$target $findings/$target/<file>"
done
exit $failed
