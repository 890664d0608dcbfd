#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a client would: the
# layout, the versioned library, the converter finding the library folder, a C
# program built with pkg-config and one built with find_package(PLIX).
# Usage: check_install.sh BUILD_DIR SCRATCH_DIR [LIBDIR]
# With LIBDIR other than the build's own (lib64, say), a second build of the
# library and the converter is configured with that library folder first.
set -euo pipefail
build=$1
scratch=$2
libdir=${3:-lib}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$scratch"
mkdir -p "$scratch"
if [ "$libdir" != "$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")" ]; then
  jobs=$(nproc 2>/dev/null || echo 2)
  generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$build/CMakeCache.txt")
  cmake -S "$source_dir" -B "$scratch/build" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_LIBDIR="$libdir" -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_VIEWER=OFF \
    -DPLIX_BUILD_TOOL=OFF -DPLIX_BUILD_QT_PLUGIN=OFF -DPLIX_BUILD_QT5_PLUGIN=OFF \
    -DPLIX_BUILD_GDK_PIXBUF_LOADER=OFF >/dev/null
  cmake --build "$scratch/build" -j "$jobs" >/dev/null
  build=$scratch/build
fi
prefix="$scratch/prefix"
# The library, its development files and the converter, by their components.
for component in libplix0 libplixcodec1 libplix-dev plix-tools; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done

version=$(sed -n 's/^project(PLIX VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
major=${version%%.*}
for f in bin/plixconv "$libdir/libPLIX.so.$version" include/plix/plix.h include/plix/plix_version.h \
  include/plix/codec.h "$libdir/libplixcodec.so.1.0.0" "$libdir/pkgconfig/plixcodec.pc" \
  "$libdir/pkgconfig/plix.pc" "$libdir/cmake/PLIX/PLIXConfig.cmake" share/man/man1/plixconv.1; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
# The links the loader and the linker use, and the library's SONAME.
[ "$(readlink "$prefix/$libdir/libPLIX.so.$major")" = "libPLIX.so.$version" ] || { echo "bad libPLIX.so.$major"; exit 1; }
[ "$(readlink "$prefix/$libdir/libPLIX.so")" = "libPLIX.so.$major" ] || { echo "bad libPLIX.so"; exit 1; }
readelf -d "$prefix/$libdir/libPLIX.so.$version" | grep -q "SONAME.*\[libPLIX\.so\.$major\]" ||
  { echo "SONAME is not libPLIX.so.$major"; exit 1; }
[ "$(readlink "$prefix/$libdir/libplixcodec.so.1")" = libplixcodec.so.1.0.0 ] &&
  [ "$(readlink "$prefix/$libdir/libplixcodec.so")" = libplixcodec.so.1 ] ||
  { echo "bad libplixcodec links"; exit 1; }
readelf -d "$prefix/$libdir/libplixcodec.so.1.0.0" | grep -q 'SONAME.*\[libplixcodec\.so\.1\]' ||
  { echo "SONAME is not libplixcodec.so.1"; exit 1; }
# No copy in another library folder to be found by mistake.
for other in lib lib64; do
  if [ "$other" != "$libdir" ] && [ -e "$prefix/$other/libPLIX.so" ]; then echo "unexpected $other/libPLIX.so"; exit 1; fi
done
# Moved elsewhere, the tree still works: the converter finds its library folder.
mv "$prefix" "$scratch/moved"
prefix="$scratch/moved"
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/plixconv")
grep -q "Loading... 'libPLIX.so' version 0.08" <<<"$out" || { echo "installed plixconv did not load the library"; exit 1; }
# And converts: a picture of the conformance set, byte for byte.
conf=$source_dir/tests/data/conformance
env -u LD_LIBRARY_PATH "$prefix/bin/plixconv" e -4 -r -j "$conf/images/mix_100x75.bmp" "$scratch/mix.plx" >/dev/null
cmp -s "$scratch/mix.plx" "$conf/cases/mix_100x75_m1_q4_x1.plx" || { echo "installed plixconv: wrong bytes"; exit 1; }

cat >"$scratch/client.c" <<'C'
#include <plix/plix.h>
#include <stdio.h>
int main(void) {
    PlixCodec *c = PLIX_Constructor();
    int32_t w, h;
    if (!c || !c->ops->CreateImage(c, 10, 3)) return 1;
    c->ops->GetBufferSize(c, &w, &h);
    printf("%d %d %06x %s %d\n", w, h, (unsigned)c->ops->GetPixel(c, 9, 2), PLIX_VERSION_STRING,
           PLIX_VERSION_AT_LEAST(PLIX_VERSION_MAJOR, PLIX_VERSION_MINOR, PLIX_VERSION_PATCH));
    PLIX_Destructor(c);
    return 0;
}
C
expected="16 8 ffffff $version 1"
cc -std=c11 "$scratch/client.c" $(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs plix) \
  -Wl,-rpath,"$prefix/$libdir" -o "$scratch/client_pc"
[ "$("$scratch/client_pc")" = "$expected" ] || { echo "pkg-config client failed"; exit 1; }
# Linked clients record the SONAME, not the unversioned name.
readelf -d "$scratch/client_pc" | grep -q "NEEDED.*\[libPLIX\.so\.$major\]" || { echo "client does not need libPLIX.so.$major"; exit 1; }

mkdir -p "$scratch/cmake_client"
cat >"$scratch/cmake_client/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(client C)
find_package(PLIX REQUIRED)
add_executable(client ../client.c)
target_link_libraries(client PRIVATE PLIX::PLIX)
CM
# A prefix alone finds lib64/cmake only where the system uses lib64 (not on
# Debian), so the package folder is named.
cmake -S "$scratch/cmake_client" -B "$scratch/cmake_client/b" -DCMAKE_PREFIX_PATH="$prefix" \
  -DPLIX_DIR="$prefix/$libdir/cmake/PLIX" >/dev/null
cmake --build "$scratch/cmake_client/b" >/dev/null
[ "$(LD_LIBRARY_PATH="$prefix/$libdir" "$scratch/cmake_client/b/client")" = "$expected" ] ||
  { echo "find_package client failed"; exit 1; }
# libplixcodec through pkg-config and through find_package: a conformance
# file decodes to its picture and encodes back to its bytes.
codec_case=mix_100x75_m1_q4_x1
cc -std=c11 "$source_dir/tests/install/codec_client.c" \
  $(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs plixcodec) \
  -Wl,-rpath,"$prefix/$libdir" -o "$scratch/codec_pc"
readelf -d "$scratch/codec_pc" | grep -q 'NEEDED.*\[libplixcodec\.so\.1\]' || { echo "client does not need libplixcodec.so.1"; exit 1; }
cat >"$scratch/cmake_client/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(client C)
find_package(PLIX REQUIRED)
add_executable(codec_client codec_client.c)
target_link_libraries(codec_client PRIVATE PLIX::plixcodec)
CM
cp "$source_dir/tests/install/codec_client.c" "$scratch/cmake_client/"
cmake -S "$scratch/cmake_client" -B "$scratch/cmake_client/c" -DCMAKE_PREFIX_PATH="$prefix" \
  -DPLIX_DIR="$prefix/$libdir/cmake/PLIX" >/dev/null
cmake --build "$scratch/cmake_client/c" >/dev/null
for client in "$scratch/codec_pc" "$scratch/cmake_client/c/codec_client"; do
  LD_LIBRARY_PATH="$prefix/$libdir" "$client" "$conf/cases/$codec_case.plx" "$scratch/c.bmp" \
    "$conf/images/mix_100x75.bmp" "$scratch/c.plx" 1 4 1 >/dev/null ||
    { echo "$client failed"; exit 1; }
  cmp -s "$scratch/c.bmp" "$conf/cases/$codec_case.expected.bmp" || { echo "$client: wrong picture"; exit 1; }
  cmp -s "$scratch/c.plx" "$conf/cases/$codec_case.plx" || { echo "$client: wrong bytes"; exit 1; }
done
echo "installed tree ($libdir) works"
