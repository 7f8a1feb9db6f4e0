#!/usr/bin/env bash
# Checks the formatting, then builds and runs every test: the warnings-as-errors build (which must
# make every program README promises; on llvmpipe, then on other Mesa drivers), the configure without
# each optional dependency, the sanitizer build, the package tests, the Windows build under Wine,
# memcheck, fuzzing, benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export EGL_PLATFORM=surfaceless
# Each heading tells how long the run has taken so far: CI's log then shows where the time goes.
section() { echo "== $* [$((SECONDS / 60)) min $((SECONDS % 60)) s] =="; }

section "format: every C and C++ file git tracks against .clang-format ($(clang-format --version))"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
else
  echo "not a git checkout: format check skipped"
fi

section "build (warnings as errors) and test"
cmake -S . -B build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAN_WARNINGS_AS_ERRORS=ON
# The programs README promises, removed first so that one left by an earlier configuration never counts.
programs=(zelvan-grid zelvan-render zelvan-view zelvan-placement-figure)
for program in "${programs[@]}"; do rm -f "build/ci/examples/$program"; done
cmake --build build/ci -j "$jobs"
missing=()
for program in "${programs[@]}"; do
  [ -x "build/ci/examples/$program" ] || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "not built, though README promises it: ${missing[*]} (the configure output above says why)" >&2
  exit 1
fi
ctest --test-dir build/ci --output-on-failure -j "$jobs"

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

section "fuzzing smoke runs (30 s of calls, 20 s each of picture files and the tile view, 10 s each of display mappings and remote descriptors; clang build in build/fuzz)"
bash fuzz/smoke.sh 30 call
bash fuzz/smoke.sh 20 picture
bash fuzz/smoke.sh 20 tiles
bash fuzz/smoke.sh 10 mapping
bash fuzz/smoke.sh 10 descriptor

section "benchmark smoke run (one iteration each, Release build in build/bench-smoke)"
cmake -S . -B build/bench-smoke -DCMAKE_BUILD_TYPE=Release -DZELVAN_WARNINGS_AS_ERRORS=ON \
  -DZELVAN_BUILD_BENCHMARKS=ON -DZELVAN_BUILD_TESTS=OFF -DZELVAN_BUILD_EXAMPLES=OFF
cmake --build build/bench-smoke -j "$jobs" --target zelvan_bench
build/bench-smoke/bench/zelvan_bench --quick --benchmark_color=false

section "finished"
echo "== all tests passed =="
