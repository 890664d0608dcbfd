#!/usr/bin/env bash
# Runs the viewer under a virtual X server and saves PNG screenshots of its
# window: the bundled photograph at 50 %, 100 % and 200 %, and the same picture
# as a PLIX file at 100 %. The 100 % shots are compared pixel for pixel with
# the picture itself (for the PLIX file: the converter's decoded BMP).
#
#   scripts/viewer_screenshots.sh [build folder] [output folder] [photo.bmp]
#
# Defaults: build/, build/screenshots/, samples/coffee_600x400.bmp. Needs Xvfb,
# xwininfo, ImageMagick (import, compare) and python3; the zoom entries are
# chosen with key presses sent through the XTest extension.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
out=$(realpath -m "${2:-$build/screenshots}")
photo=$(realpath "${3:-$root/samples/coffee_600x400.bmp}")

for tool in Xvfb xwininfo import compare python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [[ ! -x "$build/bin/Plixref" || ! -x "$build/bin/plixconv" ]]; then
  cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target Plixref plixconv PLIX >/dev/null
fi
mkdir -p "$out"
work=$(mktemp -d)

xvfb_pid=""
viewer_pid=""
cleanup() {
  [[ -n "$viewer_pid" ]] && kill "$viewer_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 2560x1600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

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
window_id() { xwininfo -root -tree | awk '/ - Plixref":/ {print $1; exit}'; }
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

cp "$photo" "$work/photo.bmp"
(cd "$work" && "$build/bin/plixconv" e -4 photo.bmp photo.plx >/dev/null \
   && "$build/bin/plixconv" d photo.plx decoded.bmp >/dev/null)

echo "== $(basename "$photo")"
shoot "$work/photo.bmp" photo_bmp "$work/photo.bmp" 100 50 200
echo "== the same photograph as a PLIX file (YUV, q-factor 4, matrix 0)"
shoot "$work/photo.plx" photo_plix "$work/decoded.bmp" 100 50 200
echo "== screenshots in $out"
