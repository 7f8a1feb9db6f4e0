#!/usr/bin/env bash
# Checks that Zelvan can be used the ways its README promises:
#  - installed (shared, then static) into a temporary prefix, with the build tree deleted afterwards,
#    by a C99 program built through pkg-config and C++ programs built through find_package: one of
#    zelvan.hpp and zelvan_pyramid.hpp (Zelvan::zelvan), one of the tile view (Zelvan::tiles), one of
#    the picture sources (Zelvan::sources) where libvips is found, in the shared install (the other
#    ways build the library and the tile view without it: one build of it keeps CI short);
#  - the same for examples/minimal.c and examples/minimal.cpp, run a few frames under Xvfb, and for the
#    toolkit examples (examples/sdl2, qt, imgui), each built alone against the prefix;
#  - taken into another CMake project by add_subdirectory and by FetchContent (from a local archive).
# Every program draws an image through the library in a surfaceless EGL context and checks pixels.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
here=$source_dir/tests/package
jobs=$(nproc)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
export EGL_PLATFORM=surfaceless

fail() {
  echo "package test: $*" >&2
  exit 1
}

quietly() {  # runs a command, showing its output only when it fails
  "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "failed: $*"; }
}

# install_zelvan <prefix> <cmake option>...: builds the library alone and installs it.
install_zelvan() {
  local prefix=$1 build=$work/build
  shift
  quietly cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVAN_WARNINGS_AS_ERRORS=ON \
    -DZELVAN_BUILD_TESTS=OFF -DZELVAN_BUILD_EXAMPLES=OFF "$@"
  quietly cmake --build "$build" -j "$jobs"
  quietly cmake --install "$build" --prefix "$prefix"
  rm -rf "$build"  # from here on only the installed files exist
}

# use_with_pkg_config <prefix> [--static]: the C99 program, built by hand from pkg-config's flags.
use_with_pkg_config() {
  local prefix=$1 static=${2:-} pc program=$work/c-user
  pc=$(find "$prefix" -name zelvan.pc)
  [ -n "$pc" ] || fail "no zelvan.pc under $prefix"
  export PKG_CONFIG_PATH=${pc%/*}
  # shellcheck disable=SC2046  # pkg-config's output is a list of flags
  quietly "${CC:-cc}" -std=c99 -pedantic -Wall -Wextra -Werror "$here/c/draw_quadrants.c" -o "$program" \
    $(pkg-config ${static:+"$static"} --cflags --libs zelvan) $(pkg-config --cflags --libs egl) \
    -Wl,-rpath,"$(pkg-config --variable=libdir zelvan)"
  quietly "$program"
  rm -f "$program"
}

# use_with_cmake <build dir> <cmake option>...: the C++ programs, configured with the options given.
use_with_cmake() {
  local build=$1
  shift
  quietly cmake -S "$here/cxx" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@"
  quietly cmake --build "$build" -j "$jobs"
  quietly "$build/draw_seam"
  quietly "$build/draw_tiles"
  # Zelvan::sources comes with an installed Zelvan built where libvips is.
  if [ -x "$build/open_picture" ]; then
    quietly "$build/open_picture"
  elif [[ " $* " == *" -DCMAKE_PREFIX_PATH="* ]] && [ "$sources_installed" = yes ] && pkg-config --exists vips-cpp; then
    fail "Zelvan::sources is not in the installed package, though libvips is here"
  fi
}

# use_minimal_programs <prefix>: examples/minimal.c through pkg-config and examples/minimal.cpp through
# find_package, each run for three frames in a window of a virtual X server, checking the centre pixel.
# Runs after use_with_pkg_config, which points PKG_CONFIG_PATH at the prefix.
use_minimal_programs() {
  local prefix=$1 build=$work/minimal
  if ! command -v xvfb-run >/dev/null || ! pkg-config --exists glfw3; then
    echo "   minimal programs skipped: they need xvfb-run and GLFW 3 (scripts/install-deps.sh)"
    return
  fi
  # shellcheck disable=SC2046  # pkg-config's output is a list of flags
  quietly "${CC:-cc}" -std=c99 -pedantic -Wall -Wextra -Werror "$source_dir/examples/minimal.c" \
    -o "$work/zelvan-minimal-c" $(pkg-config --cflags --libs zelvan glfw3 gl) -lm \
    -Wl,-rpath,"$(pkg-config --variable=libdir zelvan)"
  quietly cmake -S "$here/minimal" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
  quietly cmake --build "$build" -j "$jobs"
  for program in "$work/zelvan-minimal-c" "$build/zelvan-minimal-cpp"; do
    quietly env -u EGL_PLATFORM xvfb-run -a -s "-screen 0 800x600x24" "$program" --check
  done
  rm -rf "$build" "$work/zelvan-minimal-c"
}

# use_toolkit_examples <prefix>: examples/sdl2, examples/qt and examples/imgui, each configured alone
# through find_package and run under Xvfb with --check; a missing toolkit is left out with its one line.
use_toolkit_examples() {
  local prefix=$1 toolkit build
  if ! command -v xvfb-run >/dev/null; then
    echo "   toolkit examples skipped: they need xvfb-run (Debian xvfb)"
    return
  fi
  for toolkit in sdl2 qt imgui; do
    [ -f "$source_dir/examples/$toolkit/CMakeLists.txt" ] || continue
    build=$work/toolkit-$toolkit
    quietly cmake -S "$source_dir/examples/$toolkit" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix"
    if grep -q " not found (Debian" "$work/log"; then  # the toolkit's one line, as CMake printed it
      echo "   $(sed -n 's/^-- \(.* not found (Debian.*\)/\1/p' "$work/log")"
    else
      quietly cmake --build "$build" -j "$jobs"
      quietly env -u EGL_PLATFORM xvfb-run -a -s "-screen 0 800x600x24" "$build/zelvan-$toolkit" --check
    fi
    rm -rf "$build"
  done
}

sources_installed=yes  # Zelvan::sources is in the installed package wherever libvips is
echo "-- shared library: install, pkg-config, find_package"
prefix=$work/shared
install_zelvan "$prefix" -DBUILD_SHARED_LIBS=ON
for header in "$source_dir"/include/zelvan*.h*; do  # every public header, the new ones too
  [ -f "$prefix/include/${header##*/}" ] || fail "${header##*/} is not installed"
done
library=$(find "$prefix" -name 'libzelvan.so.*.*.*')  # libzelvan.so.MAJOR.MINOR.PATCH
[ -n "$library" ] || fail "no libzelvan.so.MAJOR.MINOR.PATCH is installed"
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "$(basename "${library%.*.*}")" ] || [ ! -L "${library%.*.*}" ] || [ ! -L "${library%.*.*.*}" ]; then
  fail "$library needs the SONAME libzelvan.so.MAJOR (not '$soname') and both links to it"
fi
use_with_pkg_config "$prefix"
use_with_cmake "$work/cxx-shared" -DCMAKE_PREFIX_PATH="$prefix"
grep -q "^Zelvan_DIR:PATH=$prefix/" "$work/cxx-shared/CMakeCache.txt" || fail "find_package found another Zelvan"
use_minimal_programs "$prefix"
use_toolkit_examples "$prefix"
rm -rf "$prefix" "$work/cxx-shared"

echo "-- static library: install, pkg-config --static, find_package"
prefix=$work/static
# Zelvan::sources is built and used as a package above, once: the static install is the library's and
# the tile view's.
install_zelvan "$prefix" -DBUILD_SHARED_LIBS=OFF -DZELVAN_BUILD_SOURCES=OFF
sources_installed=no
[ -n "$(find "$prefix" -name 'libzelvan.a')" ] || fail "libzelvan.a is not installed"
use_with_pkg_config "$prefix" --static
use_with_cmake "$work/cxx-static" -DCMAKE_PREFIX_PATH="$prefix"
rm -rf "$prefix" "$work/cxx-static"

echo "-- add_subdirectory (shared)"
# The library and the tile view, as in the static install.
use_with_cmake "$work/cxx-subdirectory" -DZELVAN_FROM=subdirectory -DZELVAN_SOURCE_DIR="$source_dir" \
  -DBUILD_SHARED_LIBS=ON -DZELVAN_WARNINGS_AS_ERRORS=ON -DZELVAN_BUILD_SOURCES=OFF
rm -rf "$work/cxx-subdirectory"

echo "-- FetchContent from an archive of the source tree (static)"
# What a clone holds, plus files not committed yet; build trees and other ignored files stay out.
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    tar -czf "$work/zelvan.tar.gz" -C "$source_dir" --null --ignore-failed-read -T -
else
  tar -czf "$work/zelvan.tar.gz" -C "$source_dir" --exclude='./build*' .
fi
# Without the sources library, as above.
use_with_cmake "$work/cxx-fetch" -DZELVAN_FROM=fetch -DZELVAN_URL="file://$work/zelvan.tar.gz" \
  -DZELVAN_WARNINGS_AS_ERRORS=ON -DZELVAN_BUILD_SOURCES=OFF

echo "-- package tests passed"
