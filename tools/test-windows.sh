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

# The module's export table: the three entry points and the outlet hook, under
# their plain names.
module=$build/bin/quillharbor.dll
exports=$(x86_64-w64-mingw32-objdump -p "$module" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p')
for name in GetFilterVersion HttpFilterProc TerminateFilter quillharbor_set_outlets; do
  grep -qE "\] $name\$" <<<"$exports" ||
    { echo "test-windows: $module does not export $name" >&2; exit 1; }
done
# lua51.dll is delay-loaded: the module loads it from beside itself, where IIS
# would not look for a static import (it searches w3wp.exe's directory).
if x86_64-w64-mingw32-objdump -p "$module" | grep -qi 'DLL Name: lua51\.dll'; then
  echo "test-windows: $module imports lua51.dll statically" >&2
  exit 1
fi

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

# No emulated thread-locals of the module's own: MinGW allocates each on a
# thread's first use and aborts the process when that fails. The C++ run
# time's exception state (eh_globals' get_global) is libstdc++'s, not ours;
# README says when it allocates.
emulated=$(x86_64-w64-mingw32-nm "$module" | sed -n 's/.*__emutls_v\.//p' |
  grep -vxE '_ZZN12_GLOBAL__N_110get_globalEvE6global' || true)
if [ -n "$emulated" ]; then
  echo "test-windows: $module has emulated thread-locals of its own:" $emulated >&2
  exit 1
fi

# A hung test program fails the run instead of holding it. Wine's own loader
# now and then trips an assertion as a program exits ("_dl_fini"), after all
# of its tests passed: a failed test program gets one more run, so that a
# real failure still fails twice.
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 600 -j2 --repeat until-pass:2

# End to end, laid out as on a server: the installed folder (module, lua51.dll,
# settings file, examples) in one place and the host program alone in another,
# as w3wp.exe lies in inetsrv, so that lua51.dll is found only beside the
# module. The sample log goes through the jsonl example here and on Linux, and
# the two files must be equal but for what legitimately differs: the "logged"
# field (the replay's own clock) and the line ends (Lua's io writes text files,
# CRLF on Windows). One request thread keeps the records in log order.
echo "== End to end: the sample log through examples/jsonl under Wine and on Linux"
linux=${QUILLHARBOR_LINUX_BUILD:-build-win-linux}
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLHARBOR_TESTS=OFF -DQUILLHARBOR_BENCH=OFF >/dev/null
fi
cmake --build "$linux" -j2 --target quillharbor quillharbor-replay quillharbor-sample-log >/dev/null
linux=$(cd "$linux" && pwd)
scratch=$(cd "$build" && pwd)/end-to-end
rm -rf "$scratch"
mkdir -p "$scratch"/{host,linux,windows,bare}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

"$linux/host/quillharbor-sample-log" --lines 20000 --seed 1 "$scratch/u_ex261207.log"
cmake --install "$build" --prefix "$scratch/filter" >/dev/null
cp "$build/bin/quillharbor-replay.exe" "$scratch/host/"
cat >"$scratch/filter/quillharbor.setting" <<EOF
<setting>
  <queue process_interval="0"/>
  <script path="$(winpath "$scratch/filter/examples/jsonl/jsonl.lua")" pool_size="5"/>
</setting>
EOF
replay_options=(--threads 1 --quiet --no-progress)
(cd "$scratch/linux" && "$linux/host/quillharbor-replay" "${replay_options[@]}" \
  --script "$scratch/filter/examples/jsonl/jsonl.lua" "$scratch/u_ex261207.log" 2>replay.err) ||
  { cat "$scratch/linux/replay.err" >&2; exit 1; }
(cd "$scratch/windows" && "$wine" ../host/quillharbor-replay.exe "${replay_options[@]}" \
  --module "$(winpath "$scratch/filter/quillharbor.dll")" "$(winpath "$scratch/u_ex261207.log")" \
  2>replay.err) || { cat "$scratch/windows/replay.err" >&2; exit 1; }
comparable() { tr -d '\r' <"$1" | sed -E 's/,"logged":"[^"]*"//'; }
comparable "$scratch"/linux/requests.*.jsonl >"$scratch/linux.jsonl"
comparable "$scratch"/windows/requests.*.jsonl >"$scratch/windows.jsonl"
lines=$(wc -l <"$scratch/linux.jsonl")
[ "$lines" -gt 0 ] || { echo "test-windows: the Linux replay wrote nothing" >&2; exit 1; }
if ! cmp -s "$scratch/linux.jsonl" "$scratch/windows.jsonl"; then
  echo "test-windows: the replay under Wine wrote other lines than on Linux:" >&2
  diff "$scratch/linux.jsonl" "$scratch/windows.jsonl" | head -20 >&2
  exit 1
fi
echo "test-windows: $lines requests, the same lines under Wine as on Linux"

# The examples that write files under Wine: the same bytes as on Linux, and one
# whole file per process when two run at once.
echo "== End to end: examples/jsonl, slow_requests and summary, one and two processes, under Wine"
bash tests/examples/examples_output.sh "$linux/host/quillharbor-replay" "$linux/filter/quillharbor.so" \
  "$PWD/examples" "$linux/host/quillharbor-sample-log" \
  --wine "$wine" "$scratch/host/quillharbor-replay.exe" "$scratch/filter"

# Without lua51.dll beside the module or on the search path, the load is refused
# with an event, and no Lua call reaches for the missing library.
cp "$scratch/filter/quillharbor.dll" "$scratch/filter/quillharbor.setting" "$scratch/bare/"
if (cd "$scratch/windows" && "$wine" ../host/quillharbor-replay.exe "${replay_options[@]}" \
  --module "$(winpath "$scratch/bare/quillharbor.dll")" "$(winpath "$scratch/u_ex261207.log")" \
  >"$scratch/bare.out" 2>&1); then
  echo "test-windows: the module loaded without lua51.dll" >&2
  exit 1
fi
grep -q 'cannot load lua51.dll' "$scratch/bare.out" ||
  { echo "test-windows: no event for the missing lua51.dll:" >&2; cat "$scratch/bare.out" >&2; exit 1; }
echo "test-windows: without lua51.dll the load is refused with its event"

# The syslog example under Wine: LuaSocket from the installed lua\ folder, and
# the same log delivered to a local rsyslogd as on Linux.
echo "== End to end: examples/syslog under Wine to a local rsyslogd"
tools/setup.sh linux >/dev/null
bash tests/examples/syslog_end_to_end.sh "$linux/host/quillharbor-replay" "$linux/filter/quillharbor.so" \
  "$PWD/examples" "$linux/host/quillharbor-sample-log" \
  --wine "$wine" "$scratch/host/quillharbor-replay.exe" "$scratch/filter"
