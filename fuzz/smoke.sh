#!/usr/bin/env bash
# Builds the call fuzzer with clang in build/fuzz and fuzzes for the given number of seconds
# (default 60), starting from the seed corpus. New inputs go to fuzz/corpus-run/ (not committed); a
# failing input is written to build/fuzz/ and its path printed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAN_BUILD_FUZZERS=ON \
  -DZELVAN_BUILD_TESTS=OFF -DZELVAN_BUILD_EXAMPLES=OFF -DZELVAN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/fuzz --target zelvan_call_fuzzer -j "$(nproc)"

mkdir -p fuzz/corpus-run
log=build/fuzz/fuzz-smoke.log
status=0
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
  build/fuzz/fuzz/zelvan_call_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix=build/fuzz/ fuzz/corpus-run fuzz/corpus >"$log" 2>&1 || status=$?
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
if [ "$status" -ne 0 ]; then
  grep -E 'zelvan fuzz:|ERROR|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
  echo "fuzzing failed; full log in $log" >&2
  exit "$status"
fi
