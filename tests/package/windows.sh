#!/usr/bin/env bash
# Checks that a Windows program can use Zelvan as its README promises: installs a MinGW-w64 cross
# build into a temporary prefix, builds the C99 program c/draw_quadrants.c with pkg-config's flags
# from that prefix only, puts libzelvan.dll beside it and runs it under Wine. It checks the pixels it
# drew through WGL. Needs an X display for Wine (scripts/test-windows.sh runs it under Xvfb).
# Usage: tests/package/windows.sh <cross build directory> <wine>
set -euo pipefail
build=$1 wine=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvan-windows-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "windows package test: $*" >&2
  exit 1
}

echo "-- Windows: install, pkg-config, a C program under Wine"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
[ -f "$prefix/bin/libzelvan.dll" ] || fail "libzelvan.dll is not installed in bin/"
[ -f "$prefix/lib/libzelvan.dll.a" ] || fail "the import library libzelvan.dll.a is not installed in lib/"

cc=$(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
program=$work/program
mkdir "$program"
# shellcheck disable=SC2046  # pkg-config's output is a list of flags
"$cc" -std=c99 -pedantic -Wall -Wextra -Werror "$here/c/draw_quadrants.c" -o "$program/draw_quadrants.exe" \
  $(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --cflags --libs zelvan) -lopengl32 -lgdi32 -luser32 \
  || fail "cannot build c/draw_quadrants.c"
cp "$prefix/bin/libzelvan.dll" "$program/"
"$wine" "$program/draw_quadrants.exe" || fail "draw_quadrants.exe failed under Wine"
