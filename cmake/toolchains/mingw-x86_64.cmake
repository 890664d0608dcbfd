# Cross build for 64-bit Windows: see mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PLIX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
