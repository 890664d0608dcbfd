#!/usr/bin/env bash
# Sets everything up, builds, and converts the bundled photograph to PLIX and
# back: at the default settings and at a stronger q-factor.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# Its own folder, so that the test build keeps its settings.
"$root/scripts/build.sh" "$root/build-demo" -DPLIX_BUILD_TESTS=OFF >/dev/null

bin="$root/build-demo/bin"
out="$root/out"
mkdir -p "$out"
photo="$root/samples/coffee_600x400.bmp"
cp "$photo" "$out/coffee.bmp"

"$bin/plixconv" e "$out/coffee.bmp"                          # default: YUV, q-factor 0, matrix 0
"$bin/plixconv" e -8 "$out/coffee.bmp" "$out/coffee_q8.plx"  # stronger compression
"$bin/plixconv" d "$out/coffee.bmp.plx"
"$bin/plixconv" d "$out/coffee_q8.plx"

size() { stat -c %s "$1"; }
src=$(size "$out/coffee.bmp")
echo
echo "File sizes (source $src bytes, 600 x 400 pixels):"
for f in coffee.bmp.plx coffee_q8.plx; do
  s=$(size "$out/$f")
  awk -v f="$f" -v s="$s" -v src="$src" \
    'BEGIN { printf "  %-20s %8d bytes  ratio %5.1f : 1  %5.2f bits per pixel\n", f, s, src / s, s * 8 / (600 * 400) }'
done
for f in coffee.bmp.plx.bmp coffee_q8.plx.bmp; do
  printf "  %-20s %8d bytes (decoded)\n" "$f" "$(size "$out/$f")"
done
echo "Output in $out"
