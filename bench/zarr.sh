#!/usr/bin/env bash
# OME-Zarr on disk, over http and from an object store (bench/zarr_bench.cpp): builds zelvan_zarr_bench in
# Release, writes its store once into the build directory (about 30 s, 640 MB with the TIFF), starts
# lighttpd and moto_server (moto and boto3 for the python3 on PATH) behind a 50 ms round trip and prints
# the table, in about 2 minutes. Extra arguments go to the benchmark (--quick: one iteration each, about
# 30 s; --round-trip-ms=N; --requests-per-host=N; --benchmark_filter=zarr_s3).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVAN_BUILD_BENCHMARKS=ON -DZELVAN_BUILD_TESTS=OFF \
  -DZELVAN_BUILD_EXAMPLES=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelvan_zarr_bench >/dev/null

results="$build/zarr_results.txt"
EGL_PLATFORM=surfaceless "$build/bench/zelvan_zarr_bench" --benchmark_color=false "$@" >"$results" 2>&1 || {
  cat "$results"
  exit 1
}
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB," \
  "$(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
sed -n '/^| benchmark /,$p' "$results"
echo
echo "Full output: $results"
