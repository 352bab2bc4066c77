# Installation: libMorvik.so and libcalib.so with versioned names, their
# headers, the CMake package Morvik (targets Morvik::Morvik and Morvik::calib)
# and the pkg-config files morvik.pc and calib.pc.
#
# Headers: one include root, include/, laid out as the build tree's include
# root is: every header of the subsystem folders and of the platform layer
# under include/morvik/ ("morvik/core/polyline.h", "morvik/afx/cstring.h":
# hosts draw through its device contexts and install their host services
# through it), and calib.h as include/calib/calib.h. The set is worked out
# when installing, from the folders, so headers added later come along; an
# include line that would not resolve in the installed tree stops the install.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MORVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Morvik)

target_include_directories(Morvik INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_include_directories(calib INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS Morvik calib EXPORT MorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT MorvikTargets NAMESPACE Morvik:: DESTINATION ${MORVIK_CMAKE_DIR})

install(CODE "
  cmake_policy(PUSH)
  cmake_policy(VERSION 3.20)
  set(HEADERS_ROOT \"${MORVIK_INCLUDES}\")
  set(HEADERS_PUBLIC \"morvik,calib/calib.h\")
  set(HEADERS_DEST \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install_headers.cmake\")
  cmake_policy(POP)")

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
