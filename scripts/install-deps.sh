#!/usr/bin/env bash
# Installs the Debian packages the project needs, asking apt-get only for those
# that are missing. Usage: install-deps.sh run|test
# "run" also installs ClamAV's database updater and, when the system's database
# folder is empty, fetches the signature databases once; without a network both
# are skipped with a warning and the program runs on its own detection.
set -euo pipefail

# g++-mingw-w64-x86-64 cross-builds korbu-winereg.exe, through which the program
# reaches a Wine prefix's registry while its wineserver runs.
# clamav-daemon (clamd, clamonacc) is what bench/guard.sh measures korbu-guard against.
run_packages=(cmake g++ make pkg-config zlib1g-dev nlohmann-json3-dev nettle-dev
  libjpeg62-turbo-dev libdeflate-dev libhivex-dev qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wine libclamav12 g++-mingw-w64-x86-64)
database_packages=(clamav-freshclam)
test_packages=("${run_packages[@]}" libclamav-dev clamav clamav-daemon clamav-testfiles clang libclang-rt-14-dev
  wine wine64 xvfb xauth g++-mingw-w64-x86-64 fonts-dejavu-core imagemagick time bc
  libhivex-bin libwin-hivex-perl ntfs-3g attr e2fsprogs mount util-linux ccache xz-utils)

case "${1:-test}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
updated=

missing_of() {
  local package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$package"
  done
}

install() {
  echo "Installing: $*"
  if [[ -z "$updated" ]]; then
    $SUDO apt-get update -qq || true  # offline: what the package cache holds may do
    updated=1
  fi
  $SUDO apt-get install -y -qq --no-install-recommends "$@"
}

mapfile -t missing < <(missing_of "${wanted[@]}")
[[ ${#missing[@]} -eq 0 ]] || install "${missing[@]}"
[[ "${1:-test}" == run ]] || exit 0

# The signature databases: not needed to build or run, so no failure stops here.
mapfile -t missing < <(missing_of "${database_packages[@]}")
if [[ ${#missing[@]} -gt 0 ]] && ! install "${missing[@]}"; then
  echo "warning: ${missing[*]} could not be installed (no network?); no signature databases" >&2
fi
folder=/var/lib/clamav
# freshclam alone takes most of a minute to give up offline: ask the name server first.
if command -v freshclam >/dev/null && [[ -d $folder ]] &&
  ! compgen -G "$folder/main.c[vl]d" >/dev/null; then
  if timeout 10 getent hosts database.clamav.net >/dev/null; then
    echo "Fetching the signature databases with freshclam"
    $SUDO timeout 300 freshclam --quiet ||
      echo "warning: freshclam could not fetch the databases; the engine stays off" >&2
  else
    echo "warning: no network: no signature databases in $folder; the engine stays off" >&2
  fi
fi
exit 0
