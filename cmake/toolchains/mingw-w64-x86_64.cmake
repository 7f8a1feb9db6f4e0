# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64):
#   cmake -S . -B build/mingw --toolchain cmake/toolchains/mingw-w64-x86_64.cmake -DZELVAN_BUILD_EXAMPLES=OFF
# Where Wine is installed, ctest runs the test programs under it (they need an X display: xvfb-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELVAN_MINGW_TRIPLET x86_64-w64-mingw32 CACHE STRING "Prefix of the MinGW-w64 tools")
# Debian ships GCC for two thread models; the POSIX one has std::mutex and std::thread in GCC 12
# (GoogleTest needs them). Its winpthreads library is linked statically like the rest of the runtime.
find_program(CMAKE_C_COMPILER NAMES ${ZELVAN_MINGW_TRIPLET}-gcc-posix ${ZELVAN_MINGW_TRIPLET}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${ZELVAN_MINGW_TRIPLET}-g++-posix ${ZELVAN_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${ZELVAN_MINGW_TRIPLET}-windres)

# Headers, libraries and packages come from the MinGW sysroot; programs run on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry GCC's runtime, so they start without MinGW's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

find_program(ZELVAN_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(ZELVAN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVAN_WINE})
endif()
