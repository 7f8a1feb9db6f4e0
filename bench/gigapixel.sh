#!/usr/bin/env bash
# What the demo programs do with a gigapixel picture: builds zelvan_gigapixel_bench in Release, makes
# a 20000 x 20000 PNG (about 10 s) and prints the time to its first complete frame, streamed,
# against decoding alone, uploading alone and both taking turns on one thread. Extra arguments go
# to the benchmark (for example --quick, or --image PATH for a picture of your own).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

source bench/run_program.sh
run_program build/gigapixel zelvan_gigapixel_bench -DZELVAN_BUILD_TESTS=ON -DZELVAN_BUILD_EXAMPLES=ON -- "$@"
