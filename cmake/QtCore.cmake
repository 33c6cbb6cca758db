# Provides the target Qt5::Core. A native build uses Debian's qtbase5-dev; a
# cross build points MAROVIN_QT_SYSROOT at a folder where the armhf Qt packages
# were unpacked (see scripts/armhf-sysroot.sh).
set(MAROVIN_QT_SYSROOT "" CACHE PATH "Unpacked armhf Qt packages for a cross build")
if(MAROVIN_QT_SYSROOT)
  set(_triplet arm-linux-gnueabihf)
  set(_qtinc ${MAROVIN_QT_SYSROOT}/usr/include/${_triplet}/qt5)
  set(_libdirs ${MAROVIN_QT_SYSROOT}/usr/lib/${_triplet} ${MAROVIN_QT_SYSROOT}/lib/${_triplet})
  find_library(MAROVIN_QT5CORE_LIB NAMES libQt5Core.so.5 Qt5Core PATHS ${_libdirs} NO_DEFAULT_PATH REQUIRED)
  add_library(Qt5::Core SHARED IMPORTED GLOBAL)
  set_target_properties(Qt5::Core PROPERTIES
    IMPORTED_LOCATION ${MAROVIN_QT5CORE_LIB}
    INTERFACE_INCLUDE_DIRECTORIES "${_qtinc};${_qtinc}/QtCore"
    INTERFACE_COMPILE_DEFINITIONS "QT_CORE_LIB")
  foreach(_d ${_libdirs})
    add_link_options(-Wl,-rpath-link,${_d})
  endforeach()
else()
  find_package(Qt5 REQUIRED COMPONENTS Core)
endif()
