# Cross build for 32-bit Windows: see mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PLIX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
