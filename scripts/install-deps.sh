#!/usr/bin/env bash
# Installs the Debian packages the project needs, asking apt-get only for those
# that are missing. Usage: install-deps.sh run|test
set -euo pipefail

run_packages=(cmake g++ make pkg-config zlib1g-dev nlohmann-json3-dev libclamav-dev
  libjpeg62-turbo-dev libdeflate-dev qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wine)
test_packages=("${run_packages[@]}" clamav clamav-testfiles clang libclang-rt-14-dev
  wine wine64 xvfb xauth g++-mingw-w64-x86-64 fonts-dejavu-core time bc)

case "${1:-test}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
