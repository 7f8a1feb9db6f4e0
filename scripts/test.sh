#!/usr/bin/env bash
# A contributor's test run: installs what is missing, checks the formatting, builds everything found
# with warnings as errors (failing when a program README promises is not built) and runs the unit,
# OpenGL, demo-program and server tests on llvmpipe. The giant pictures (ctest label "scale"), the other
# drivers, the sanitizers, the package, Windows, memcheck, fuzzing and benchmarks are scripts/ci.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

jobs=$(nproc)
export EGL_PLATFORM=surfaceless
# Each heading tells how long the run has taken so far: CI's log then shows where the time goes.
section() { echo "== $* [$((SECONDS / 60)) min $((SECONDS % 60)) s] =="; }

section "format: every C and C++ file git tracks against .clang-format ($(clang-format --version))"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -- '*.c' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run -Werror
else
  echo "not a git checkout: format check skipped"
fi

section "the house: file sizes, rooms of sources/, includes of include/ that are used"
python3 scripts/check-house.py

section "build (warnings as errors) and test"
# -g1 (line tables): a failing test's stack still names its lines, at two thirds of -g's compile time.
cmake -S . -B build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAN_WARNINGS_AS_ERRORS=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
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
ctest --test-dir build/ci --output-on-failure -j "$jobs" -LE scale

section "finished"
echo "== the contributor's tests passed (scripts/ci.sh runs the rest) =="
