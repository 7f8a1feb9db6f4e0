#!/usr/bin/env bash
# What the demo programs do with a gigapixel picture: builds zelvan_gigapixel_bench in Release, makes
# a 20000 x 20000 PNG (about 10 s) and prints the time to its first complete frame, streamed,
# against decoding alone, uploading alone and both taking turns on one thread. Extra arguments go
# to the benchmark (for example --quick, or --image PATH for a picture of your own).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/gigapixel
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVAN_BUILD_BENCHMARKS=ON -DZELVAN_BUILD_TESTS=ON \
  -DZELVAN_BUILD_EXAMPLES=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelvan_gigapixel_bench >/dev/null

results="$build/results.txt"
EGL_PLATFORM=surfaceless "$build/bench/zelvan_gigapixel_bench" --benchmark_color=false "$@" >"$results" 2>&1 || {
  cat "$results"
  exit 1
}
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB," \
  "$(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
sed -n '/^| benchmark /,$p' "$results"
echo
echo "Full output: $results"
