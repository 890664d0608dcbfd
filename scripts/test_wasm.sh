#!/usr/bin/env bash
# The WebAssembly build, tested as its users get it:
#   1. the library's suite under Node, the SIMD-128 kernels compared with the
#      plain ones like every other level (scripts/build_wasm.sh --tests);
#   2. the packed plix-codec .tgz installed into a scratch folder: every
#      conformance file and encode case, junk, limits, every truncation of
#      one file and the decode fuzz corpus, against the native library;
#   3. the page in headless Chromium (screenshots in build-wasm/screenshots/).
# The native plix tool is the reference: PLIX_NATIVE_BIN, else build/bin, else
# built into build-wasm/native.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/build_wasm.sh" --tests >/dev/null

native=${PLIX_NATIVE_BIN:-}
if [ -z "$native" ]; then
  if [ -x "$root/build/bin/plix" ]; then
    native="$root/build/bin"
  else
    cmake -S "$root" -B "$root/build-wasm/native" -DCMAKE_BUILD_TYPE=Release \
      -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_VIEWER=OFF >/dev/null
    cmake --build "$root/build-wasm/native" -j "$jobs" --target plix >/dev/null
    native="$root/build-wasm/native/bin"
  fi
fi
export PLIX_ROOT="$root" PLIX_NATIVE_BIN="$native"

echo "-- the library's suite under Node"
# Not here: tests that start processes (the converter, FIFOs fed by a
# thread) or threads, which this single-threaded build has none of.
skip='ConverterRun.*:Plixconv*:Threads.*:Dsp.ChosenOnceForTheProcessAndConsistent:BitmapFiles.PipesAreReadWithoutSeeking'
(cd "$root/build-wasm/cmake/tests" &&
  node "$root/build-wasm/cmake/bin/plix_tests.js" --gtest_brief=1 --gtest_filter="-$skip")

echo "-- the package plix-codec from its .tgz"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(
  cd "$scratch"
  echo '{ "name": "scratch", "private": true, "type": "module" }' >package.json
  npm install --offline --no-audit --no-fund --silent "$root"/build-wasm/plix-codec-*.tgz
  cp "$root/tests/web/package.test.mjs" "$root/tests/web/images.mjs" .
  node --test package.test.mjs
)

echo "-- the page in headless Chromium"
"$root/scripts/setup_npm.sh"
(cd "$root/tests/web" && node --test browser.test.mjs)
echo "screenshots: $root/build-wasm/screenshots/"
