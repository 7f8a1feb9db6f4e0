#!/usr/bin/env bash
# zelvan-render's stills at 16 passes (its default) against 3 (the tile view's and zelvan-view's moving
# frames), in the same run: a 20000 x 20000 grid PNG written by zelvan-make-test-image, fitted into
# 1200 x 800 (800 x 800 at exactly 1/25), against the picture box-filtered in linear light (libvips:
# scRGB, 25 x 25 blocks averaged, back to 8-bit sRGB). Prints each pass count's mean absolute difference
# per channel value from that box filter, its time and processor seconds (fastest of three runs under
# /usr/bin/time -v), and the time of 16 passes over that of 3. Then a photograph-like picture (4000 x
# 4000, each channel a fractal surface of dimension 2.4, whose detail falls off with scale as a
# photograph's does) drawn at 1/5, 1/10 and 1/25, at phases of 0, 0.4 and 0.8 of a pixel, against its box
# filter shifted alike: the mean difference of the frame's inner pixels, at 3 passes and at 16.
# On demand, not in CI: about 3 minutes.
# Usage: bench/passes_compare.sh [BUILD_DIR] (default build/dev, built with zelvan-render and
# zelvan-make-test-image).
set -euo pipefail
shopt -s inherit_errexit  # a failed step inside \$(...) stops the script too
cd "$(dirname "$0")/.."
build=${1:-build/dev}
render="$build/examples/zelvan-render"
make_image="$build/tests/demo/zelvan-make-test-image"
source bench/measure.sh
prepare passes_compare.sh "$build" "$render" "$make_image"

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

# The photograph-like picture: three fractal surfaces, each stretched to 0..255, one per channel.
photo="$work/photo-4000.png"
if [[ ! -f $photo ]]; then
  for band in 0 1 2; do
    vips fractsurf "$work/surface.v" 4000 4000 2.4
    read -r low high < <(vips stats "$work/surface.v" "$work/stats.csv" >/dev/null && sed -n 1p "$work/stats.csv" | cut -f1,2)
    vips linear "$work/surface.v" "$work/band$band.v" "$(awk "BEGIN {print 255 / ($high - $low)}")" \
      "$(awk "BEGIN {print -255 * $low / ($high - $low)}")" --uchar
  done
  vips bandjoin "$work/band0.v $work/band1.v $work/band2.v" "$work/bands.v"
  vips copy "$work/bands.v" "$photo" --interpretation srgb
  rm -f "$work"/*.v
fi
vips colourspace "$photo" "$work/photo-linear.v" scrgb

# photo_difference SHRINK PHASE PASSES: the mean difference of the frame's inner pixels from the box
# filter of the picture moved right by PHASE pixels of the frame (PHASE x SHRINK whole picture pixels).
photo_difference() {
  local shrink=$1 phase=$2 passes=$3 side=$((4000 / $1)) moved
  moved=$(awk "BEGIN {print int($phase * $shrink + 0.5)}")
  "$render" "$photo" --size ${side}x${side} --scale "$(awk "BEGIN {print 1 / $shrink}")" --translate "$phase,0" \
    --passes "$passes" -o "$work/photo-frame.png" >/dev/null
  vips embed "$work/photo-linear.v" "$work/moved.v" "$moved" 0 $((4000 + moved)) 4000
  vips shrink "$work/moved.v" "$work/box.v" "$shrink" "$shrink"
  vips colourspace "$work/box.v" "$work/box-srgb.v" srgb
  vips extract_area "$work/box-srgb.v" "$work/box-inner.v" 1 1 $((side - 2)) $((side - 2))
  vips extract_band "$work/photo-frame.png" "$work/frame-rgb.v" 0 --n 3
  vips extract_area "$work/frame-rgb.v" "$work/frame-inner.v" 1 1 $((side - 2)) $((side - 2))
  vips subtract "$work/frame-inner.v" "$work/box-inner.v" "$work/difference.v"
  vips abs "$work/difference.v" "$work/absolute.v"
  vips avg "$work/absolute.v"
  rm -f "$work"/moved.v "$work"/box*.v "$work"/frame-*.v "$work"/difference.v "$work"/absolute.v
}

echo "Photograph-like picture: 4000 x 4000, fractal surfaces; mean difference of the inner pixels"
printf '%-7s %-6s %9s %9s\n' scale phase "3 passes" "16 passes"
for shrink in 5 10 25; do
  for phase in 0 0.4 0.8; do
    printf '%-7s %-6s %9.3f %9.3f\n' "1/$shrink" "$phase" "$(photo_difference $shrink $phase 3)" \
      "$(photo_difference $shrink $phase 16)"
  done
done
rm -f "$work/photo-linear.v"
