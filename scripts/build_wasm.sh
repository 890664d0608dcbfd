#!/usr/bin/env bash
# Builds the codec with Debian's emscripten into build-wasm/:
#   web/                       the page (python3 -m http.server -d build-wasm/web)
#   npm/                       the package plix-codec
#   plix-codec-<version>.tgz   the package as npm pack makes it
#   cmake/                     the CMake build (with --tests, the suite for Node too)
# Usage: scripts/build_wasm.sh [--tests]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-wasm"
jobs=$(nproc 2>/dev/null || echo 2)
tests=OFF
[ "${1:-}" = --tests ] && tests=ON

if ! command -v emcmake >/dev/null; then
  echo "emscripten is missing: run scripts/setup.sh" >&2
  exit 1
fi
# Debian's emscripten finds its JavaScript tools (acorn and others) only on
# this path when Node is not Debian's own build.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"

gtest_opts=()
if [ "$tests" = ON ]; then
  # GoogleTest from Debian's sources, built for WebAssembly once.
  gtest="$out/googletest"
  if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    emcmake cmake -S /usr/src/googletest -B "$out/googletest-build" -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON \
      -DCMAKE_INSTALL_PREFIX="$gtest" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
    cmake --build "$out/googletest-build" -j "$jobs" >/dev/null
    cmake --install "$out/googletest-build" >/dev/null
  fi
  gtest_opts=(-DGTest_DIR="$gtest/lib/cmake/GTest")
fi

# (emcmake says what it runs on standard error: not needed here.)
emcmake cmake -S "$root" -B "$out/cmake" -Wno-dev -DCMAKE_BUILD_TYPE=Release \
  -DPLIX_BUILD_VIEWER=OFF -DPLIX_BUILD_TESTS="$tests" "${gtest_opts[@]}" 2>&1 >/dev/null |
  { grep -v '^configure: ' >&2 || true; }
targets=(plix_wasm)
[ "$tests" = ON ] && targets+=(plix_tests)
cmake --build "$out/cmake" -j "$jobs" --target "${targets[@]}"

# The package: the module, emscripten's loader, the manifest and the files
# written by hand.
wasm="$out/cmake/wasm"
rm -rf "$out/npm"
mkdir -p "$out/npm"
cp "$root/web/package/plix-codec.js" "$root/web/package/plix-codec.d.ts" \
  "$root/web/package/README.md" "$root/LICENSE" \
  "$wasm/plix-wasm.mjs" "$wasm/plix-wasm.wasm" "$wasm/package.json" "$out/npm/"
rm -f "$out"/plix-codec-*.tgz
(cd "$out" && npm pack ./npm --silent --pack-destination "$out" >/dev/null)

# The page: its own files and the package's beside them.
rm -rf "$out/web"
mkdir -p "$out/web/plix-codec"
cp -r "$root/web/page/." "$out/web/"
cp "$out/npm/plix-codec.js" "$out/npm/plix-wasm.mjs" "$out/npm/plix-wasm.wasm" "$out/web/plix-codec/"
echo "build-wasm: $(cd "$out" && ls plix-codec-*.tgz), web/, npm/"
