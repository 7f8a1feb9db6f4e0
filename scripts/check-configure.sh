#!/usr/bin/env bash
# Configures Zelvan once without each optional dependency, as on a machine that lacks it: the
# configure (and generate) must succeed and say in its one line which Debian package is missing.
# Every part is AUTO, so every part is tried (the fuzzers need clang: with another compiler they say
# so and are left out). What is left is the full build's targets, compiled alike, except where code
# is compiled otherwise without a dependency: those targets are built (the sources without the
# remote room, the viewer without its panel), and so is everything left without any optional
# dependency. Then, asked for explicitly, a part whose dependency is missing must fail the configure.
#   scripts/check-configure.sh [build dir]   (default build/configure-check)
# The configurations share one build directory (Ninja; build type None, without optimisation or debug
# information, the quickest to compile).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/configure-check}
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

# <find_package name (VIPS: the pkg-config module zelvan_find_vips honours the same switch for), or
# key of emptied>:<Debian package named in the line>. CMake's FindPNG needs
# ZLIB, so without ZLIB it is PNG that is missing (libpng-dev brings zlib1g-dev). EGL is a component
# of CMake's OpenGL package, and Dear ImGui is found through pkg-config (which Qt's own find needs
# too): each of these is left out by emptying the cache entry of what its find looks for.
declare -A emptied=([EGL]=OPENGL_egl_LIBRARY [imgui]=ZELVAN_IMGUI_BACKENDS)
# The targets compiled otherwise without a dependency, built in its configuration; for the viewer, its
# own files only (the libraries it links are those of the full build).
declare -A changed=([CURL]=zelvan_sources [EXPAT]=zelvan_sources [nlohmann_json]=zelvan_sources [imgui]=objects:zelvan-view
  [Blosc]=zelvan_sources [zstd]=zelvan_sources [ZLIB]=zelvan_sources)
optional=(
  PNG:libpng-dev VIPS:libvips-dev JPEG:libjpeg-dev TIFF:libtiff-dev ZLIB:libpng-dev CLI11:libcli11-dev
  CURL:libcurl4-openssl-dev EXPAT:libexpat1-dev nlohmann_json:nlohmann-json3-dev Blosc:libblosc-dev zstd:libzstd-dev
  GTest:libgtest-dev benchmark:libbenchmark-dev glfw3:libglfw3-dev SDL2:libsdl2-dev Qt6:qt6-base-dev
  imgui:libimgui-dev EGL:libegl-dev
)
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)

# configure_without <name>|all [cmake option]...: configures with only <name> missing, or with every
# optional dependency missing (a machine with a compiler, CMake and OpenGL alone); output in $log.
configure_without() {
  local name=$1 entry options=()
  shift
  for entry in "${optional[@]}"; do
    local package=${entry%%:*} disabled=OFF
    [ "$package" = "$name" ] || [ "$name" = all ] && disabled=ON
    if [ -n "${emptied[$package]:-}" ]; then
      if [ $disabled = ON ]; then options+=("-D${emptied[$package]}="); else options+=("-U${emptied[$package]}"); fi
    else
      options+=("-DCMAKE_DISABLE_FIND_PACKAGE_$package=$disabled")
    fi
  done
  log=$build/configure-without-$name.log
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=None -DZELVAN_WARNINGS_AS_ERRORS=ON \
    -DZELVAN_BUILD_TESTS=AUTO -DZELVAN_BUILD_EXAMPLES=AUTO -DZELVAN_BUILD_BENCHMARKS=AUTO \
    -DZELVAN_BUILD_SOURCES=AUTO -DZELVAN_BUILD_FUZZERS=AUTO "${options[@]}" "$@" >"$log" 2>&1
}

mkdir -p "$build"
failures=()
for entry in "${optional[@]}"; do
  name=${entry%%:*} debian=${entry#*:}
  start=$SECONDS
  if ! configure_without "$name"; then
    failures+=("$name: configure failed ($log)")
    continue
  fi
  generator=()
  line=$(grep -E -- "^-- .* not found \(Debian: [^)]*\b$debian\b[^)]*\): .* not built$" "$log" || true)
  if [ -z "$line" ]; then
    failures+=("$name: no line saying what is not built without $debian ($log)")
  fi
  targets=${changed[$name]:-}
  if [[ $targets == objects:* ]]; then  # the target's object files, from Ninja's list of what it builds
    targets=$(ninja -C "$build" -t targets all | sed -n "s|^\(.*CMakeFiles/${targets#objects:}\.dir/.*\.o\): .*|\1|p")
  fi
  if [ -n "$targets" ] &&
    ! cmake --build "$build" -j "$jobs" --target $targets >"$build/build-without-$name.log" 2>&1; then
    failures+=("$name: ${changed[$name]} does not build without it ($build/build-without-$name.log)")
    grep -A20 -m3 '^FAILED' "$build/build-without-$name.log" >&2 || true
  fi
  echo "without $name ($((SECONDS - start)) s):"
  printf '%s\n' "$line" | sed 's/^-- /  /'
done

start=$SECONDS
if ! configure_without all; then
  failures+=("all: configure failed ($log)")
elif ! cmake --build "$build" -j "$jobs" >"$build/build-without-all.log" 2>&1; then
  failures+=("all: what is left does not build ($build/build-without-all.log)")
fi
echo "without any optional dependency ($((SECONDS - start)) s): $(grep -c ' not built$' "$log") lines say what is left out"

# Asked for explicitly, a part fails the configure when its dependency is missing.
for asked in "ZELVAN_BUILD_BENCHMARKS benchmark" "ZELVAN_BUILD_TESTS GTest" "ZELVAN_BUILD_EXAMPLES VIPS" \
  "ZELVAN_BUILD_EXAMPLES imgui" "ZELVAN_BUILD_SOURCES VIPS" "ZELVAN_BUILD_SOURCES CURL"; do
  set -- $asked
  if configure_without "$2" "-D$1=ON"; then
    failures+=("-D$1=ON without $2: the configure succeeded")
  else
    echo "-D$1=ON without $2: the configure fails, as it should"
  fi
done

if [ ${#failures[@]} -gt 0 ]; then
  printf 'check-configure: %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "check-configure: every optional dependency can be missing"
