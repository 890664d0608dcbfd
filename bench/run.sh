#!/usr/bin/env bash
# Builds and runs the benchmark: the library against TurboJPEG in memory on the
# shared photographs and a 4096 x 4096 picture, then plixconv against cjpeg and
# djpeg as whole processes (time and peak resident memory).
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
