# Sourced by the comparison scripts of bench/, from the source tree's top.
#
# prepare SCRIPT BUILD_DIR PROGRAM...: stops with a line when a program SCRIPT runs is not built in
# BUILD_DIR; installs libvips' tools (vips, vipsthumbnail) and GNU time when they are missing.
prepare() {
  local script=$1 build=$2 program
  shift 2
  for program in "$@"; do
    [[ -x $program ]] || { echo "$script: build $(basename "$program") in $build first" >&2; exit 1; }
  done
  local as_root=()
  [[ $EUID -eq 0 ]] || as_root=(sudo)
  if ! command -v vipsthumbnail >/dev/null || ! command -v vips >/dev/null; then
    "${as_root[@]}" apt-get install -y libvips-tools >/dev/null
  fi
  [[ -x /usr/bin/time ]] || "${as_root[@]}" apt-get install -y time >/dev/null
}

# measure COMMAND... runs the command three times and prints "seconds cpu_seconds peak_kib" of the
# fastest run (/usr/bin/time -v; its report in $work/time.txt).
measure() {
  local best_s="" best_cpu="" best_kib=""
  for _ in 1 2 3; do
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
    local s cpu kib
    s=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); v = 0; for (i = 1; i <= n; i++) v = v * 60 + t[i]; print v}' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {v += $2} END {print v}' "$work/time.txt")
    kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    if [[ -z $best_s ]] || awk "BEGIN {exit !($s < $best_s)}"; then best_s=$s best_cpu=$cpu best_kib=$kib; fi
  done
  echo "$best_s $best_cpu $best_kib"
}
