# zelvan_write_pkg_config(<output>): writes zelvan.pc for the install rules.
#
# The paths are relative to the file's own location (${pcfiledir}), so the module stays right when
# the prefix is chosen at install time (cmake --install --prefix) or the tree is moved.
function(zelvan_write_pkg_config output)
  if(IS_ABSOLUTE "${ZELVAN_PKGCONFIG_DIR}")
    set(ZELVAN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH to_prefix "/prefix/${ZELVAN_PKGCONFIG_DIR}" "/prefix")
    string(REGEX REPLACE "/$" "" to_prefix "${to_prefix}")
    set(ZELVAN_PC_PREFIX "\${pcfiledir}/${to_prefix}")
  endif()
  foreach(kind IN ITEMS LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
      set(ZELVAN_PC_${kind} "${CMAKE_INSTALL_${kind}}")
    else()
      set(ZELVAN_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
  endforeach()

  # A static libzelvan leaves libGL (Requires.private; opengl32 on Windows) and its C++ runtime to the
  # final link. The runtime is what the C++ compiler links implicitly and the C compiler does not:
  # libstdc++ and libm with GCC.
  set(runtime ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
  list(REMOVE_ITEM runtime ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
  list(REMOVE_DUPLICATES runtime)
  set(ZELVAN_PC_LIBS_PRIVATE "")
  foreach(library IN LISTS runtime)
    if(NOT IS_ABSOLUTE "${library}" AND NOT library MATCHES "^-")
      set(library "-l${library}")
    endif()
    string(APPEND ZELVAN_PC_LIBS_PRIVATE " ${library}")
  endforeach()
  string(STRIP "${ZELVAN_PC_LIBS_PRIVATE}" ZELVAN_PC_LIBS_PRIVATE)
  # OpenGL has a pkg-config module (gl) on Linux and the BSDs; on Windows it is opengl32, always there.
  if(WIN32)
    set(ZELVAN_PC_REQUIRES_PRIVATE "")
    string(PREPEND ZELVAN_PC_LIBS_PRIVATE "-lopengl32 ")
  else()
    set(ZELVAN_PC_REQUIRES_PRIVATE gl)
  endif()

  set(ZELVAN_PC_CFLAGS "")
  if(NOT BUILD_SHARED_LIBS)
    set(ZELVAN_PC_CFLAGS " -DZELVAN_STATIC")
  endif()
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/zelvan.pc.in" "${output}" @ONLY)
endfunction()
