#!/usr/bin/env bash
# Quick start: installs what is missing, builds everything (library, demo programs, tests) and has
# zelvan-render draw its built-in scene into zelvan-demo.png here. Arguments go to zelvan-render
# (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${ZELVAN_BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)"
"$build/examples/zelvan-render" "$@"
if [ $# -eq 0 ]; then
  echo "Wrote $PWD/zelvan-demo.png"
fi
if [ -x "$build/examples/zelvan-view" ]; then
  echo "To look around a picture of your own: $build/examples/zelvan-view PICTURE.png (or .jpg, .tif)"
fi
