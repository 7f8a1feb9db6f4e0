#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks to build, test and demo Zelvan (Debian 12).
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config git            # ninja: scripts/check-configure.sh
  libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri   # OpenGL 1.1 and Mesa's surfaceless EGL
  libgtest-dev libbenchmark-dev                        # tests and benchmarks
  libpng-dev libvips-dev libvips-tools libcli11-dev    # zelvan-render and zelvan-view (libvips-tools: vipsthumbnail, the benchmarks' baseline)
  libjpeg-dev libtiff-dev                              # the demo tests write their pictures with them
  libcurl4-openssl-dev libexpat1-dev nlohmann-json3-dev lighttpd lighttpd-mod-openssl openssl iipimage-server python3  # remote pictures (the descriptors' parsers), and the servers their tests read from (https: mod_openssl, a certificate)
  libglfw3-dev xvfb xauth                              # zelvan-view and its smoke test
  libsdl2-dev qt6-base-dev libqt6opengl6-dev libimgui-dev  # examples/sdl2, examples/qt, examples/imgui
  clang libclang-rt-14-dev valgrind                    # fuzzing, sanitizers, memcheck
  clang-format                                         # the format check
  mesa-vulkan-drivers                                  # zink over lavapipe (scripts/test-drivers.sh)
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 googletest wine64  # Windows build and tests under Wine
)

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
