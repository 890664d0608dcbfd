#!/usr/bin/env bash
# Builds and runs the benchmark: the library against TurboJPEG in memory on the
# shared photographs and a 4096 x 4096 picture, then plixconv against cjpeg and
# djpeg as whole processes (time and peak resident memory), plix's PNG output
# at each --png-compression, and plix against cjpeg and djpeg on a 16384 x 16384
# picture, streamed, on one thread and on every core.
# Usage: bench/run.sh [IMAGES_DIR]   (default: ../shared/images beside the project)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
images=${1:-$root/../shared/images}
PLIX_SETUP_BENCH=1 "$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build-bench" -DPLIX_BUILD_BENCH=ON -DPLIX_BUILD_TESTS=OFF \
  -DPLIX_BUILD_VIEWER=OFF >/dev/null

work="$root/build-bench/pictures"
mkdir -p "$work"
big="$work/astronaut_tiled_4096x4096.bmp"
if [ ! -f "$big" ]; then
  # The astronaut tiled 8 x 8 without resampling.
  /usr/bin/montage -mode concatenate -tile 8x8 \
    $(for i in $(seq 64); do echo "$images/astronaut_512x512.bmp"; done) \
    -type TrueColor "BMP3:$big"
fi

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; $(date -u +%Y-%m-%d)"
pictures=("$images"/*.bmp "$big")
"$root/build-bench/bin/plix_bench" --reps "${REPS:-7}" "${pictures[@]}"

echo
echo "== Whole programs on $(basename "$big") (hyperfine; peak resident memory from GNU time)"
bin="$root/build-bench/bin"
cd "$work"
jpeg_q4=90
for q in 0 4 15; do
  "$bin/plixconv" e -$q "$big" "big_q$q.plx" >/dev/null
  plx_size=$(stat -c %s "big_q$q.plx")
  # JPEG quality whose file is closest in size.
  best=1; bestdiff=-1
  for jq in $(seq 5 100); do
    # (Low qualities warn that their tables exceed baseline; the size is what counts here.)
    s=$(cjpeg -sample 1x1 -dct int -quality "$jq" "$big" 2>/dev/null | wc -c)
    d=$(( s > plx_size ? s - plx_size : plx_size - s ))
    if [ $bestdiff -lt 0 ] || [ $d -lt $bestdiff ]; then best=$jq; bestdiff=$d; fi
  done
  cjpeg -sample 1x1 -dct int -quality "$best" -outfile "big_q$q.jpg" "$big" 2>/dev/null
  if [ "$q" = 4 ]; then jpeg_q4=$best; fi
  echo
  echo "-- PLIX q-factor $q ($plx_size bytes) against JPEG quality $best ($(stat -c %s "big_q$q.jpg") bytes)"
  hyperfine -N --warmup 1 --runs "${RUNS:-10}" --style basic \
    "$bin/plixconv e -$q $big out_q$q.plx" \
    "cjpeg -sample 1x1 -dct int -quality $best -outfile out_q$q.jpg $big" \
    "$bin/plixconv d big_q$q.plx out_q$q.bmp" \
    "djpeg -dct int -bmp -outfile out_q$q.jpg.bmp big_q$q.jpg" 2>&1 | grep -E 'Benchmark|Time'
  for cmd in "$bin/plixconv e -$q $big out_q$q.plx" \
             "cjpeg -sample 1x1 -dct int -quality $best -outfile out_q$q.jpg $big" \
             "$bin/plixconv d big_q$q.plx out_q$q.bmp" \
             "djpeg -dct int -bmp -outfile out_q$q.jpg.bmp big_q$q.jpg"; do
    rss=$( { /usr/bin/time -f '%M' $cmd >/dev/null; } 2>&1 | tail -1)
    printf '  peak RSS %7.1f MiB  %s\n' "$(echo "$rss / 1024" | bc -l)" "${cmd/#$bin\//}"
  done
done
echo
echo "Pixel buffer of the 4096 x 4096 picture: 64.0 MiB (limit for plixconv: 80.0 MiB)"

# Peak resident memory of one run of a command, in MiB.
peak_rss() {
  /usr/bin/time -o rss.txt -f '%M' "$@" >/dev/null 2>&1
  echo "scale=1; $(tail -1 rss.txt) / 1024" | bc -l
}

# PNG output at each level against PPM, one thread, for the tiled picture
# (whose 512-pixel repeats zlib's search finds) and the largest photograph.
"$bin/plixconv" e -4 "$images/hubble_1000x872.bmp" hubble_q4.plx >/dev/null
for plx in big_q4.plx hubble_q4.plx; do
echo
echo "== plix decode to PNG at each --png-compression, against PPM ($plx, one thread)"
pixels=$("$bin/plix" info --json "$plx" |
  sed -n 's/.*"width": \([0-9]*\), "height": \([0-9]*\).*/\1 * \2/p' | bc)
for level in ppm 0 1 2 6 9; do
  if [ "$level" = ppm ]; then args=(--format ppm); else args=(--format png --png-compression "$level"); fi
  # Median of five runs; user + system time, as the machine may be shared.
  times=$(for _ in 1 2 3 4 5; do
    /usr/bin/time -o times.txt -f '%e %U %S' "$bin/plix" decode -f --quiet --threads 1 \
      "${args[@]}" "$plx" -o level.out >/dev/null 2>&1
    tail -1 times.txt
  done | sort -n | sed -n 3p)
  read -r wall user sys <<<"$times"
  printf '  %-4s wall %5.2f s  cpu %5.2f s  %6.1f MP/s  %10d bytes\n' "$level" "$wall" \
    "$(echo "$user + $sys" | bc -l)" "$(echo "$pixels / $wall / 1000000" | bc -l)" "$(stat -c %s level.out)"
done
done
rm -f level.out times.txt

echo
echo "== Whole programs on a 16384 x 16384 picture, streamed (the astronaut tiled 32 x 32; q4 against JPEG quality $jpeg_q4)"
huge="$work/astronaut_tiled_16384x16384.ppm"
if [ ! -f "$huge" ]; then
  /usr/bin/python3 - "$images/astronaut_512x512.bmp" "$huge" <<'PY'
import sys
from PIL import Image
tile = Image.open(sys.argv[1]).convert('RGB')
rows = [tile.crop((0, y, 512, y + 1)).tobytes() * 32 for y in range(512)]
with open(sys.argv[2], 'wb') as f:
    f.write(b'P6\n16384 16384\n255\n')
    for _ in range(32):
        f.writelines(rows)
PY
fi
"$bin/plix" encode -f --quiet -q 4 "$huge" -o huge.plx
cjpeg -sample 1x1 -dct int -quality "$jpeg_q4" -outfile huge.jpg "$huge"
echo "-- PLIX $(stat -c %s huge.plx) bytes, JPEG $(stat -c %s huge.jpg) bytes"
# Outputs to /dev/null: writing 805 MB to the disk would time the disk.
commands=(
  "$bin/plix encode -f --quiet --threads 1 -q 4 $huge -o /dev/null"
  "$bin/plix encode -f --quiet --threads 2 -q 4 $huge -o /dev/null"
  "cjpeg -sample 1x1 -dct int -quality $jpeg_q4 -outfile /dev/null $huge"
  "$bin/plix decode -f --quiet --threads 1 --format ppm huge.plx -o /dev/null"
  "$bin/plix decode -f --quiet --threads 2 --format ppm huge.plx -o /dev/null"
  "djpeg -dct int -outfile /dev/null huge.jpg"
  "$bin/plix decode -f --quiet --threads 1 --format png huge.plx -o /dev/null"
  "$bin/plix decode -f --quiet --threads 2 --format png huge.plx -o /dev/null"
  "$bin/plix decode -f --quiet --threads 2 --format bmp huge.plx -o out_huge.bmp"
)
hyperfine -N --warmup 1 --runs "${HUGE_RUNS:-3}" --style basic "${commands[@]}" 2>&1 | grep -E 'Benchmark|Time'
for cmd in "${commands[@]}"; do
  # shellcheck disable=SC2086 # the command's words
  printf '  peak RSS %7.1f MiB  %s\n' "$(peak_rss $cmd)" "${cmd/#$bin\//}"
done
rm -f out_huge.* rss.txt
