#!/usr/bin/env bash
# Runs each fuzz harness for a given time and reports executions, coverage and
# findings.
#
# Usage: scripts/fuzz.sh [SECONDS] [HARNESS...]
#   SECONDS   per harness (default 600)
#   HARNESS   decode bmp roundtrip cli calls viewer pictures api_decode api_stream
#             api_threads
#             (default: all that are built)
# Environment:
#   PLIX_FUZZ_PARALLEL  harnesses run at once (default 2); each runs with
#                       -jobs=1 -workers=1
#   PLIX_FUZZ_BUILD     build folder (default build-libfuzzer)
#   PLIX_FUZZ_MERGE=1   merge what a run found into fuzz/corpus/<harness>
#   PLIX_FUZZ_CPU=1     SECONDS counts CPU time, not wall time: on a machine
#                       shared with other work each harness still gets it all
#   PLIX_FUZZ_TIMEOUT   seconds an input may take before it is a finding
#                       (default 1; more on a loaded machine, where slow units
#                       are the load's, and each one restarts the fuzzer)
#
# The build is clang with AddressSanitizer and UndefinedBehaviorSanitizer and
# coverage instrumentation on all code. Each harness starts from its corpus in
# fuzz/corpus, its regression inputs in fuzz/regressions and the project's
# test files; what it finds goes to <build>/findings/<harness>/, with the
# fuzzer's log beside it. An input slower than the timeout is a finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
build=${PLIX_FUZZ_BUILD:-$root/build-libfuzzer}
parallel=${PLIX_FUZZ_PARALLEL:-2}
timeout=${PLIX_FUZZ_TIMEOUT:-1}
data=$root/tests/data

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DPLIX_SANITIZE=address,undefined -DPLIX_BUILD_FUZZ=ON -DPLIX_FUZZ_ENGINE=ON \
  -DPLIX_BUILD_TESTS=OFF >/dev/null

all=(decode bmp roundtrip cli calls viewer pictures api_decode api_stream api_threads)
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then harnesses=("${all[@]}"); fi
targets=()
for h in "${harnesses[@]}"; do targets+=("${h}_fuzzer"); done
# (grep -q would stop reading early and fail the pipe under pipefail)
if [[ " ${harnesses[*]} " == *" viewer "* ]] &&
  ! cmake --build "$build" --target help 2>/dev/null | grep -w viewer_fuzzer >/dev/null; then
  echo "viewer harness not available (Qt 6 missing): skipped"
  harnesses=("${harnesses[@]/viewer/}")
  targets=("${targets[@]/viewer_fuzzer/}")
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target ${targets[*]} PLIX >/dev/null

seeds_for() {
  case $1 in
    decode | api_decode | api_threads) echo "$data/conformance/cases" ;;
    bmp) echo "$data/bmp $data/bmpsuite" ;;
    viewer) echo "$data/bmp $data/bmpsuite $data/conformance/cases" ;;
    *) echo "" ;;
  esac
}

# Longest input: PLIX bodies may cross the reader's 64 KiB chunks.
max_len_for() {
  case $1 in
    decode) echo 140000 ;;
    cli) echo 4096 ;;
    *) echo 65536 ;;
  esac
}

cpu=${PLIX_FUZZ_CPU:-0}

# CPU seconds (user + system) of a process and all its descendants.
tree_cpu() {
  local all=$1 level=$1
  while level=$(pgrep -d, -P "$level"); [ -n "$level" ]; do all="$all,$level"; done
  { ps -o times= -p "$all" 2>/dev/null || true; } | awk '{s += $1} END {print s + 0}'
}

run_one() {
  local h=$1 work=$build/fuzzing/$h
  rm -rf "$work"
  # The harnesses' scratch files: a fuzzer that stops on a finding leaves
  # its scratch folder behind, so keep them in the work folder.
  mkdir -p "$work/corpus" "$work/findings" "$work/tmp"
  export TMPDIR=$work/tmp
  local dirs=("$work/corpus")
  for d in "$root/fuzz/corpus/$h" "$root/fuzz/regressions/$h" $(seeds_for "$h"); do
    [ -d "$d" ] && dirs+=("$d")
  done
  local dict=() words=$h
  # The library's harnesses speak the decoder's format.
  [[ $h == api_* ]] && words=decode
  [ -f "$root/fuzz/dict/$words.dict" ] && dict=(-dict="$root/fuzz/dict/$words.dict")
  # One fuzzing process at a time (-jobs=1 -workers=1); after a finding it
  # stops, and the next one goes on from the corpus for the time that is left.
  local start=$SECONDS run=0 left used=0
  while left=$((seconds - used)); [ "$left" -ge 5 ]; do
    run=$((run + 1))
    local limit=$left
    [ "$cpu" = 1 ] && limit=$((left * 20))
    (cd "$work" && exec env ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
      "$build/bin/${h}_fuzzer" "${dirs[@]}" "${dict[@]}" -max_total_time="$limit" \
      -timeout="$timeout" -rss_limit_mb=2048 -max_len="$(max_len_for "$h")" -jobs=1 -workers=1 \
      -artifact_prefix="$work/findings/" -print_final_stats=1 >/dev/null 2>&1) &
    local pid=$! spent=0
    if [ "$cpu" = 1 ]; then
      # Stop the run once its processes have had the CPU time that is left.
      while kill -0 "$pid" 2>/dev/null; do
        sleep 5
        # (Once a finished process is gone its time no longer counts: keep
        # the most seen.)
        local now
        now=$(tree_cpu "$pid")
        if [ "$now" -gt "$spent" ]; then spent=$now; fi
        if [ "$spent" -ge "$left" ]; then
          pkill -INT -P "$(pgrep -d, -P "$pid")" 2>/dev/null || true
          pkill -INT -P "$pid" 2>/dev/null || true
        fi
      done
    fi
    wait "$pid" || true
    if [ "$cpu" = 1 ]; then
      used=$((used + spent))
    else
      used=$((SECONDS - start))
    fi
    echo "$used" >"$work/seconds"
    mv "$work/fuzz-0.log" "$work/run-$run.log" 2>/dev/null || break
  done
  if [ "${PLIX_FUZZ_MERGE:-0}" = 1 ]; then
    mkdir -p "$root/fuzz/corpus/$h"
    "$build/bin/${h}_fuzzer" -merge=1 "$root/fuzz/corpus/$h" "$work/corpus" \
      >"$work/merge.log" 2>&1 || true
  fi
}

report_one() {
  local h=$1 work=$build/fuzzing/$h
  local logs
  mapfile -t logs < <(ls -v "$work"/run-*.log 2>/dev/null)
  [ ${#logs[@]} -gt 0 ] || { echo "$h: no log"; return 0; }
  local execs cov ft corp findings
  execs=$(for l in "${logs[@]}"; do grep -o 'stat::number_of_executed_units: *[0-9]*' "$l" || grep -oE '^#[0-9]+' "$l" | tail -1 | sed 's/#/x: /'; done | awk '{s+=$2} END {print s+0}')
  cov=$(grep -hoE 'cov: [0-9]+' "${logs[@]}" | tail -1 | awk '{print $2}')
  ft=$(grep -hoE 'ft: [0-9]+' "${logs[@]}" | tail -1 | awk '{print $2}')
  corp=$(ls "$work/corpus" | wc -l)
  findings=$(ls "$work/findings" | wc -l)
  local spent
  spent=$(cat "$work/seconds" 2>/dev/null || echo "$seconds")
  printf '%-10s %8s s %12s %8s %8s %8s %9s\n' "$h" "$spent" "${execs:-0}" "${cov:-?}" "${ft:-?}" \
    "$corp" "$findings"
  for f in "$work/findings"/*; do
    [ -e "$f" ] && echo "           finding: $f"
  done
  return 0
}

running=0
for h in "${harnesses[@]}"; do
  [ -n "$h" ] || continue
  echo "fuzzing $h for $seconds s"
  run_one "$h" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

printf '\n%-10s %10s %12s %8s %8s %8s %9s\n' harness "$([ "$cpu" = 1 ] && echo cpu || echo time)" \
  executions cov ft corpus findings
for h in "${harnesses[@]}"; do
  [ -n "$h" ] && report_one "$h"
done
