#!/usr/bin/env bash
# zelvan-render against vipsthumbnail on the same pictures, in the same run: a fitted view of a
# 20000 x 20000 PNG (zelvan-render halves the bands in linear light down to the levels the frame
# draws), and of the same picture as a pyramidal TIFF written by zelvan-render --save-pyramid
# (drawn through the tile view). Then the same fitted frame of that pyramid from a server behind 50 ms
# of round trip and 20 MB/s (bench/synthetic_tile_server.py), read by range requests, and of a Deep
# Zoom tree of it, each with an empty cache, against the local pyramid. With ZELVAN_BENCH_GIANT=FILE,
# also a pyramidal TIFF of your own (a 100000 x 100000 one, say) against vipsthumbnail.
# Each command runs three times under /usr/bin/time -v; the fastest run counts. Prints seconds,
# processor seconds (user and system: steadier than the clock on a shared machine), peak memory and
# the ratios. On demand, not in CI: about 3 minutes (the Deep Zoom tree is made once).
# Usage: bench/vips_compare.sh [BUILD_DIR] (default build/dev, built with zelvan-render).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
render="$build/examples/zelvan-render"
source bench/measure.sh
prepare vips_compare.sh "$build" "$render"

work=${ZELVAN_BENCH_DIR:-/tmp/zelvan-vips-compare}
side=${ZELVAN_BENCH_SIDE:-20000}
mkdir -p "$work"
png="$work/picture-$side.png"
pyramid="$work/picture-$side.tif"
if [[ ! -f $png ]]; then
  # Detail everywhere, like a photograph: sines across and down with a little noise, a 5000-pixel
  # piece repeated (PNG's window is far shorter than the repeat).
  piece=$((side / 4))
  vips sines "$work/a.v" $piece $piece --hfreq 3.1 --vfreq 1.7
  vips sines "$work/b.v" $piece $piece --hfreq 0.7 --vfreq 5.3
  vips gaussnoise "$work/n.v" $piece $piece --sigma 0.05 --mean 0
  vips bandjoin "$work/a.v $work/b.v $work/n.v" "$work/abn.v"
  vips linear "$work/abn.v" "$work/piece.v" "100 100 400" "128 128 128" --uchar
  vips replicate "$work/piece.v" "$work/full.v" 4 4
  vips pngsave "$work/full.v" "$png" --compression 6
  rm -f "$work"/*.v
fi

export EGL_PLATFORM=surfaceless
rm -f "$pyramid"
read -r save_s _ save_kib < <(measure bash -c "rm -f '$pyramid'; '$render' '$png' --save-pyramid '$pyramid'")
read -r thumb_png_s thumb_png_cpu thumb_png_kib < <(measure vipsthumbnail "$png" -s 1200x800 -o "$work/thumb-png.png")
read -r zel_png_s zel_png_cpu zel_png_kib < <(measure "$render" "$png" --size 1200x800 -o "$work/zelvan-png.png")
read -r thumb_tif_s thumb_tif_cpu thumb_tif_kib < <(measure vipsthumbnail "$pyramid" -s 1200x800 -o "$work/thumb-tif.png")
read -r zel_tif_s zel_tif_cpu zel_tif_kib < <(measure "$render" "$pyramid" --size 1200x800 -o "$work/zelvan-tif.png")

tree="$work/tree-$side"
[[ -f $tree.dzi ]] || vips dzsave "$pyramid" "$tree" --tile-size 254 --overlap 1 --suffix '.jpg[Q=85]'
rm -f "$work/port"
python3 bench/synthetic_tile_server.py --round-trip-ms 50 --rate 20e6 --root "$work" --log "$work/server.log" \
  >"$work/port" &
server=$!
trap 'kill $server 2>/dev/null' EXIT
until [[ -s $work/port ]]; do sleep 0.1; done
remote="http://127.0.0.1:$(head -1 "$work/port")"
# Every run from an empty cache: all of it over the link.
remote_render() {  # URL OUTPUT: the command to measure
  echo "rm -rf '$work/remote-cache' && '$render' '$1' --size 1200x800 --cache '$work/remote-cache' -o '$2'"
}
read -r http_tif_s http_tif_cpu http_tif_kib < <(measure bash -c "$(remote_render "$remote/$(basename "$pyramid")" "$work/http-tif.png")")
read -r http_dzi_s http_dzi_cpu http_dzi_kib < <(measure bash -c "$(remote_render "$remote/$(basename "$tree").dzi" "$work/http-dzi.png")")

if [[ -n ${ZELVAN_BENCH_GIANT:-} ]]; then
  read -r thumb_giant_s thumb_giant_cpu thumb_giant_kib < <(measure vipsthumbnail "$ZELVAN_BENCH_GIANT" -s 1200x800 -o "$work/thumb-giant.png")
  read -r zel_giant_s zel_giant_cpu zel_giant_kib < <(measure "$render" "$ZELVAN_BENCH_GIANT" --size 1200x800 -o "$work/zelvan-giant.png")
fi

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Picture: ${side} x ${side} PNG, $(du -m "$png" | cut -f1) MB; its pyramid, $(du -m "$pyramid" | cut -f1) MB, written by --save-pyramid in ${save_s} s, peak $((save_kib / 1024)) MiB"
printf '%-31s %7s %6s %9s %7s %7s %7s\n' "fitted into 1200 x 800" "time s" "cpu s" "peak MiB" "time x" "cpu x" "peak x"
ratio() { awk "BEGIN {printf \"%.2f\", $1 / $2}"; }
row() {  # name seconds cpu kib [baseline seconds cpu kib]
  printf '%-31s %7.2f %6.2f %9d %7s %7s %7s\n' "$1" "$2" "$3" $(($4 / 1024)) "$(ratio "$2" "${5:-$2}")" \
    "$(ratio "$3" "${6:-$3}")" "$(ratio "$4" "${7:-$4}")"
}
row "vipsthumbnail, PNG" "$thumb_png_s" "$thumb_png_cpu" "$thumb_png_kib"
row "zelvan-render, PNG" "$zel_png_s" "$zel_png_cpu" "$zel_png_kib" "$thumb_png_s" "$thumb_png_cpu" "$thumb_png_kib"
row "vipsthumbnail, pyramidal TIFF" "$thumb_tif_s" "$thumb_tif_cpu" "$thumb_tif_kib"
row "zelvan-render, pyramidal TIFF" "$zel_tif_s" "$zel_tif_cpu" "$zel_tif_kib" "$thumb_tif_s" "$thumb_tif_cpu" "$thumb_tif_kib"
echo "against zelvan-render's local pyramidal TIFF, over 50 ms and 20 MB/s:"
row "zelvan-render, TIFF over HTTP" "$http_tif_s" "$http_tif_cpu" "$http_tif_kib" "$zel_tif_s" "$zel_tif_cpu" "$zel_tif_kib"
row "zelvan-render, Deep Zoom, HTTP" "$http_dzi_s" "$http_dzi_cpu" "$http_dzi_kib" "$zel_tif_s" "$zel_tif_cpu" "$zel_tif_kib"
if [[ -n ${ZELVAN_BENCH_GIANT:-} ]]; then
  echo "$ZELVAN_BENCH_GIANT:"
  row "vipsthumbnail" "$thumb_giant_s" "$thumb_giant_cpu" "$thumb_giant_kib"
  row "zelvan-render" "$zel_giant_s" "$zel_giant_cpu" "$zel_giant_kib" "$thumb_giant_s" "$thumb_giant_cpu" "$thumb_giant_kib"
fi
