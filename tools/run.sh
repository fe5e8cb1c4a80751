#!/usr/bin/env bash
# The main job: installs what is missing, builds, and replays the generated
# sample IIS log through the summary example, printing its report.
# Usage: tools/run.sh [extra quillharbor-replay options]
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quillharbor quillharbor-replay sample_log
build/host/quillharbor-replay --script examples/summary/summary.lua "$@" build/sample/u_ex261207.log
