#!/usr/bin/env bash
# Builds and runs every benchmark, then prints the ratios the hot path is held to.
# Usage: tools/bench.sh [--smoke | --instructions] [build-dir] [Google Benchmark flags...]
#   --smoke         each benchmark once on small sizes (for CI): checks that they work
#   --instructions  instructions per request, floor and module, counted by callgrind:
#                   repeatable where the timings of a shared machine are not
#   build-dir       default build-bench (configured RelWithDebInfo when new)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=time
case "${1:-}" in
  --smoke) mode=smoke; shift ;;
  --instructions) mode=instructions; shift ;;
esac
build=build-bench
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
  build=$1
  shift
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLHARBOR_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target quillharbor-bench >/dev/null
bench="$build/bench/quillharbor-bench"

case "$mode" in
  smoke) exec "$bench" --smoke "$@" ;;
  time) exec "$bench" "$@" ;;
esac

# Two runs of different length per path: their difference leaves out loading,
# set-up and the interpreter's start.
few=2000
many=12000
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bench" --requests "$1" "$2" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
declare -A per_request
for path in floor module; do
  a=$(count "$path" "$few")
  b=$(count "$path" "$many")
  per_request[$path]=$(( (b - a) / (many - few) ))
  echo "$path: ${per_request[$path]} instructions per request"
done
awk -v m="${per_request[module]}" -v f="${per_request[floor]}" \
  'BEGIN { printf "module / floor: %.2f   target <= 1.25\n", m / f }'
