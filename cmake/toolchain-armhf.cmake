# Cross build for 32-bit ARM (hard float) with Debian's arm-linux-gnueabihf
# toolchain; tests run under qemu-arm. Pass -DMAROVIN_QT_SYSROOT=<dir> made by
# scripts/armhf-sysroot.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(_marovin_triplet arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${_marovin_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_marovin_triplet}-g++)

# try_compile projects read this file again: hand them the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MAROVIN_QT_SYSROOT)

# Only the cross toolchain's own tree and the unpacked Qt sysroot may provide
# libraries and headers; programs (qemu, python) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${_marovin_triplet})
if(MAROVIN_QT_SYSROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MAROVIN_QT_SYSROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-arm loads the toolchain's C library (-L); the Qt libraries and their
# dependencies come from the sysroot. Set in the guest (-E) so the host's
# qemu-arm itself is not affected by LD_LIBRARY_PATH.
find_program(MAROVIN_QEMU_ARM qemu-arm REQUIRED)
set(_marovin_ldpath /usr/${_marovin_triplet}/lib)
if(MAROVIN_QT_SYSROOT)
  string(APPEND _marovin_ldpath
    ":${MAROVIN_QT_SYSROOT}/lib/${_marovin_triplet}"
    ":${MAROVIN_QT_SYSROOT}/usr/lib/${_marovin_triplet}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  ${MAROVIN_QEMU_ARM} -L /usr/${_marovin_triplet} -E LD_LIBRARY_PATH=${_marovin_ldpath})
