#!/usr/bin/env bash
# Runs a built tree's library tests (ctest label "library") whose outcome the driver can change again
# on other OpenGL implementations than llvmpipe: Mesa's softpipe, zink over lavapipe (OpenGL on Vulkan), and
# llvmpipe posing as OpenGL 1.1 without non-power-of-two textures. Every test program prints the
# renderer it got and fails on any other (ZELVAN_EXPECT_RENDERER, ZELVAN_EXPECT_VERSION).
# Usage: scripts/test-drivers.sh [build directory, default build/ci]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
jobs=$(nproc)
export EGL_PLATFORM=surfaceless
lavapipe_icd=/usr/share/vulkan/icd.d/lvp_icd.$(uname -m).json  # mesa-vulkan-drivers
if [ ! -f "$lavapipe_icd" ]; then
  echo "test-drivers: no lavapipe ICD file $lavapipe_icd (apt-get install mesa-vulkan-drivers)" >&2
  exit 1
fi

# Tests whose outcome no driver changes run on llvmpipe alone (scripts/test.sh): the failing allocator's,
# the waits for reads, the display mapping's tables (made before the upload, as every tile's texels),
# and Zelvan::sources' reading, on disk and from servers. Here: what draws, uploads and reads back.
independent='^zelvan_(tiles_(allocation|wait|mapping)|sources_[a-z_]+)_test$'

# run_on <title> <renderer substring> [VARIABLE=value...]
run_on() {
  local title=$1 renderer=$2
  shift 2
  echo "-- $title"
  env "$@" ZELVAN_EXPECT_RENDERER="$renderer" ctest --test-dir "$build" -L library -E "$independent" \
    --output-on-failure -j "$jobs"
  grep -ho "^GL_RENDERER: .*" "$build/Testing/Temporary/LastTest.log" | sort | uniq -c
}

# softpipe rasterises a frame some twenty times slower than llvmpipe: the tour of a million-square
# picture (its many frames check the budget's bookkeeping, which no driver changes) runs on the others.
run_on softpipe softpipe LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=softpipe \
  GTEST_FILTER="-TileView.TourOfAMillionSquarePictureStaysInItsBudgetWithoutHoles"
run_on "zink over lavapipe" zink LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=zink VK_ICD_FILENAMES="$lavapipe_icd"
run_on "OpenGL 1.1 without non-power-of-two textures (llvmpipe)" llvmpipe ZELVAN_EXPECT_VERSION=1.1 \
  MESA_GL_VERSION_OVERRIDE=1.1 MESA_EXTENSION_MAX_YEAR=1996 MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_non_power_of_two
