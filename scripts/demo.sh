#!/usr/bin/env bash
# Quick start: installs what is missing, builds only what the demo needs (the library, Zelvan::sources
# and zelvan-render; no tests) and has zelvan-render draw its built-in scene into zelvan-demo.png here.
# Arguments go to zelvan-render (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
build=${ZELVAN_BUILD_DIR:-build/demo}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelvan-render
"$build/examples/zelvan-render" "$@"
if [ $# -eq 0 ]; then
  echo "Wrote $PWD/zelvan-demo.png"
fi
echo "To look around a picture of your own: apt-get install libglfw3-dev, then"
echo "  cmake -S . -B $build && cmake --build $build --target zelvan-view && $build/examples/zelvan-view PICTURE"
