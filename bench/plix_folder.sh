#!/usr/bin/env bash
# Decodes a folder of 50 pictures made from the shared photographs with
# `plix decode -j 1` and `-j 2`, to PNG and to PPM, next to dwebp (to PNG) and
# djpeg (to PPM) over the same pictures coded as WebP and JPEG, one process per
# file, one at a time and two at a time. Prints files per second.
# Usage: bench/plix_folder.sh [IMAGES_DIR]   (default: ../shared/images beside the project)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
images=${1:-$root/../shared/images}
runs=${RUNS:-5}
PLIX_SETUP_BENCH=1 "$root/scripts/setup.sh"
if ! command -v dwebp >/dev/null; then
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends webp >/dev/null
fi
build=$root/build-bench-tool
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLIX_BUILD_TESTS=OFF -DPLIX_BUILD_VIEWER=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target plix plixconv PLIX >/dev/null
bin=$build/bin

work=$build/folder
rm -rf "$work"
mkdir -p "$work/plx" "$work/webp" "$work/jpg" "$work/out"
photos=("$images"/*.bmp)
# cwebp does not read BMP: the same pixels as PNG.
mkdir -p "$work/src"
for photo in "${photos[@]}"; do
  /usr/bin/convert "$photo" "$work/src/$(basename "$photo" .bmp).png"
done
# 50 pictures: each photograph at several compression levels; WebP and JPEG
# at one quality each for the other decoders.
for i in $(seq 0 49); do
  photo=${photos[$((i % ${#photos[@]}))]}
  q=$(( (i / ${#photos[@]}) % 8 ))
  name=$(printf 'pic%02d' "$i")
  "$bin/plixconv" e "-$q" "$photo" "$work/plx/$name.plx" >/dev/null
  cwebp -quiet -q 90 "$work/src/$(basename "$photo" .bmp).png" -o "$work/webp/$name.webp"
  cjpeg -quality 90 -outfile "$work/jpg/$name.jpg" "$photo"
done

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; $(date -u +%Y-%m-%d)"
echo "50 pictures from ${#photos[@]} photographs; $(du -sh "$work/plx" | cut -f1) of PLIX files"
cd "$work"
mkdir -p out/webp out/jpg
json=$work/hyperfine.json
hyperfine -N --warmup 1 --runs "$runs" --export-json "$json" --style basic \
  -n "plix decode -j 1 (PNG)" "$bin/plix decode -f -j 1 --threads 1 --quiet -o out/png1 $(echo plx/*.plx)" \
  -n "plix decode -j 2 (PNG)" "$bin/plix decode -f -j 2 --threads 1 --quiet -o out/png2 $(echo plx/*.plx)" \
  -n "dwebp one at a time (PNG)" "sh -c 'for f in webp/*.webp; do dwebp -quiet \$f -o out/\${f#webp/}.png; done'" \
  -n "dwebp two at a time (PNG)" "sh -c 'ls webp/*.webp | xargs -P 2 -I{} dwebp -quiet {} -o out/{}.png'" \
  -n "plix decode -j 1 (PPM)" "$bin/plix decode -f -j 1 --threads 1 --quiet --format ppm -o out/ppm1 $(echo plx/*.plx)" \
  -n "plix decode -j 2 (PPM)" "$bin/plix decode -f -j 2 --threads 1 --quiet --format ppm -o out/ppm2 $(echo plx/*.plx)" \
  -n "djpeg one at a time (PPM)" "sh -c 'for f in jpg/*.jpg; do djpeg -outfile out/\${f#jpg/}.ppm \$f; done'" \
  -n "djpeg two at a time (PPM)" "sh -c 'ls jpg/*.jpg | xargs -P 2 -I{} djpeg -outfile out/{}.ppm {}'" \
  >/dev/null
python3 - "$json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))['results']
base = {}
print('%-28s %8s %8s %10s %8s' % ('program', 'wall s', 'files/s', 'CPU s', 'speed-up'))
for r in results:
    name, mean = r['command'], r['mean']
    first = name.replace('-j 2', '-j 1').replace('two at a time', 'one at a time')
    base.setdefault(first, mean)
    print('%-28s %8.3f %8.1f %10.3f %8.2f' % (name, mean, 50 / mean, r['user'] + r['system'],
                                             base[first] / mean))
PY
