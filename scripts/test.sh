#!/usr/bin/env bash
# Sets everything up, builds and runs every test: the suite in a release build,
# the suite again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# threads under ThreadSanitizer, the converter under valgrind, and the
# WebAssembly build under Node and Chromium.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== Release build and tests"
"$root/scripts/build.sh" "$root/build" -DPLIX_BUILD_TESTS=ON -DPLIX_BUILD_VIEWER=ON >/dev/null
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== The viewer under a virtual X server with a window manager"
"$root/scripts/viewer_screenshots.sh" "$root/build" "$root/build/screenshots"
echo "== LXImage-Qt opens PLIX through the Qt 5 plugin"
"$root/scripts/lximage_screenshots.sh" "$root/build" "$root/build/screenshots"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPLIX_SANITIZE=address,undefined >/dev/null
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer: codecs on several threads, libplixcodec's threads (Threads.*)"
cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIX_SANITIZE=thread \
  -DPLIX_BUILD_VIEWER=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target plix_tests >/dev/null
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix_tests" --gtest_filter='Threads.*'

echo "== ThreadSanitizer: the plix tool converting a folder with two workers"
cmake --build "$root/build-tsan" -j "$jobs" --target plix >/dev/null
tsan_out=$(mktemp -d)
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix" decode -j 2 --quiet -o "$tsan_out/png" \
  "$root"/tests/data/conformance/cases/*.plx 2>&1 | { grep -v '^warning: ' || true; }
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix" encode -j 2 --quiet -o "$tsan_out/plx" \
  "$tsan_out"/png/mix_*.png
# One picture of several PNG bands, compressed on four threads; its rows
# reach the encoder in pieces, each read while the one before is coded.
convert -size 3000x1000 gradient:red-blue -depth 8 "$tsan_out/wide.ppm"
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix" encode --threads 2 --quiet \
  "$tsan_out/wide.ppm" -o "$tsan_out/wide.plx"
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix" decode --threads 4 --quiet \
  "$tsan_out/wide.plx" -o "$tsan_out/wide.png"
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/plix" encode --threads 2 --quiet \
  "$tsan_out/wide.png" -o "$tsan_out/wide2.plx"
rm -rf "$tsan_out"

echo "== Fuzz corpora and regression inputs replayed under AddressSanitizer + UndefinedBehaviorSanitizer"
# A short, bounded replay in the sanitizer build above (any compiler): every
# harness over its corpus, its regression inputs and its seed files.
cmake -S "$root" -B "$root/build-asan" -DPLIX_BUILD_FUZZ=ON >/dev/null
cmake --build "$root/build-asan" -j "$jobs" >/dev/null
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -L fuzz-replay)

echo "== valgrind memcheck: the converter in both directions"
"$root/scripts/valgrind_plixconv.sh" "$root/build"

echo "== Debian packages: build, lintian, install, use from /usr, purge"
"$root/tests/packaging/test_packages.sh"

# On a 64-bit ARM machine the builds above are the ARM ones already.
if [ "$(uname -m)" = x86_64 ]; then
  echo "== 64-bit ARM: cross build, test suite and converter under qemu-aarch64"
  "$root/scripts/test_arm64.sh"
fi

# Wine runs the Windows programs natively on x86 machines only.
if [ "$(uname -m)" = x86_64 ]; then
  echo "== Windows: 64- and 32-bit cross builds and the installer, their tests under Wine"
  "$root/scripts/build_windows.sh" >/dev/null
  "$root/tests/windows/run_wine_tests.sh"
  "$root/tests/windows/run_installer_tests.sh"
fi

echo "== WebAssembly: the suite under Node, the plix-codec package from its .tgz, the page in headless Chromium"
PLIX_NATIVE_BIN="$root/build/bin" "$root/scripts/test_wasm.sh"

echo "== All tests passed"
