#!/usr/bin/env bash
# Debian's LXImage-Qt, a Qt 5 program, opens a PLIX file through the Qt 5
# image plugin of a build, under a virtual X server with a window manager,
# and a screenshot of its window is saved. The picture in the window is
# compared pixel for pixel with the converter's decoding of the same file.
#
#   scripts/lximage_screenshots.sh [build folder] [output folder] [photo.bmp]
#
# Defaults: build/, build/screenshots/, samples/coffee_600x400.bmp. Needs
# Xvfb, openbox, dbus-daemon, lximage-qt, xwininfo, ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
out=$(realpath -m "${2:-$build/screenshots}")
photo=$(realpath "${3:-$root/samples/coffee_600x400.bmp}")

for tool in Xvfb openbox dbus-daemon lximage-qt xwininfo import compare identify; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
plugin="$build/plugins-qt5/imageformats/libqplix.so"
if [[ ! -f "$plugin" || ! -x "$build/bin/plixconv" ]]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target qplix5 plixconv PLIX >/dev/null
fi
[[ -f "$plugin" ]] || { echo "no Qt 5 plugin in $build (is qtbase5-dev installed?)" >&2; exit 1; }
convert=/usr/bin/convert
[[ -x "$convert" ]] || convert=$(command -v convert)
mkdir -p "$out"
work=$(mktemp -d)

xvfb_pid=""
wm_pid=""
viewer_pid=""
bus_pid=""
cleanup() {
  [[ -n "$viewer_pid" ]] && kill "$viewer_pid" 2>/dev/null || true
  [[ -n "$bus_pid" ]] && kill "$bus_pid" 2>/dev/null || true
  [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
openbox --sm-disable >"$work/wm.log" 2>&1 &
wm_pid=$!
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done

cp "$photo" "$work/photo.bmp"
(cd "$work" && "$build/bin/plixconv" e -4 photo.bmp photo.plx >/dev/null &&
   "$build/bin/plixconv" d photo.plx decoded.bmp >/dev/null)
read -r width height < <(identify -format '%w %h\n' "$work/decoded.bmp")

# The program talks to its other instances over D-Bus: a session bus of its
# own.
read -r bus_address bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
  paste -s -d ' ')
export DBUS_SESSION_BUS_ADDRESS=$bus_address

# Only this build's Qt 5 plugin folder; the program finds it through Qt, as
# an installed plugin is found.
mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" QT_PLUGIN_PATH="$build/plugins-qt5" QT_QPA_PLATFORM=xcb \
  lximage-qt "$work/photo.plx" >"$work/viewer.log" 2>&1 &
viewer_pid=$!
title="photo.plx (${width}x${height})"
id=""
for _ in $(seq 100); do
  id=$(xwininfo -root -tree | awk -v t="$title" 'index($0, t) && !id {id = $1} END {print id}')
  [[ -n "$id" ]] && break
  sleep 0.1
done
[[ -n "$id" ]] || { echo "LXImage-Qt showed no window for the PLIX file" >&2; cat "$work/viewer.log" >&2; exit 1; }
sleep 1
shot="$out/lximage-qt_plix.png"
import -window "$id" "$shot"
echo "$shot: LXImage-Qt, window \"$(xwininfo -id "$id" | sed -n 's/.*"\(.*\)"$/\1/p' | head -1)\""

# Where the picture lies in the window: its top-left corner, found near the
# window's; then the whole picture must equal the decoding.
"$convert" "$work/decoded.bmp" -crop 32x32+0+0 +repage "$work/corner.png"
"$convert" "$shot" -crop 160x240+0+0 +repage "$work/region.png"
at=$(compare -metric AE -subimage-search "$work/region.png" "$work/corner.png" null: 2>&1 || true)
[[ "$at" == "0 @ "* ]] || { echo "the picture's corner is not in the window ($at)" >&2; exit 1; }
offset=${at#0 @ }
"$convert" "$shot" -crop "${width}x${height}+${offset%,*}+${offset#*,}" +repage "$work/view.png"
diff=$(compare -metric AE "$work/view.png" "$work/decoded.bmp" null: 2>&1 || true)
echo "   picture at ${offset} in the window; pixels differing from the decoding: $diff"
[[ "$diff" == 0 ]]
