#!/usr/bin/env bash
# Cross-builds PLIX.dll, plixcodec.dll, plixwic.dll, plixconv.exe and the
# Windows test programs with MinGW-w64: 64-bit into build-win64/, 32-bit into
# build-win32/; with both, the installer build-windows/PLIX-<version>-setup.exe
# (makensis).
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

# The installer holds both builds' pieces.
if [ -f "$root/build-win64/bin/plixwic.dll" ] && [ -f "$root/build-win32/bin/plixwic.dll" ]; then
  version=$(sed -n 's/^project(PLIX VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  out="$root/build-windows/PLIX-$version-setup.exe"
  echo "== installer $out"
  mkdir -p "$root/build-windows"
  makensis -V2 -WX -DVERSION="$version" -DWIN64="$root/build-win64/bin" \
    -DWIN32="$root/build-win32/bin" -DLICENSE="$root/LICENSE" -DOUTFILE="$out" \
    "$root/cmake/windows/plix-setup.nsi"
fi
