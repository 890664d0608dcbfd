#!/usr/bin/env bash
# Runs the converter under valgrind memcheck in both directions, on the
# bundled photograph at two settings and on inputs it must refuse. Any memory
# error or leak fails the run.
#
# Usage: scripts/valgrind_plixconv.sh [BUILD_DIR]   (default: build; a build
# without sanitizers, which valgrind cannot run under)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
conv=$build/bin/plixconv
if [ ! -x "$conv" ] || [ ! -f "$build/bin/libPLIX.so" ]; then
  echo "valgrind: build plixconv and PLIX in $build first" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/samples/coffee_600x400.bmp" "$work/photo.bmp"
printf 'PLIX\0\3\0\0\10\0\0\0\10\0\0\0' >"$work/matrix3.plx"
head -c 100 "$root/tests/data/conformance/cases/mix_100x75_m0_q0_x0.plx" >"$work/cut.plx"
cp "$root/tests/data/bmp/pil_8.bmp" "$work/palette.bmp"

failed=0
# run EXPECTED_STATUS ARGS...: the converter's own status must be the expected
# one, and valgrind must find nothing (it would exit 99).
run() {
  local expected=$1
  shift
  local status=0
  (cd "$work" && valgrind --quiet --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
    --track-origins=yes "$conv" "$@" >"$work/out.txt" 2>"$work/valgrind.txt") || status=$?
  if [ "$status" = "$expected" ]; then
    echo "ok    plixconv $* (status $status)"
  else
    echo "FAIL  plixconv $* (status $status, expected $expected)"
    cat "$work/valgrind.txt" "$work/out.txt"
    failed=1
  fi
}

run 0 e photo.bmp photo.plx
run 0 e -15 -j -r photo.bmp strong.plx
run 0 d photo.plx photo.plx.bmp
run 0 d strong.plx strong.bmp
run 0 d cut.plx cut.bmp
run 1 d matrix3.plx never.bmp
run 1 e palette.bmp never.plx
run 1 e photo.bmp /dev/full
run 1 d missing.plx never.bmp
run 0

if [ "$failed" != 0 ]; then
  echo "valgrind: errors found"
  exit 1
fi
echo "valgrind: clean"
