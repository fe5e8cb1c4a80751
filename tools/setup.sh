#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing when all of it is there.
# Usage: tools/setup.sh [linux|windows|fuzz|all]   (default: linux)
set -euo pipefail

what=${1:-linux}
linux_packages=(build-essential cmake pkg-config zlib1g-dev
  liblua5.1-0-dev lua-filesystem-dev libexpat1-dev
  libgtest-dev libbenchmark-dev
  lua-socket rsyslog)
windows_packages=(mingw-w64 wine64 dpkg-dev)
# clang with its sanitizer and fuzzer runtimes, for tools/fuzz.sh
fuzz_packages=(clang libclang-rt-14-dev)

wanted=()
case "$what" in
  linux) wanted=("${linux_packages[@]}") ;;
  windows) wanted=("${windows_packages[@]}") ;;
  fuzz) wanted=("${linux_packages[@]}" "${fuzz_packages[@]}") ;;
  all) wanted=("${linux_packages[@]}" "${windows_packages[@]}" "${fuzz_packages[@]}") ;;
  *) echo "usage: $0 [linux|windows|fuzz|all]" >&2; exit 2 ;;
esac

# The Windows build compiles the distribution's own Lua, LuaFileSystem and Expat
# sources (tools/build-windows-deps.sh), so apt needs the source index.
need_update=0
src_list=/etc/apt/sources.list.d/quillharbor-src.sources
src_text="Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
if [ "$what" = windows -o "$what" = all ] && [ "$(cat "$src_list" 2>/dev/null)" != "$src_text" ] &&
  ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list \
    $(ls /etc/apt/sources.list.d/* 2>/dev/null | grep -v "^$src_list\$"); then
  echo "setup: adding the bookworm source index"
  if [ "$(id -u)" -eq 0 ]; then
    printf '%s\n' "$src_text" >"$src_list"
  else
    printf '%s\n' "$src_text" | sudo tee "$src_list" >/dev/null
  fi
  need_update=1
fi

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
