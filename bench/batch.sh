#!/usr/bin/env bash
# python3 -m plix.batch on a local cluster of 1 and of 2 worker processes,
# against plix -j 1 and -j 2, over one tree of pictures made from the shared
# photographs: PLIX to PNG and PNG to PLIX. Prints megapixels per second of
# the whole command (cluster start included) and of the conversion alone
# (the batch's report), best of RUNS runs.
# Usage: bench/batch.sh [IMAGES_DIR]   (default: ../shared/images beside the project)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
images=${1:-$root/../shared/images}
runs=${RUNS:-3}
"$root/scripts/setup.sh"
build=$root/build-bench-py
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLIX_BUILD_TESTS=OFF \
  -DPLIX_BUILD_VIEWER=OFF >/dev/null
cmake --build "$build" -j 2 --target plix plixcodec PLIX >/dev/null
export PYTHONPATH=$root/python PLIXCODEC_LIBRARY=$build/bin/libplixcodec.so.1
work=$build/batch
rm -rf "$work"
mkdir -p "$work"

# 36 pictures in 6 folders: each photograph tiled 2 x 2 and shifted, at
# q-factors 0 to 5; the same pixels as PNG for the other direction.
/usr/bin/python3 - "$images" "$work" <<'PY'
import glob, os, sys
import numpy as np
from PIL import Image
import plix
images, work = sys.argv[1:]
photos = [np.asarray(Image.open(p).convert("RGB")) for p in sorted(glob.glob(images + "/*.bmp"))]
for i in range(36):
    a = np.roll(np.tile(photos[i % len(photos)], (2, 2, 1)), 61 * i, axis=1)
    rel = "set%d/pic%02d" % (i % 6, i)
    for kind in ("plx", "png"):
        os.makedirs(os.path.join(work, kind, "set%d" % (i % 6)), exist_ok=True)
    with open(os.path.join(work, "plx", rel + ".plx"), "wb") as f:
        f.write(plix.encode(a, qfactor=i % 6))
    Image.fromarray(a).save(os.path.join(work, "png", rel + ".png"))
PY
mp=$(/usr/bin/python3 -c "
import glob, sys, plix
print(sum(plix.info(p).width * plix.info(p).height for p in glob.glob('$work/plx/*/*.plx')) / 1e6)")

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; $(date -u +%Y-%m-%d)"
photos=("$images"/*.bmp)
echo "36 pictures, $(printf '%.1f' "$mp") MP, from ${#photos[@]} photographs"
# The GIL: one thread decoding (encoding) two 3.8 MP pictures four times
# each, against two threads doing one picture each; best of 5 rounds.
/usr/bin/python3 - "$images" <<'PY'
import glob, sys, threading, time
import numpy as np
from PIL import Image
import plix
photo = np.asarray(Image.open(sorted(glob.glob(sys.argv[1] + "/coffee*.bmp"))[0]).convert("RGB"))
arrays = [np.tile(photo, (4, 4, 1)), np.tile(photo[::-1], (4, 4, 1))]
pictures = [plix.encode(a) for a in arrays]
for name, work, inputs in (("decode", plix.decode, pictures), ("encode", plix.encode, arrays)):
    def job(x):
        for _ in range(4):
            work(x)
    best = []
    for _ in range(5):
        t = time.perf_counter()
        for x in inputs:
            job(x)
        one = time.perf_counter() - t
        threads = [threading.Thread(target=job, args=(x,)) for x in inputs]
        t = time.perf_counter()
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        best.append((time.perf_counter() - t) / one)
    print("two threads, two pictures (%s): %.2f of one thread's time (best of 5; rounds %s)"
          % (name, min(best), " ".join("%.2f" % b for b in best)))
PY
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-38s %9s %12s %12s %14s\n' command "wall s" "MP/s whole" "MP/s tasks" "MP/CPU-s tasks"

# Best of the runs: wall time of the command and, for the batch, the
# conversion's own figure from its report.
measure() {
  local label=$1 out=$2
  shift 2
  local best="" best_tasks="" best_cpu=""
  for _ in $(seq "$runs"); do
    rm -rf "$out"
    local start end wall
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    wall=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then best=$wall; fi
    if [ -f "$out/plix-batch-report.json" ]; then
      local t c
      read -r t c < <(/usr/bin/python3 -c "
import json; r = json.load(open('$out/plix-batch-report.json'))
print(r['megapixels_per_second'], round(r['megapixels'] / r['task_cpu_seconds'], 1))")
      if [ -z "$best_tasks" ] || [ "$(echo "$t > $best_tasks" | bc -l)" = 1 ]; then best_tasks=$t; fi
      if [ -z "$best_cpu" ] || [ "$(echo "$c > $best_cpu" | bc -l)" = 1 ]; then best_cpu=$c; fi
    fi
  done
  printf '%-38s %9.2f %12.1f %12s %14s\n' "$label" "$best" "$(echo "$mp / $best" | bc -l)" \
    "${best_tasks:--}" "${best_cpu:--}"
}

cd "$work"
plx_files=$(find plx -name '*.plx' | sort)
png_files=$(find png -name '*.png' | sort)
for n in 1 2; do
  measure "plix.batch --workers $n (PLIX to PNG)" out-b$n /usr/bin/python3 -m plix.batch plx out-b$n \
    --to png --workers "$n" --quiet
done
for n in 1 2; do
  # shellcheck disable=SC2086
  measure "plix decode -j $n (PLIX to PNG)" out-t$n "$build/bin/plix" decode -f -j "$n" --quiet \
    -o out-t$n $plx_files
done
for n in 1 2; do
  measure "plix.batch --workers $n (PNG to PLIX)" out-e$n /usr/bin/python3 -m plix.batch png out-e$n \
    --to plix --workers "$n" --quiet
done
for n in 1 2; do
  # shellcheck disable=SC2086
  measure "plix encode -j $n (PNG to PLIX)" out-u$n "$build/bin/plix" encode -f -j "$n" --quiet \
    -o out-u$n $png_files
done
