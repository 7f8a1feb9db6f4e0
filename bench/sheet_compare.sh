#!/usr/bin/env bash
# zelvan-render --sheet against vipsthumbnail, in the same run: a contact sheet of COUNT (1000) pictures of
# 1000 x 1000 pixels (PNGs, each its own) fitted into a 1600 x 1000 frame, against vipsthumbnail making the
# COUNT thumbnails of the cell's size (one process for all, as a user would run it). Columns: 40 for 1000
# pictures (25 rows of 40 x 40 cells), else as near a square cell as the frame allows.
# Each command runs three times under /usr/bin/time -v; the fastest run counts. Prints seconds, processor
# seconds (user and system), peak memory and the ratios. On demand, not in CI.
# Usage: bench/sheet_compare.sh [BUILD_DIR] [COUNT] (default build/dev and 1000; 200 for a quick run).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
count=${2:-1000}
render="$build/examples/zelvan-render"
source bench/measure.sh
prepare sheet_compare.sh "$build" "$render"

work=${ZELVAN_BENCH_DIR:-/tmp/zelvan-sheet-compare}
pictures="$work/pictures-$count"
mkdir -p "$pictures" "$work/thumbs"
if [[ ! -f $pictures.done ]]; then
  # Each picture different: sines of its own frequencies with a little noise, so that no decoder or
  # cache can share work between them.
  for ((i = 0; i < count; i++)); do
    f=$(printf '%s/p%04d.png' "$pictures" "$i")
    vips sines "$work/a.v" 1000 1000 --hfreq "$(( (i % 17) + 1 )).3" --vfreq "$(( (i % 13) + 1 )).7"
    vips gaussnoise "$work/n.v" 1000 1000 --sigma 0.05 --mean 0
    vips bandjoin "$work/a.v $work/n.v $work/a.v" "$work/an.v"
    vips linear "$work/an.v" "$f" "100 400 $(( i % 200 ))" "128 128 64" --uchar
  done
  rm -f "$work"/*.v
  touch "$pictures.done"
fi

# Columns whose cells are nearest square in 1600 x 1000.
columns=$(awk -v n="$count" 'BEGIN { best = 1; err = 1e9;
  for (c = 1; c <= n; c++) { r = int((n + c - 1) / c); a = (1600 / c) / (1000 / r); e = (a > 1 ? a : 1 / a);
    if (e < err) { err = e; best = c } } print best }')
rows=$(( (count + columns - 1) / columns ))
cell_w=$(( 1600 / columns )) cell_h=$(( 1000 / rows ))

export EGL_PLATFORM=surfaceless
read -r thumb_s thumb_cpu thumb_kib < <(measure bash -c "vipsthumbnail '$pictures'/p*.png -s ${cell_w}x${cell_h} -o '$work/thumbs/%s.png'")
read -r sheet_s sheet_cpu sheet_kib < <(measure "$render" --sheet "$columns" "$pictures" --size 1600x1000 -o "$work/sheet.png")

printf '%s pictures of 1000 x 1000 in %s columns (cells %s x %s), %s cores\n' "$count" "$columns" "$cell_w" "$cell_h" "$(nproc)"
printf '%-28s %8s %8s %10s\n' "" seconds cpu-s peak-MiB
printf '%-28s %8.2f %8.2f %10.0f\n' "vipsthumbnail, thumbnails" "$thumb_s" "$thumb_cpu" "$((thumb_kib / 1024))"
printf '%-28s %8.2f %8.2f %10.0f\n' "zelvan-render --sheet" "$sheet_s" "$sheet_cpu" "$((sheet_kib / 1024))"
awk -v a="$sheet_s" -v b="$thumb_s" -v c="$sheet_cpu" -v d="$thumb_cpu" \
  'BEGIN { printf "ratio (zelvan / vipsthumbnail): %.2f x the time, %.2f x the processor time\n", a / b, c / d }'
