# Installation: libMorvik.so and libcalib.so with versioned names, their
# headers, the CMake package Morvik (targets Morvik::Morvik and Morvik::calib)
# and the pkg-config files morvik.pc and calib.pc.
#
# Headers: every header of the subsystem folders goes under include/morvik/
# as it lies in the tree ("core/polyline.h"), and every header of the
# platform layer under include/morvik/ too ("afx/cstring.h": hosts draw
# through its device contexts and install their host services through it), so
# that the #include lines read the same in the tree and installed. calib.h
# goes under include/calib/ with what it includes. The set is worked out when
# installing, from the folders, so headers added later come along; an include
# line that would not resolve in the installed tree stops the install.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MORVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Morvik)

target_include_directories(Morvik INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/morvik>")
# "calib.h" as the library's own code includes it, "calib/calib.h" as a host
# using both libraries may.
target_include_directories(calib INTERFACE
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/calib;${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS Morvik calib EXPORT MorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT MorvikTargets NAMESPACE Morvik:: DESTINATION ${MORVIK_CMAKE_DIR})

# name: the folder under include/; root: where the include lines start;
# public: folders (every header below them) or files under root; platform:
# a second include root whose headers come along when included.
function(morvik_install_headers name root public platform)
  string(REPLACE ";" "," public "${public}")
  install(CODE "
    cmake_policy(PUSH)
    cmake_policy(VERSION 3.20)
    set(HEADERS_ROOT \"${root}\")
    set(HEADERS_PUBLIC \"${public}\")
    set(HEADERS_PLATFORM \"${platform}\")
    set(HEADERS_DEST \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/${name}\")
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/install_headers.cmake\")
    cmake_policy(POP)")
endfunction()
morvik_install_headers(morvik "${CMAKE_SOURCE_DIR}" "${MORVIK_DIRS};platform" "${CMAKE_SOURCE_DIR}/platform")
morvik_install_headers(calib "${CMAKE_SOURCE_DIR}/calib" "calib.h" "")

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MorvikConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MorvikConfig.cmake INSTALL_DESTINATION ${MORVIK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MorvikConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MorvikConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/MorvikConfigVersion.cmake
  DESTINATION ${MORVIK_CMAKE_DIR})

# pkg-config files find the prefix from their own place, so that an install
# under another prefix (cmake --install --prefix) needs nothing rewritten.
file(RELATIVE_PATH MORVIK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" MORVIK_PC_TO_PREFIX "${MORVIK_PC_TO_PREFIX}")
foreach(_pc morvik calib)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
