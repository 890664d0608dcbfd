#!/usr/bin/env bash
# Cross-builds PLIX.dll, plixconv.exe and the Windows test programs with
# MinGW-w64: 64-bit into build-win64/, 32-bit into build-win32/.
# Usage: scripts/build_windows.sh [win64|win32]...   (both when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(win64 win32)
for t in "${targets[@]}"; do
  case $t in
    win64) arch=x86_64 ;;
    win32) arch=i686 ;;
    *) echo "unknown target $t (win64 or win32)" >&2; exit 2 ;;
  esac
  echo "== $t ($arch-w64-mingw32)"
  cmake -S "$root" -B "$root/build-$t" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" \
    -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_VIEWER=OFF -DPLIX_BUILD_WINDOWS_TESTS=ON >/dev/null
  cmake --build "$root/build-$t" -j "$jobs"
done
