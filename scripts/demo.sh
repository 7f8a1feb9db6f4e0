#!/usr/bin/env bash
# Builds Zelvan and runs the main demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZELVAN_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
./build/release/examples/zelvan-grid "$@"
