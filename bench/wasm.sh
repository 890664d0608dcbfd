#!/usr/bin/env bash
# The WebAssembly package in Node against the native library, both on one
# thread, in one run: encode and decode of a 4096 x 4096 photograph (the
# astronaut tiled 8 x 8, as bench/run.sh makes it), RGBA in memory.
# Usage: bench/wasm.sh [IMAGES_DIR]   (default: ../shared/images beside the project)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
images=${1:-$root/../shared/images}
reps=${REPS:-7}
qfactors=(0 4 15)
PLIX_SETUP_BENCH=1 "$root/scripts/setup.sh"
"$root/scripts/build_wasm.sh" >/dev/null
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DPLIX_BUILD_BENCH=ON \
  -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_VIEWER=OFF >/dev/null
cmake --build "$root/build-bench" -j "$(nproc)" --target plix_api_bench >/dev/null

work="$root/build-bench/pictures"
mkdir -p "$work"
big="$work/astronaut_tiled_4096x4096.bmp"
if [ ! -f "$big" ]; then
  /usr/bin/montage -mode concatenate -tile 8x8 \
    $(for i in $(seq 64); do echo "$images/astronaut_512x512.bmp"; done) \
    -type TrueColor "BMP3:$big"
fi

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores;" \
  "Node $(node --version); $(date -u +%Y-%m-%d)"
echo "Picture: $(basename "$big"), RGBA in memory, YUV, matrix 0; median of $reps runs, ms"
native=$("$root/build-bench/bin/plix_api_bench" "$big" "$reps" "${qfactors[@]}")
wasm=$(node "$root/bench/wasm.mjs" "$root/build-wasm/npm" "$big" "$reps" "${qfactors[@]}")
printf '%-8s %9s | %8s %8s %6s | %8s %8s %8s %6s\n' q-factor bytes "enc nat" "enc wasm" "×" \
  "dec nat" "dec new" "dec wasm" "×"
paste -d' ' <(echo "$native") <(echo "$wasm") | while read -r q bytes en de df _ wbytes ew dw; do
  if [ "$bytes" != "$wbytes" ]; then
    echo "q-factor $q: the module wrote $wbytes bytes, the native library $bytes" >&2
    exit 1
  fi
  printf '%-8s %9s | %8s %8s %6s | %8s %8s %8s %6s\n' "$q" "$bytes" "$en" "$ew" \
    "$(echo "scale=2; $ew / $en" | bc)" "$de" "$df" "$dw" "$(echo "scale=2; $dw / $df" | bc)"
done
echo "dec nat: into a buffer used before; dec new: into a new buffer each time, as decode() returns"
echo "a new array; × is the module's time over the native one (decode: over dec new)"
