# Cross build for 64-bit ARM Linux with Debian's aarch64-linux-gnu toolchain.
# Programs built here run on this machine under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The target's libraries and headers; packages may also come from prefixes
# given on the command line (the cross-built GoogleTest).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Lets CMake run target programs (test discovery among them).
find_program(PLIX_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(PLIX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PLIX_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
endif()
