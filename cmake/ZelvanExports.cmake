# zelvan_limit_exports(<target>): lets only the Zelvan functions leave the shared library, told in
# the way each platform's linker understands.
include(CheckLinkerFlag)

function(zelvan_limit_exports target)
  set(list_dir ${PROJECT_SOURCE_DIR}/src)
  if(WIN32)
    # ZELVAN_API marks exactly the fourteen functions __declspec(dllexport), and a DLL exports only
    # what is marked. GCC's runtime, libstdc++ and winpthreads are linked in, so the DLL imports
    # Windows' own DLLs only and users have nothing to ship beside it.
    if(MINGW)
      target_link_options(${target} PRIVATE -static)
    endif()
  elseif(APPLE)
    target_link_options(${target} PRIVATE "LINKER:-exported_symbols_list,${list_dir}/exports_apple.txt")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${list_dir}/exports_apple.txt)
  elseif(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
    # Hidden visibility keeps the library's own symbols in; the version script also keeps in the
    # weak symbols that the standard library's inline code leaves behind. GNU ld, gold, lld and mold
    # understand it; another ELF linker gets hidden visibility alone.
    check_linker_flag(CXX "LINKER:--version-script=${list_dir}/exports.map" ZELVAN_LINKER_HAS_VERSION_SCRIPT)
    if(ZELVAN_LINKER_HAS_VERSION_SCRIPT)
      target_link_options(${target} PRIVATE "LINKER:--version-script=${list_dir}/exports.map"
                                            "LINKER:--no-undefined")
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${list_dir}/exports.map)
    endif()
  endif()
endfunction()
