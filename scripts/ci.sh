#!/usr/bin/env bash
# The full CI run (what .ci/run does): the contributor's run (scripts/test.sh), then the rest on top of
# its build: the toolkit examples and the benchmarks added to build/ci, the giant pictures (ctest label
# "scale"), the configure without each optional dependency, the library's tests on other Mesa drivers,
# the sanitizer build, the package tests, the Windows build under Wine, memcheck, fuzzing and a
# benchmark smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/test.sh
bash scripts/install-deps.sh ci

jobs=$(nproc)
export EGL_PLATFORM=surfaceless
section() { echo "== $* [$((SECONDS / 60)) min $((SECONDS % 60)) s since test.sh] =="; }

section "build/ci again with the toolkit examples and the benchmarks; the giant pictures"
cmake -S . -B build/ci -DZELVAN_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs" -L scale

section "configure without each optional dependency (build/configure-check)"
bash scripts/check-configure.sh

section "the library's tests on softpipe, zink over lavapipe and an emulated OpenGL 1.1"
bash scripts/test-drivers.sh build/ci

section "address and undefined-behaviour sanitizers"
# -O1, as the sanitizers advise: faults found alike, the tests' own loops several times faster than at -O0.
# The libraries and their tests: the demo programs, thin users of Zelvan::sources, run in the build above.
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZELVAN_WARNINGS_AS_ERRORS=ON -DZELVAN_SANITIZE=ON \
  -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DZELVAN_BUILD_EXAMPLES=OFF
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE scale  # the giant pictures run once, above

section "install and use: pkg-config, find_package, add_subdirectory, FetchContent"
bash tests/package/run.sh

section "Windows: MinGW-w64 cross build in build/mingw, tests and a package user under Wine"
bash scripts/test-windows.sh

section "valgrind memcheck"
cmake --build build/ci --target zelvan_memcheck

section "fuzzing smoke runs (clang build in build/fuzz)"
bash fuzz/smoke.sh 30 call
bash fuzz/smoke.sh 20 picture
bash fuzz/smoke.sh 20 tiles
bash fuzz/smoke.sh 10 mapping
bash fuzz/smoke.sh 10 descriptor

section "benchmark smoke run (one iteration each, in build/ci)"
build/ci/bench/zelvan_bench --quick --benchmark_color=false

section "finished"
echo "== all tests passed =="
