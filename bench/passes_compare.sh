#!/usr/bin/env bash
# zelvan-render's stills at 16 passes (its default) against 3 (the tile view's and zelvan-view's moving
# frames), in the same run: a 20000 x 20000 grid PNG written by zelvan-make-test-image, fitted into
# 1200 x 800 (800 x 800 at exactly 1/25), against the picture box-filtered in linear light (libvips:
# scRGB, 25 x 25 blocks averaged, back to 8-bit sRGB). Prints each pass count's mean absolute difference
# per channel value from that box filter, its time and processor seconds (fastest of three runs under
# /usr/bin/time -v), and the time of 16 passes over that of 3. On demand, not in CI: about 2 minutes.
# Usage: bench/passes_compare.sh [BUILD_DIR] (default build/dev, built with zelvan-render and
# zelvan-make-test-image).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
render="$build/examples/zelvan-render"
make_image="$build/tests/demo/zelvan-make-test-image"
for program in "$render" "$make_image"; do
  [[ -x $program ]] || { echo "passes_compare.sh: build $(basename "$program") in $build first" >&2; exit 1; }
done
as_root() { if [[ $EUID -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
command -v vips >/dev/null || as_root apt-get install -y libvips-tools >/dev/null
[[ -x /usr/bin/time ]] || as_root apt-get install -y time >/dev/null

work=${ZELVAN_BENCH_DIR:-/tmp/zelvan-passes-compare}
side=20000 shrink=25
mkdir -p "$work"
png="$work/grid-$side.png"
[[ -f $png ]] || "$make_image" "$png" $side $side
if [[ ! -f $work/box.png ]]; then
  vips colourspace "$png" "$work/linear.v" scrgb
  vips shrink "$work/linear.v" "$work/box.v" $shrink $shrink
  vips colourspace "$work/box.v" "$work/box.png" srgb
  rm -f "$work"/*.v
fi

source "$(dirname "$0")/measure.sh"

# The mean absolute difference of the frame's picture (800 x 800 from x 200) from the box filter.
difference() {
  vips extract_area "$1" "$work/crop.v" 200 0 $((side / shrink)) $((side / shrink))
  vips subtract "$work/crop.v" "$work/box.png" "$work/difference.v"
  vips abs "$work/difference.v" "$work/absolute.v"
  vips avg "$work/absolute.v"
  rm -f "$work"/*.v
}

export EGL_PLATFORM=surfaceless
declare -A seconds cpu mad
for passes in 3 16; do
  read -r "seconds[$passes]" "cpu[$passes]" _ < <(measure "$render" "$png" --size 1200x800 --passes $passes \
    -o "$work/passes-$passes.png")
  mad[$passes]=$(difference "$work/passes-$passes.png")
done

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Picture: ${side} x ${side} grid PNG, $(du -m "$png" | cut -f1) MB, fitted into 1200 x 800 at 1/$shrink"
printf '%-8s %14s %7s %6s\n' passes "box filter MAD" "time s" "cpu s"
for passes in 3 16; do
  printf '%-8s %14.3f %7.2f %6.2f\n' $passes "${mad[$passes]}" "${seconds[$passes]}" "${cpu[$passes]}"
done
awk "BEGIN {printf \"16 passes / 3: time %.3f, cpu %.3f\n\", ${seconds[16]} / ${seconds[3]}, ${cpu[16]} / ${cpu[3]}}"
