#!/usr/bin/env bash
# Cross-builds everything for 64-bit Windows with MinGW-w64 and runs every test
# program under Wine, headless.
# Usage: tools/test-windows.sh [build-dir] [extra cmake arguments...]   (default: build-win64)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win64}
shift || true
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillharbor
deps=${QUILLHARBOR_WIN64_DEPS:-$cache/win64-deps}

tools/setup.sh windows
tools/build-windows-deps.sh "$deps"

# Wine without a display, quiet, in a prefix of its own that later runs reuse.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "test-windows: no Wine found" >&2; exit 1; }
export WINEPREFIX=${QUILLHARBOR_WINEPREFIX:-$cache/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# One Wine server for the prefix's creation and every test program, instead of
# a start-up of its own for each; ended on the way out if this run started it.
# One that is running already serves as well.
wineserver=$(command -v wineserver || ls "$(dirname "$wine")"/wineserver64 "$(dirname "$wine")"/wineserver 2>/dev/null | head -1)
if [ -n "$wineserver" ] && "$wineserver" -p 2>/dev/null; then
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
fi
[ -f "$WINEPREFIX/system.reg" ] || echo "test-windows: creating the Wine prefix $WINEPREFIX"
# Starts Wine's own background services now, away from ctest: started by the
# first test instead, they would inherit its output and keep ctest waiting for
# as long as the server lives.
"$wine" wineboot --init </dev/null >/dev/null 2>&1 || true

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLHARBOR_BENCH=OFF \
  -DQUILLHARBOR_WIN64_DEPS="$deps" -DQUILLHARBOR_WINE="$wine" "$@" >/dev/null
cmake --build "$build" -j2

# What a Windows server must not be asked for: the MinGW runtime DLLs.
bad=0
for binary in "$build"/bin/*.exe "$build"/bin/*.dll; do
  [ -e "$binary" ] || continue
  if x86_64-w64-mingw32-objdump -p "$binary" |
    grep -iE 'DLL Name: (libstdc\+\+-6|libgcc_s_seh-1|libwinpthread-1)\.dll'; then
    echo "test-windows: $binary needs a MinGW runtime DLL" >&2
    bad=1
  fi
done
[ "$bad" -eq 0 ]

# A hung test program fails the run instead of holding it.
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 600 -j2
