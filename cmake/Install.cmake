# cmake --install: the library with its SONAME link, the headers, a pkg-config
# file and a CMake package config.
include(CMakePackageConfigHelpers)

# Consumers include <marovin/Marovin.h>: the include directory is the parent.
install(TARGETS Marovin EXPORT MarovinTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/marovin/Marovin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/marovin)

install(EXPORT MarovinTargets NAMESPACE Marovin:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Marovin)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/MarovinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/MarovinConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Marovin)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/MarovinConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/MarovinConfig.cmake ${CMAKE_BINARY_DIR}/MarovinConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Marovin)

# The pkg-config file finds the prefix from its own folder, however deep the
# library folder is (lib, lib64, lib/x86_64-linux-gnu).
file(RELATIVE_PATH MAROVIN_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" MAROVIN_PC_TO_PREFIX "${MAROVIN_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/marovin.pc.in ${CMAKE_BINARY_DIR}/marovin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/marovin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Manual pages: every docs/man/NAME.N goes to share/man/manN, whatever the
# section (".so" link pages included).
foreach(_section RANGE 1 8)
  file(GLOB _pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.${_section})
  if(_pages)
    install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section})
  endif()
endforeach()
