#!/bin/sh
# Two builds of libplixcodec timed in processes of their own, in turn: on a
# shared virtual machine the speed moves from minute to minute, and in one
# process two builds can bias each other. ROUNDS processes of each, every one
# pinned to processor CPU (default 0: the two processors of a virtual machine
# need not be equally fast), so only one-thread times are meaningful; CPU=
# (empty) leaves the processes unpinned and prints two-thread times too.
# PLIX_AB_THREADS=1 leaves the two-thread calls out.
# Usage: bench/ab.sh PLIX_AB LIB_A LIB_B FILE.plx encode|decode QFACTOR [ROUNDS] [REPS]
set -eu
[ $# -ge 6 ] || { echo "usage: $0 PLIX_AB LIB_A LIB_B FILE.plx encode|decode QFACTOR [ROUNDS] [REPS]" >&2; exit 2; }
ab=$1 a=$2 b=$3 file=$4 what=$5 q=$6 rounds=${7:-5} reps=${8:-31}
cpu=${CPU-0}
run() {
    if [ -n "$cpu" ]; then
        taskset -c "$cpu" "$ab" "$1" - "$file" "$what" "$q" "$reps"
    else
        "$ab" "$1" - "$file" "$what" "$q" "$reps"
    fi | sed -n 's/.*1 thread \([0-9.]*\) ms, 2 threads \([0-9.a-z-]*\) ms.*/\1 \2/p'
}
out=$(i=0; while [ "$i" -lt "$rounds" ]; do
    echo "A $(run "$a")"
    echo "B $(run "$b")"
    i=$((i + 1))
done)
echo "$out" | awk -v pinned="$cpu" '
    $1 == "A" { a1[++na] = $2; a2[na] = $3 }
    $1 == "B" { b1[++nb] = $2; b2[nb] = $3 }
    function median(v, n,   i, j, t, w) {
        for (i = 1; i <= n; ++i) w[i] = v[i]
        for (i = 2; i <= n; ++i) for (j = i; j > 1 && w[j - 1] > w[j]; --j) { t = w[j]; w[j] = w[j - 1]; w[j - 1] = t }
        return n % 2 ? w[(n + 1) / 2] : (w[n / 2] + w[n / 2 + 1]) / 2
    }
    END {
        for (i = 1; i <= na; ++i) { r1[i] = b1[i] / a1[i]; r2[i] = b2[i] / a2[i]; s = s sprintf(" %+.1f", (r1[i] - 1) * 100) }
        printf "1 thread: A %.3f ms, B %.3f ms, B over A %+.1f %% (rounds:%s)\n", median(a1, na), median(b1, nb), (median(r1, na) - 1) * 100, s
        if (pinned == "") printf "2 threads: A %.3f ms, B %.3f ms, B over A %+.1f %%\n", median(a2, na), median(b2, nb), (median(r2, na) - 1) * 100
    }'
