# Provides marovin_httplib: Debian's compiled cpp-httplib (libcpp-httplib-dev).
# Its header declares different members with and without TLS, zlib and brotli,
# so users must be compiled with the switches the library was built with, as
# its pkg-config file gives them. A cross build takes the armhf library and
# headers unpacked into MAROVIN_QT_SYSROOT (scripts/armhf-sysroot.sh).
find_package(Threads REQUIRED)
add_library(marovin_httplib INTERFACE)
if(MAROVIN_QT_SYSROOT)
  find_path(MAROVIN_HTTPLIB_INCLUDE httplib.h REQUIRED)
  find_library(MAROVIN_HTTPLIB_LIB NAMES cpp-httplib REQUIRED)
  # OpenSSL's configuration headers live in the multiarch folder.
  target_include_directories(marovin_httplib SYSTEM INTERFACE ${MAROVIN_HTTPLIB_INCLUDE}
    ${MAROVIN_HTTPLIB_INCLUDE}/${CMAKE_LIBRARY_ARCHITECTURE})
  target_compile_definitions(marovin_httplib INTERFACE
    CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT CPPHTTPLIB_BROTLI_SUPPORT)
  target_link_libraries(marovin_httplib INTERFACE ${MAROVIN_HTTPLIB_LIB} Threads::Threads)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MAROVIN_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(marovin_httplib INTERFACE PkgConfig::MAROVIN_HTTPLIB Threads::Threads)
endif()
