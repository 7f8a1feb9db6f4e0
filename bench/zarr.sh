#!/usr/bin/env bash
# OME-Zarr on disk, over http and from an object store (bench/zarr_bench.cpp): builds zelvan_zarr_bench in
# Release, writes its store once into the build directory (about 30 s, 640 MB with the TIFF), starts
# lighttpd and moto_server (moto and boto3 for the python3 on PATH) behind a 50 ms round trip and prints
# the table, in about 2 minutes. Extra arguments go to the benchmark (--quick: one iteration each, about
# 30 s; --round-trip-ms=N; --requests-per-host=N; --benchmark_filter=zarr_s3).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

source bench/run_program.sh
run_program build/bench zelvan_zarr_bench -DZELVAN_BUILD_TESTS=OFF -DZELVAN_BUILD_EXAMPLES=OFF -- "$@"
