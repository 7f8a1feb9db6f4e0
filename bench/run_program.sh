# Sourced by the scripts of bench/ that run one benchmark program:
#   run_program BUILD_DIR TARGET [CMAKE_OPTION...] -- [BENCHMARK_ARGUMENT...]
# configures BUILD_DIR in Release with the benchmarks, builds TARGET, runs it on surfaceless EGL and
# prints the machine and the summary table; the full output goes to BUILD_DIR/TARGET.txt, and is printed
# whole if the program fails.
run_program() {
  local build=$1 target=$2
  shift 2
  local options=()
  while [[ $# -gt 0 && $1 != -- ]]; do options+=("$1"); shift; done
  [[ $# -gt 0 ]] && shift
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVAN_BUILD_BENCHMARKS=ON "${options[@]}" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target "$target" >/dev/null
  local results="$build/$target.txt"
  EGL_PLATFORM=surfaceless "$build/bench/$target" --benchmark_color=false "$@" >"$results" 2>&1 || {
    cat "$results"
    exit 1
  }
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB," \
    "$(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  sed -n '/^| benchmark /,$p' "$results"
  echo
  echo "Full output: $results"
}
