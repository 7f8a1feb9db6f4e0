# The optional parts (tests, examples, benchmarks, fuzzers) and what they need.
#
# Each ZELVAN_BUILD_<part> is AUTO, ON or OFF. AUTO builds whatever of the part its dependencies allow
# and leaves out the rest with one configure line naming the missing Debian package; ON (asked for, as
# with -DZELVAN_BUILD_BENCHMARKS=ON) makes a missing dependency a configure error; OFF leaves the part
# out. The tests and the examples default to AUTO at top level, the others to OFF.

# zelvan_part_option(<name> <help> <default>)
function(zelvan_part_option name help default)
  set(${name} ${default} CACHE STRING "${help}: AUTO, ON or OFF")
  set_property(CACHE ${name} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# zelvan_find_mode(<part> <out var>): REQUIRED for a part asked for, QUIET for one left to AUTO.
function(zelvan_find_mode part out)
  string(TOUPPER "${${part}}" value)
  if(value STREQUAL "AUTO")
    set(${out} QUIET PARENT_SCOPE)
  else()
    set(${out} REQUIRED PARENT_SCOPE)
  endif()
endfunction()

# zelvan_all_found(<out var> "<what is left out>" <Package> <Debian package> ...): sets <out var> to
# whether every <Package>_FOUND is true; if one is not, says in one line which packages are missing and
# what is not built without them.
function(zelvan_all_found out what)
  set(missing)
  set(debian)
  while(ARGN)
    list(POP_FRONT ARGN package package_debian)
    if(NOT ${package}_FOUND)
      list(APPEND missing ${package})
      list(APPEND debian ${package_debian})
    endif()
  endwhile()
  if(missing)
    list(JOIN missing ", " missing)
    list(JOIN debian " " debian)
    message(STATUS "${missing} not found (Debian: ${debian}): ${what} not built")
    set(${out} FALSE PARENT_SCOPE)
  else()
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# zelvan_find_vips(<find mode>): libvips' C++ interface through pkg-config (vips-cpp), as the imported
# target PkgConfig::VIPS, with VIPS_FOUND set. CMAKE_DISABLE_FIND_PACKAGE_VIPS leaves it out as it
# would a find_package: missing, and a configure error where the part needing it was asked for.
macro(zelvan_find_vips find_mode)
  find_package(PkgConfig QUIET)
  set(VIPS_FOUND FALSE)
  if(CMAKE_DISABLE_FIND_PACKAGE_VIPS OR NOT PkgConfig_FOUND)
    if("${find_mode}" STREQUAL "REQUIRED")
      message(FATAL_ERROR "libvips (pkg-config vips-cpp) not found (Debian: libvips-dev pkgconf)")
    endif()
  else()
    pkg_check_modules(VIPS ${find_mode} IMPORTED_TARGET GLOBAL vips-cpp)
  endif()
endmacro()

# zelvan_find_pkgconfig(<Name> <pkg-config module> <find mode>): a library through pkg-config, as the
# imported target PkgConfig::<NAME> (upper case), with <Name>_FOUND set. CMAKE_DISABLE_FIND_PACKAGE_<Name>
# leaves it out as it would a find_package (for scripts/check-configure.sh).
macro(zelvan_find_pkgconfig name module find_mode)
  find_package(PkgConfig QUIET)
  string(TOUPPER "${name}" _zelvan_prefix)
  set(${name}_FOUND FALSE)
  if(CMAKE_DISABLE_FIND_PACKAGE_${name} OR NOT PkgConfig_FOUND)
    if("${find_mode}" STREQUAL "REQUIRED")
      message(FATAL_ERROR "${name} (pkg-config ${module}) not found")
    endif()
  else()
    pkg_check_modules(${_zelvan_prefix} ${find_mode} IMPORTED_TARGET GLOBAL ${module})
    set(${name}_FOUND ${${_zelvan_prefix}_FOUND})
  endif()
endmacro()
