#!/usr/bin/env bash
# Runs the viewer under a virtual X server of 1920 x 1080 with a window
# manager and saves PNG screenshots of its window: the bundled photograph at
# 50 %, 100 % and 200 %, the same picture as a PLIX file, and a 4000 x 3000
# picture (the photograph tiled) at 100 % (also the whole screen) and after
# End, and the empty window. The 100 % shots are
# compared pixel for pixel with the picture itself (for the PLIX file: the
# converter's decoded BMP); the large picture's window must lie wholly on the
# screen, showing the picture's top-left corner and, after End, its
# bottom-right corner.
#
#   scripts/viewer_screenshots.sh [build folder] [output folder] [photo.bmp]
#
# Defaults: build/, build/screenshots/, samples/coffee_600x400.bmp. Needs Xvfb,
# openbox, xwininfo, xprop, ImageMagick (import, compare, convert) and
# python3; the zoom entries are chosen with key presses sent through the XTest
# extension.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
out=$(realpath -m "${2:-$build/screenshots}")
photo=$(realpath "${3:-$root/samples/coffee_600x400.bmp}")

for tool in Xvfb openbox xwininfo xprop import compare python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [[ ! -x "$build/bin/Plixref" || ! -x "$build/bin/plixconv" ]]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target Plixref plixconv PLIX >/dev/null
fi
# ImageMagick's own convert, also where another program of that name comes first.
convert=/usr/bin/convert
[[ -x "$convert" ]] || convert=$(command -v convert)
mkdir -p "$out"
work=$(mktemp -d)

xvfb_pid=""
wm_pid=""
viewer_pid=""
cleanup() {
  [[ -n "$viewer_pid" ]] && kill "$viewer_pid" 2>/dev/null || true
  [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb writes its number once it is ready.
screen_w=1920
screen_h=1080
Xvfb -displayfd 3 -screen 0 "${screen_w}x${screen_h}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

# A window manager, so that windows get a real border and title bar.
openbox --sm-disable >"$work/wm.log" 2>&1 &
wm_pid=$!
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' \
  || { echo "openbox did not start" >&2; cat "$work/wm.log" >&2; exit 1; }

# Sends key chords ("Alt_L+v" "5") to a window, after giving it the focus.
cat >"$work/keys.py" <<'EOF'
import ctypes, sys, time
x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
x11.XSetInputFocus(display, int(sys.argv[1], 0), 2, 0)  # RevertToParent, CurrentTime
x11.XSync(display, 0)
time.sleep(0.3)
for chord in sys.argv[2:]:
    codes = [x11.XKeysymToKeycode(display, x11.XStringToKeysym(k.encode())) for k in chord.split("+")]
    for c in codes:
        xtst.XTestFakeKeyEvent(display, c, 1, 0)
    for c in reversed(codes):
        xtst.XTestFakeKeyEvent(display, c, 0, 0)
    x11.XSync(display, 0)
    time.sleep(0.3)
EOF

# Window id and size of the viewer's main window ("<file> - Plixref").
# (awk reads to the end: an early exit would break the pipe under pipefail.)
window_id() { xwininfo -root -tree | awk '/ - Plixref":/ && !id {id = $1} END {print id}'; }
window_size() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

# Waits until the window has the given client width (the view follows the
# picture's width exactly; the height adds the menu bar).
wait_width() {
  local id=$1 want=$2
  for _ in $(seq 50); do
    [[ "$(window_size "$id")" == "$want"x* ]] && return 0
    sleep 0.1
  done
  echo "the window did not fit itself to width $want (it is $(window_size "$id"))" >&2
  return 1
}

# The view's part of a 100 % shot against the picture: no pixel may differ.
check_pixels() {  # check_pixels <window> <picture> <width> <height>
  local size menu diff
  size=$(window_size "$1")
  menu=$(( ${size#*x} - $4 ))
  menu_height=$menu
  import -window "$1" -crop "${3}x${4}+0+${menu}" +repage "$work/view.png"
  diff=$(compare -metric AE "$work/view.png" "$2" null: 2>&1 || true)
  echo "   view ${3}x${4} below a ${menu}-pixel menu bar; pixels differing from the picture: $diff"
  [[ "$diff" == "0" ]]
}

shoot() {  # shoot <file to open> <name> <picture it shows, as BMP> <zoom>...
  local file=$1 name=$2 picture=$3 id="" width height key
  shift 3
  read -r width height < <(identify -format '%w %h\n' "$picture")
  "$build/bin/Plixref" "$file" >"$work/viewer.log" 2>&1 &
  viewer_pid=$!
  for _ in $(seq 100); do id=$(window_id); [[ -n "$id" ]] && break; sleep 0.1; done
  [[ -n "$id" ]] || { echo "the viewer showed no window" >&2; cat "$work/viewer.log" >&2; exit 1; }
  wait_width "$id" "$width"
  for zoom in "$@"; do
    case $zoom in 50) key=5 ;; 100) key=1 ;; 200) key=2 ;; esac
    python3 "$work/keys.py" "$id" Alt_L+v "$key"
    wait_width "$id" $(( width * zoom / 100 ))
    sleep 0.3
    import -window "$id" "$out/${name}_${zoom}.png"
    echo "$out/${name}_${zoom}.png: window $(window_size "$id")"
    if [[ $zoom == 100 ]]; then check_pixels "$id" "$picture" "$width" "$height"; fi
  done
  kill "$viewer_pid"
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=""
}

# The large picture: the window must lie wholly on the screen, its view
# showing the picture's top-left corner, and after End its bottom-right one.
shoot_large() {  # shoot_large <picture.bmp> <name>
  local file=$1 name=$2 id="" width height menu bar geometry extents
  read -r width height < <(identify -format '%w %h\n' "$file")
  "$build/bin/Plixref" "$file" >"$work/viewer.log" 2>&1 &
  viewer_pid=$!
  for _ in $(seq 100); do id=$(window_id); [[ -n "$id" ]] && break; sleep 0.1; done
  [[ -n "$id" ]] || { echo "the viewer showed no window" >&2; cat "$work/viewer.log" >&2; exit 1; }
  sleep 1
  # Client geometry and the window manager's border: left, right, top, bottom.
  geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                                       /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  extents=$(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  read -r gx gy gw gh <<<"$geometry"
  read -r el er et eb <<<"$extents"
  local left=$((gx - el)) top=$((gy - et)) right=$((gx + gw + er)) bottom=$((gy + gh + eb))
  echo "   window with its frame: ($left, $top) to ($right, $bottom) on a ${screen_w}x${screen_h} screen"
  (( left >= 0 && top >= 0 && right <= screen_w && bottom <= screen_h )) \
    || { echo "the window does not lie wholly on the screen" >&2; exit 1; }
  import -window "$id" "$out/${name}_100.png"
  import -window root "$out/${name}_screen.png"
  python3 "$work/keys.py" "$id" End
  sleep 0.5
  import -window "$id" "$out/${name}_end.png"
  echo "$out/${name}_100.png, $out/${name}_end.png: window ${gw}x${gh}"
  kill "$viewer_pid"
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=""

  # The menu bar's height is the one the small pictures' windows had; the
  # scroll bars' thickness is found where the bottom-right corners meet.
  menu=$menu_height
  bar=""
  "$convert" "$file" -gravity SouthEast -crop 64x64+0+0 +repage "$work/corner.png"
  for b in $(seq 0 40); do
    "$convert" "$out/${name}_end.png" -crop "64x64+$((gw - b - 64))+$((gh - b - 64))" +repage "$work/try.png"
    if [[ "$(compare -metric AE "$work/try.png" "$work/corner.png" null: 2>&1 || true)" == 0 ]]; then
      bar=$b
      break
    fi
  done
  [[ -n "$bar" ]] || { echo "after End the view does not show the picture's bottom-right corner" >&2; exit 1; }
  local vw=$((gw - bar)) vh=$((gh - menu - bar)) diff
  "$convert" "$out/${name}_100.png" -crop "${vw}x${vh}+0+${menu}" +repage "$work/view.png"
  "$convert" "$file" -crop "${vw}x${vh}+0+0" +repage "$work/part.png"
  diff=$(compare -metric AE "$work/view.png" "$work/part.png" null: 2>&1 || true)
  echo "   view ${vw}x${vh}, scroll bars ${bar} pixels; pixels differing from the top-left corner: $diff"
  [[ "$diff" == 0 ]]
  "$convert" "$out/${name}_end.png" -crop "${vw}x${vh}+0+${menu}" +repage "$work/view.png"
  "$convert" "$file" -gravity SouthEast -crop "${vw}x${vh}+0+0" +repage "$work/part.png"
  diff=$(compare -metric AE "$work/view.png" "$work/part.png" null: 2>&1 || true)
  echo "   after End, pixels differing from the bottom-right corner: $diff"
  [[ "$diff" == 0 ]]
}

cp "$photo" "$work/photo.bmp"
(cd "$work" && "$build/bin/plixconv" e -4 photo.bmp photo.plx >/dev/null \
   && "$build/bin/plixconv" d photo.plx decoded.bmp >/dev/null)

echo "== $(basename "$photo")"
shoot "$work/photo.bmp" photo_bmp "$work/photo.bmp" 100 50 200
echo "== the same photograph as a PLIX file (YUV, q-factor 4, matrix 0)"
shoot "$work/photo.plx" photo_plix "$work/decoded.bmp" 100 50 200
echo "== a 4000 x 3000 picture (the photograph tiled)"
"$convert" -size 4000x3000 tile:"$work/photo.bmp" -type TrueColor BMP3:"$work/large.bmp"
shoot_large "$work/large.bmp" large
echo "== the empty window"
"$build/bin/Plixref" >"$work/viewer.log" 2>&1 &
viewer_pid=$!
id=""
for _ in $(seq 100); do id=$(window_id); [[ -n "$id" ]] && break; sleep 0.1; done
[[ -n "$id" ]] || { echo "the viewer showed no window" >&2; cat "$work/viewer.log" >&2; exit 1; }
sleep 0.5
import -window "$id" "$out/empty.png"
echo "$out/empty.png: window $(window_size "$id")"
kill "$viewer_pid"
wait "$viewer_pid" 2>/dev/null || true
viewer_pid=""
echo "== screenshots in $out"
