#!/usr/bin/env bash
# Cross-compiles the library, the converter and the test suite for 64-bit ARM
# Linux into build-arm64/ (programs and libPLIX.so in build-arm64/bin/).
# GoogleTest is built from Debian's sources for the target first, as the
# packaged libraries are for this machine only.
# Usage: scripts/build_arm64.sh [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-arm64"
toolchain="$root/cmake/toolchains/aarch64-linux-gnu.cmake"
jobs=$(nproc 2>/dev/null || echo 2)

gtest="$out/googletest"
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$out/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -DCMAKE_INSTALL_PREFIX="$gtest" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
  cmake --build "$out/googletest-build" -j "$jobs" >/dev/null
  cmake --install "$out/googletest-build" >/dev/null
fi

cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DPLIX_BUILD_VIEWER=OFF -DPLIX_BUILD_TESTS=ON -DGTest_DIR="$gtest/lib/cmake/GTest" "$@" >/dev/null
cmake --build "$out" -j "$jobs" --target PLIX plixconv plix_tests
