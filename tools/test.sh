#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# Usage: tools/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
shift || true

tools/setup.sh linux
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
