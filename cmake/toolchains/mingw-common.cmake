# Cross build for Windows with Debian's MinGW-w64 compilers, posix thread
# model (std::mutex for the test framework); the threading library is linked
# in statically, so nothing but system DLLs is needed at run time. Included by
# the per-processor files after they set CMAKE_SYSTEM_PROCESSOR and
# PLIX_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${PLIX_MINGW_TRIPLET}-gcc-posix ${PLIX_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${PLIX_MINGW_TRIPLET}-g++-posix ${PLIX_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PLIX_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${PLIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine.
find_program(PLIX_WINE NAMES wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PLIX_WINE})
