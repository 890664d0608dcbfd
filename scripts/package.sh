#!/usr/bin/env bash
# Builds the Debian packages, one per install component, into
# build-packages/packages/: install prefix /usr, Debian's build flags,
# dependencies from dpkg-shlibdeps.
# Usage: scripts/package.sh [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${PLIX_PACKAGE_BUILD_DIR:-$root/build-packages}
jobs=$(nproc 2>/dev/null || echo 2)

# Hardening and optimisation flags as Debian's own packages get them, with
# every hardening feature on.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cflags=$(dpkg-buildflags --get CFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_BENCH=OFF -DPLIX_BUILD_FUZZ=OFF -DPLIX_INSTALL_DOCS=OFF \
  -DCMAKE_C_FLAGS="$cppflags $cflags" -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null

rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
rm -rf "$build/packages/_CPack_Packages"
ls -1 "$build/packages/"*.deb
