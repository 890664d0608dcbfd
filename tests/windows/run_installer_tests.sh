#!/usr/bin/env bash
# The installer under Wine, in a fresh 64-bit (WoW64) prefix made here:
# PLIX-<version>-setup.exe /S /D=<folder with spaces>, then a WIC client that
# knows PLIX only through WIC checks the installed codec (conformance pixels
# and bytes, refusals, the decode corpus, the registry), the installed
# plixconv.exe converts a vector, and uninstall.exe /S must leave no file,
# folder, key or decoder behind. The 32-bit pieces are checked the same way
# where this machine can run 32-bit programs.
# Usage: tests/windows/run_installer_tests.sh   (after scripts/build_windows.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^project(PLIX VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup="$root/build-windows/PLIX-$version-setup.exe"
conf="$root/tests/data/conformance"
corpus="$root/fuzz/corpus/decode"
[ -f "$setup" ] || { echo "no $setup: run scripts/build_windows.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/plix-installer.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64
. "$root/tests/windows/wine_env.sh"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== A fresh Wine prefix"
start=$SECONDS
"$wine64" wineboot --init >/dev/null 2>&1
wineserver -w
with32=0
if [ "$wine32_works" = 1 ] && [ -f "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" ]; then
  with32=1
else
  echo "   32-bit pieces: NOT CHECKED: ${wine32_why:-the prefix has no 32-bit subsystem}"
fi

# /D= must come last and unquoted: Wine joins the words with spaces.
folder_win='C:\Program Files\PLIX Test'
folder="$WINEPREFIX/drive_c/Program Files/PLIX Test"
echo "== Installing silently: $(basename "$setup") /S /D=$folder_win"
"$wine64" "$setup" /S /D=C:\\Program Files\\PLIX Test || fail "the installer exited with $?"
wineserver -w
expected=(plixconv.exe PLIX.dll plixcodec.dll plixwic.dll LICENSE.txt uninstall.exe)
for f in "${expected[@]}"; do [ -f "$folder/$f" ] || fail "not installed: $f"; done
if [ "$with32" = 1 ]; then
  for f in plixconv.exe PLIX.dll plixcodec.dll plixwic.dll; do
    [ -f "$folder/x86/$f" ] || fail "not installed: x86/$f"
  done
else
  [ ! -e "$folder/x86" ] || fail "32-bit pieces installed where no 32-bit program can use them"
fi
cmp -s "$folder/plixwic.dll" "$root/build-win64/bin/plixwic.dll" || fail "plixwic.dll is not the build's"
echo "   installed: $(cd "$folder" && ls | tr '\n' ' ')"

run_client() {  # run_client <build> <wine> <args...>
  local b=$1 wine=$2
  shift 2
  mkdir -p "$work/$b"
  (cd "$work/$b" && "$wine" "$root/build-$b/bin/plix_wic_client.exe" "$@") | tr -d '\r'
}

echo "== 64-bit WIC client against the installed codec"
run_client win64 "$wine64" installed "$conf" "$work/win64" "$corpus" "$folder_win\\plixcodec.dll" \
  "$([ "$with32" = 1 ] && echo 32 || echo 64)" || fail "64-bit WIC client"
if [ "$with32" = 1 ]; then
  echo "== 32-bit WIC client against the installed 32-bit codec"
  run_client win32 "$wine32" installed "$conf" "$work/win32" "$corpus" \
    "$folder_win\\x86\\plixcodec.dll" 32 || fail "32-bit WIC client"
fi

echo "== The installed plixconv.exe"
case_plx=$conf/cases/mix_100x75_m1_q4_x1.plx
cp "$case_plx" "$work/in.plx"
(cd "$work" && "$wine64" "$folder_win\\plixconv.exe" d in.plx out.bmp >/dev/null) || fail "plixconv.exe d"
cmp -s "$work/out.bmp" "${case_plx%.plx}.expected.bmp" || fail "plixconv.exe: not the expected picture"
echo "   decodes a vector to its expected picture"

echo "== Uninstalling silently"
"$wine64" "$folder_win\\uninstall.exe" /S || fail "the uninstaller exited with $?"
# The uninstaller runs on from a copy of itself.
wineserver -w
[ ! -e "$folder" ] || fail "left after the uninstall: $(find "$folder")"
run_client win64 "$wine64" removed "$conf" "$work/win64" || fail "after the uninstall"
echo "== The installer under Wine: passed in $((SECONDS - start)) s"
