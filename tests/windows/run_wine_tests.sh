#!/usr/bin/env bash
# Checks the Windows builds made by scripts/build_windows.sh and runs their
# test programs under Wine, 64-bit and 32-bit, in a private Wine prefix under
# build-win64/. Each Wine start costs time, so each build runs as two
# programs: the GoogleTest suites (which start plixconv.exe themselves),
# libplixcodec's suite linked to plixcodec.dll, and the C client; the 64- and
# 32-bit builds run at the same time. Where 32-bit programs cannot run at
# all, the 32-bit build is checked from outside only, and says so.
# Usage: tests/windows/run_wine_tests.sh [win64|win32]...   (both when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(win64 win32)

export WINEPREFIX="$root/build-win64/wine" WINEARCH=win64
. "$root/tests/windows/wine_env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== Creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot --init >/dev/null 2>&1
fi

# Tests that need a POSIX shell, signals or file size limits.
posix_only="ConverterRun.InterruptedWritesKeepTheEarlierOutput:ConverterRun.OutputThatCannotBePrintedIsFailure"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One build's checks and programs; the two builds run side by side, each in
# its own folder, and their reports are shown one after the other.
run_build() {
  local b=$1 objdump=$2 st=0 wine
  local bin="$root/build-$b/bin"
  wine=$(wine_for "$b")
  mkdir -p "$work/$b/out"
  echo "== $b: exports, imports and version resources"
  python3 "$root/tests/windows/check_dll.py" "$objdump" "$bin" || st=1
  if [ "$b" = win32 ] && [ "$wine32_works" = 0 ]; then
    echo "== $b: NOT RUN under Wine: $wine32_why"
    return $st
  fi
  echo "== $b: library suites and plixconv.exe under Wine"
  (cd "$work/$b" && "$wine" "$bin/plix_win_tests.exe" --gtest_brief=1 --gtest_filter="-$posix_only") \
    | tr -d '\r' || st=1
  echo "== $b: libplixcodec's suite against plixcodec.dll"
  (cd "$work/$b" && "$wine" "$bin/plixcodec_win_tests.exe" --gtest_brief=1) | tr -d '\r' || st=1
  echo "== $b: C client through PLIX.DLL"
  (cd "$work/$b" && "$wine" "$bin/plix_win_client.exe" "$root/tests/data/conformance" "$work/$b/out") \
    | tr -d '\r' || st=1
  return $st
}
pids=()
for b in "${builds[@]}"; do
  case $b in
    win64) objdump=x86_64-w64-mingw32-objdump ;;
    win32) objdump=i686-w64-mingw32-objdump ;;
    *) echo "unknown build $b" >&2; exit 2 ;;
  esac
  run_build "$b" "$objdump" >"$work/$b.log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!builds[@]}"; do
  wait "${pids[$i]}" || status=1
  cat "$work/${builds[$i]}.log"
done
wineserver -w
exit $status
