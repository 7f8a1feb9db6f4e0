#!/usr/bin/env bash
# The full CI run (what .ci/run does): the contributor's run (scripts/test.sh), then the rest, in three
# lanes at once (each a build directory of its own, its log printed whole when it ends; the machine's
# cores are shared, and what one lane leaves idle, configuring, linking or starting Wine, the others
# use):
#   ci:     the toolkit examples and the benchmarks added to build/ci, the giant pictures (ctest label
#           "scale"), the library's tests on other Mesa drivers, memcheck, a benchmark smoke run, the
#           configure without each optional dependency;
#   asan:   the libraries and their tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   others: the package tests, the Windows build under Wine, the fuzzing smoke runs.
# The packages only the lanes need are installed while scripts/test.sh builds and tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
mkdir -p build
bash scripts/install-deps.sh ci >build/install-ci.log 2>&1 &
install_ci=$!
bash scripts/test.sh
wait "$install_ci" || { cat build/install-ci.log; exit 1; }

jobs=$(nproc)
export EGL_PLATFORM=surfaceless
logs=build/ci-logs
rm -rf "$logs"
mkdir -p "$logs"
section() { echo "== $* [$((SECONDS / 60)) min $((SECONDS % 60)) s, test.sh included] =="; }

lane_ci() {
  section "build/ci again with the toolkit examples and the benchmarks; the giant pictures"
  cmake -S . -B build/ci -DZELVAN_BUILD_BENCHMARKS=ON >/dev/null
  cmake --build build/ci -j "$jobs"
  ctest --test-dir build/ci --output-on-failure -j "$jobs" -L scale
  section "the library's tests on softpipe, zink over lavapipe and an emulated OpenGL 1.1"
  bash scripts/test-drivers.sh build/ci
  section "valgrind memcheck"
  cmake --build build/ci --target zelvan_memcheck
  section "benchmark smoke run (one iteration each, in build/ci)"
  build/ci/bench/zelvan_bench --quick --benchmark_color=false
  section "configure without each optional dependency (build/configure-check)"
  bash scripts/check-configure.sh
}

lane_asan() {
  section "address and undefined-behaviour sanitizers"
  # -O1, as the sanitizers advise: faults found alike, the tests' own loops several times faster than
  # at -O0; -g1, line tables, enough for every report's stack, at two thirds of -g's compile time.
  # The libraries and their tests: the demo programs, thin users of Zelvan::sources, run in build/ci.
  cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZELVAN_WARNINGS_AS_ERRORS=ON -DZELVAN_SANITIZE=ON \
    -DCMAKE_C_FLAGS_DEBUG="-g1 -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DZELVAN_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build build/asan -j "$jobs"
  # intercept_tls_get_addr=0: GCC 12's runtime can take a thread's dynamic TLS block (Mesa's, LLVM's)
  # for a header of old glibc and read past it, and the leak check at exit then dies in its tracer
  # ("Tracer caught signal 11") after the test passed. The leak check works without the interception.
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:intercept_tls_get_addr=0 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE scale  # the giant pictures run once, in build/ci
}

lane_others() {
  section "install and use: pkg-config, find_package, add_subdirectory, FetchContent"
  bash tests/package/run.sh
  section "Windows: MinGW-w64 cross build in build/mingw, tests and a package user under Wine"
  bash scripts/test-windows.sh
  section "fuzzing smoke runs (clang build in build/fuzz)"
  # Seconds enough to run every seed and try a few thousand new inputs: long runs are on demand.
  bash fuzz/smoke.sh 10 call
  bash fuzz/smoke.sh 8 picture
  bash fuzz/smoke.sh 8 tiles
  bash fuzz/smoke.sh 5 mapping
  bash fuzz/smoke.sh 6 descriptor
  bash fuzz/smoke.sh 6 zarr
}

lanes=(ci asan others)
declare -A pids
for lane in "${lanes[@]}"; do
  (set -euo pipefail; "lane_$lane") >"$logs/$lane.log" 2>&1 &
  pids[$lane]=$!
done
failed=()
for lane in "${lanes[@]}"; do
  status=0
  wait "${pids[$lane]}" || status=$?
  echo "======== lane $lane: exit $status [$((SECONDS / 60)) min $((SECONDS % 60)) s] ========"
  cat "$logs/$lane.log"
  [ "$status" -eq 0 ] || failed+=("$lane")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]} (their logs above, and in $logs/)" >&2
  exit 1
fi
section "finished"
echo "== all tests passed =="
