# Install rules: the headers (zelvan.h, and the C++ zelvan*.hpp, every one in include/), the library,
# the CMake package (Zelvan::zelvan, Zelvan::tiles where the thread library was found, Zelvan::sources
# where it was built) and zelvan.pc.
# The object library zelvan_core is an internal build step: its objects are inside libzelvan, so it
# is neither installed nor exported.
include(CMakePackageConfigHelpers)

set(ZELVAN_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Zelvan" CACHE STRING
    "Where the CMake package files go, relative to the prefix")
set(ZELVAN_PKGCONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig" CACHE STRING
    "Where zelvan.pc goes, relative to the prefix")

install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT Zelvan_Development
        FILES_MATCHING PATTERN "zelvan*.h" PATTERN "zelvan*.hpp")
install(TARGETS zelvan EXPORT ZelvanTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Zelvan_Runtime
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Zelvan_Runtime
          NAMELINK_COMPONENT Zelvan_Development
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Zelvan_Development)
if(TARGET zelvan_tiles)
  install(TARGETS zelvan_tiles EXPORT ZelvanTargets)
  set(ZELVAN_PACKAGE_TILES TRUE)
else()
  set(ZELVAN_PACKAGE_TILES FALSE)
endif()
# The companion library of picture sources, where it was built. Static, it brings its private
# dependencies along for the link: the package finds them (ZelvanConfig.cmake.in).
set(ZELVAN_PACKAGE_SOURCES FALSE)
set(ZELVAN_PACKAGE_SOURCES_STATIC FALSE)
set(ZELVAN_PACKAGE_SOURCES_CURL FALSE)
set(ZELVAN_PACKAGE_SOURCES_ZARR FALSE)
if(TARGET zelvan_sources)
  install(TARGETS zelvan_sources EXPORT ZelvanTargets
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Zelvan_Runtime
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Zelvan_Runtime
            NAMELINK_COMPONENT Zelvan_Development
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Zelvan_Development)
  set(ZELVAN_PACKAGE_SOURCES TRUE)
  get_target_property(sources_type zelvan_sources TYPE)
  if(sources_type STREQUAL "STATIC_LIBRARY")
    set(ZELVAN_PACKAGE_SOURCES_STATIC TRUE)
  endif()
  get_target_property(sources_links zelvan_sources LINK_LIBRARIES)
  if("CURL::libcurl" IN_LIST sources_links)
    set(ZELVAN_PACKAGE_SOURCES_CURL TRUE)
  endif()
  if("PkgConfig::BLOSC" IN_LIST sources_links)
    set(ZELVAN_PACKAGE_SOURCES_ZARR TRUE)
  endif()
endif()
install(EXPORT ZelvanTargets NAMESPACE Zelvan:: DESTINATION "${ZELVAN_CMAKE_DIR}"
        COMPONENT Zelvan_Development)

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/ZelvanConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/ZelvanConfig.cmake" INSTALL_DESTINATION "${ZELVAN_CMAKE_DIR}")
# 0.x releases may break the interface with each minor version.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/ZelvanConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/ZelvanConfig.cmake" "${PROJECT_BINARY_DIR}/ZelvanConfigVersion.cmake"
        DESTINATION "${ZELVAN_CMAKE_DIR}" COMPONENT Zelvan_Development)

include("${CMAKE_CURRENT_LIST_DIR}/ZelvanPkgConfig.cmake")
zelvan_write_pkg_config("${PROJECT_BINARY_DIR}/zelvan.pc")
install(FILES "${PROJECT_BINARY_DIR}/zelvan.pc" DESTINATION "${ZELVAN_PKGCONFIG_DIR}"
        COMPONENT Zelvan_Development)
