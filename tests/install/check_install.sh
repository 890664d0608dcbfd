#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a client would: the
# layout, the converter finding ../lib, a C program built with pkg-config and
# one built with find_package(PLIX).
# Usage: check_install.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/plixconv lib/libPLIX.so include/plix/plix.h lib/pkgconfig/plix.pc lib/cmake/PLIX/PLIXConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
# Moved elsewhere, the tree still works: the converter finds ../lib.
mv "$prefix" "$scratch/moved"
prefix="$scratch/moved"
out=$("$prefix/bin/plixconv")
grep -q "Loading... 'libPLIX.so' version 0.08" <<<"$out" || { echo "installed plixconv did not load the library"; exit 1; }

cat >"$scratch/client.c" <<'C'
#include <plix/plix.h>
#include <stdio.h>
int main(void) {
    PlixCodec *c = PLIX_Constructor();
    int32_t w, h;
    if (!c || !c->ops->CreateImage(c, 10, 3)) return 1;
    c->ops->GetBufferSize(c, &w, &h);
    printf("%d %d %06x\n", w, h, (unsigned)c->ops->GetPixel(c, 9, 2));
    PLIX_Destructor(c);
    return 0;
}
C
cc -std=c11 "$scratch/client.c" $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs plix) \
  -Wl,-rpath,"$prefix/lib" -o "$scratch/client_pc"
[ "$("$scratch/client_pc")" = "16 8 ffffff" ] || { echo "pkg-config client failed"; exit 1; }

mkdir -p "$scratch/cmake_client"
cat >"$scratch/cmake_client/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(client C)
find_package(PLIX REQUIRED)
add_executable(client ../client.c)
target_link_libraries(client PRIVATE PLIX::PLIX)
CM
cmake -S "$scratch/cmake_client" -B "$scratch/cmake_client/b" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake_client/b" >/dev/null
[ "$(LD_LIBRARY_PATH="$prefix/lib" "$scratch/cmake_client/b/client")" = "16 8 ffffff" ] ||
  { echo "find_package client failed"; exit 1; }
echo "installed tree works"
