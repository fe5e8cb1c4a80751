#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing when all of it is there.
# Usage: tools/setup.sh [linux|windows|all]   (default: linux)
set -euo pipefail

what=${1:-linux}
linux_packages=(build-essential cmake pkg-config
  liblua5.1-0-dev lua-filesystem-dev libexpat1-dev
  libgtest-dev libbenchmark-dev)
windows_packages=(mingw-w64 wine64 dpkg-dev)

wanted=()
case "$what" in
  linux) wanted=("${linux_packages[@]}") ;;
  windows) wanted=("${windows_packages[@]}") ;;
  all) wanted=("${linux_packages[@]}" "${windows_packages[@]}") ;;
  *) echo "usage: $0 [linux|windows|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
