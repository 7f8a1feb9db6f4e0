#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks for one of three jobs (Debian 12):
#   scripts/install-deps.sh demo   what scripts/demo.sh builds: the library, Zelvan::sources, zelvan-render
#   scripts/install-deps.sh test   what scripts/test.sh builds and runs: the tests, the demo programs, their servers
#   scripts/install-deps.sh ci     all the rest scripts/ci.sh runs: toolkits, other drivers, sanitizers,
#                                  Windows under Wine, fuzzing, benchmarks (the default)
# Each job includes the ones above it.
set -euo pipefail
job=${1:-ci}

demo=(
  cmake g++ make pkg-config                            # the build
  libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri   # OpenGL 1.1 and Mesa's surfaceless EGL
  libpng-dev libcli11-dev                              # zelvan-render
  libvips-dev libcurl4-openssl-dev                     # Zelvan::sources: pictures on disk and on servers
  nlohmann-json3-dev libexpat1-dev                     # the descriptors servers send (JSON, XML)
  libblosc-dev libzstd-dev zlib1g-dev                  # OME-Zarr stores' chunks
)
test=(
  git ninja-build clang-format                         # the format check; ninja: scripts/check-configure.sh
  libgtest-dev                                         # the tests
  libjpeg-dev libtiff-dev                              # the demo tests write their pictures with them
  lighttpd lighttpd-mod-openssl openssl iipimage-server python3  # the servers remote tests read from (https: mod_openssl)
  libglfw3-dev xvfb xauth libimgui-dev                 # zelvan-view, its channel panel and its smoke test
  python3-zarr python3-numcodecs python3-zstandard python3-numpy  # the OME-Zarr tests write their stores
)
ci=(
  libbenchmark-dev libvips-tools                       # benchmarks (vipsthumbnail: their baseline)
  libsdl2-dev qt6-base-dev libqt6opengl6-dev           # examples/sdl2, examples/qt
  clang libclang-rt-14-dev valgrind                    # fuzzing, sanitizers, memcheck
  mesa-vulkan-drivers                                  # zink over lavapipe (scripts/test-drivers.sh)
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 googletest wine64  # Windows build and tests under Wine
)

case $job in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${demo[@]}" "${test[@]}") ;;
  ci) packages=("${demo[@]}" "${test[@]}" "${ci[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [demo|test|ci]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
