#!/usr/bin/env bash
# Builds a fuzzer with clang in build/fuzz (or $ZELVAN_FUZZ_BUILD) and fuzzes for the given number of
# seconds (default 60), starting from its seed corpus:
#   fuzz/smoke.sh [seconds] [call|picture|tiles|mapping|descriptor|zarr]
# call (the default) is the library's call-sequence fuzzer, seeded from fuzz/corpus/; picture is the
# picture reading of Zelvan::sources through libvips, seeded from fuzz/picture_corpus/; tiles is the tile
# view over a null OpenGL, seeded from fuzz/tiles_corpus/; mapping is the display mapping alone, against
# a reference in double, from no seed; descriptor is the remote pictures' descriptors (IIIF info.json,
# Deep Zoom in XML and JSON, templates) through their parsers and layouts, seeded from
# fuzz/descriptor_corpus/; zarr is OME-Zarr metadata (arrays v2 and v3 with a chunk each, OME attributes,
# a shard's index) through the zarr room's parsers and decoding, seeded from fuzz/zarr_corpus/. New
# inputs go to fuzz/<name>-run/ (not committed); a failing input is written
# to the build directory and its path printed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case ${2:-call} in
  call) target=zelvan_call_fuzzer seeds=fuzz/corpus run=fuzz/corpus-run ;;
  picture) target=zelvan_picture_fuzzer seeds=fuzz/picture_corpus run=fuzz/picture_corpus-run ;;
  tiles) target=zelvan_tiles_fuzzer seeds=fuzz/tiles_corpus run=fuzz/tiles_corpus-run ;;
  mapping) target=zelvan_mapping_fuzzer seeds=fuzz/mapping_corpus run=fuzz/mapping_corpus-run ;;
  descriptor) target=zelvan_descriptor_fuzzer seeds=fuzz/descriptor_corpus run=fuzz/descriptor_corpus-run ;;
  zarr) target=zelvan_zarr_metadata_fuzzer seeds=fuzz/zarr_corpus run=fuzz/zarr_corpus-run ;;
  *) echo "usage: fuzz/smoke.sh [seconds] [call|picture|tiles|mapping|descriptor|zarr]" >&2; exit 2 ;;
esac
build=${ZELVAN_FUZZ_BUILD:-build/fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAN_BUILD_FUZZERS=ON \
  -DZELVAN_BUILD_TESTS=OFF -DZELVAN_BUILD_EXAMPLES=OFF -DZELVAN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" --target "$target" -j "$(nproc)"

mkdir -p "$run"
log=$build/$target.log
status=0
# -timeout: any one input taking this long counts as a hang.
# intercept_tls_get_addr=0: as in scripts/ci.sh, the leak check's tracer otherwise can die on a dynamic
# TLS block it misreads.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$build/" "$run" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
if [ "$status" -ne 0 ]; then
  grep -E 'zelvan fuzz:|ERROR|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
  echo "fuzzing failed; full log in $log" >&2
  exit "$status"
fi
