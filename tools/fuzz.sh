#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time,
# starting from the seed corpora in fuzz/corpus/. New inputs go to
# build-fuzz/corpus/<target>, crashes to build-fuzz/findings/<target>/.
# Usage: tools/fuzz.sh [--seconds N] [target...]   (default 30 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(settings_fuzzer enqueue_fuzzer pattern_fuzzer)

tools/setup.sh fuzz

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLHARBOR_FUZZ=ON -DQUILLHARBOR_TESTS=OFF -DQUILLHARBOR_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  name=${target%_fuzzer}
  work="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  echo "== $target for $seconds s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" "fuzz/corpus/$name" >"$build/$name.log" 2>&1; then
    status=1
    echo "$target found a failure:"
    grep -E "ERROR|SUMMARY|Test unit written" "$build/$name.log" || tail -20 "$build/$name.log"
  fi
  grep -E "DONE|stat::number_of_executed_units|stat::average_exec_per_sec" "$build/$name.log" || true
done
exit $status
