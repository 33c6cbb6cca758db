# Provides the target Mosquitto::Mosquitto (libmosquitto, Debian's
# libmosquitto-dev). Found by file rather than pkg-config, so that a cross
# build takes the armhf library of the sysroot (see cmake/toolchain-armhf.cmake).
if(NOT TARGET Mosquitto::Mosquitto)
  find_path(MAROVIN_MOSQUITTO_INCLUDE mosquitto.h REQUIRED)
  find_library(MAROVIN_MOSQUITTO_LIB NAMES mosquitto REQUIRED)
  add_library(Mosquitto::Mosquitto UNKNOWN IMPORTED GLOBAL)
  set_target_properties(Mosquitto::Mosquitto PROPERTIES
    IMPORTED_LOCATION ${MAROVIN_MOSQUITTO_LIB}
    INTERFACE_INCLUDE_DIRECTORIES ${MAROVIN_MOSQUITTO_INCLUDE})
endif()
