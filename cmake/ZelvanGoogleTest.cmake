# zelvan_build_googletest(<source dir>): builds GoogleTest from its sources as static libraries that
# the tests link as GTest::gtest, as the installed package would provide it. Used where no package
# fits, as when cross-compiling for Windows.
function(zelvan_build_googletest source_dir)
  if(NOT EXISTS ${source_dir}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${source_dir} (Debian: apt-get install googletest)")
  endif()
  # These variables hold only inside this function, for GoogleTest's own directory.
  set(BUILD_SHARED_LIBS OFF)
  set(BUILD_GMOCK OFF)
  set(INSTALL_GTEST OFF)
  add_subdirectory(${source_dir} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endfunction()
