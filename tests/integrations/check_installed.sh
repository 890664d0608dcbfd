#!/usr/bin/env bash
# The loaders, MIME type and desktop files in an installed tree, used as a
# desktop would: the MIME database names PLIX files (with and without an
# extension), the thumbnailer makes a PNG through the installed loader, the
# installed Qt plugin reads and writes, and the Python package installs.
# Usage: check_installed.sh BUILD_DIR SCRATCH_DIR SOURCE_DIR PYTHON
set -euo pipefail
build=$1
scratch=$2
src=$3
python=$4
rm -rf "$scratch"
mkdir -p "$scratch"
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }

sample="$src/tests/data/conformance/cases/mix_100x75_m0_q4_x0.plx"
[ -f "$sample" ] || sample=$(ls "$src"/tests/data/conformance/cases/*.plx | head -1)

# Desktop files.
for f in share/mime/packages/plix.xml share/thumbnailers/plix.thumbnailer \
         share/applications/Plixref.desktop share/icons/hicolor/scalable/apps/plixref.svg \
         share/icons/hicolor/48x48/apps/plixref.png share/icons/hicolor/256x256/apps/plixref.png; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
desktop-file-validate "$prefix/share/applications/Plixref.desktop" || fail "desktop entry invalid"
grep -qx 'MimeType=image/x-plix;image/bmp;' "$prefix/share/applications/Plixref.desktop" ||
  fail "desktop entry MIME types"

# The MIME type, from a private data folder.
export XDG_DATA_HOME="$scratch/xdg"
mkdir -p "$XDG_DATA_HOME/mime/packages"
cp "$prefix/share/mime/packages/plix.xml" "$XDG_DATA_HOME/mime/packages/"
update-mime-database "$XDG_DATA_HOME/mime" 2>/dev/null
cp "$sample" "$scratch/picture.plx"
cp "$sample" "$scratch/picture.plix"
cp "$sample" "$scratch/picture"
for f in picture.plx picture.plix picture; do
  type=$(gio info -a standard::content-type "$scratch/$f" | sed -n 's/.*standard::content-type: //p')
  [ "$type" = image/x-plix ] || fail "gio calls $f '$type'"
done

# The thumbnailer through the installed loader (found by its RUNPATH's
# library) and a loader cache written for this test.
loader=$(find "$prefix" -name 'libpixbufloader-plix.so' | head -1)
[ -n "$loader" ] || fail "the gdk-pixbuf loader is not installed"
case "$loader" in "$prefix/${PLIX_GDK_LOADER_DIR}/"*) ;; *) fail "loader at $loader";; esac
"$PLIX_GDK_QUERY_LOADERS" "$loader" >"$scratch/loaders.cache"
grep -q '"image/x-plix"' "$scratch/loaders.cache" || fail "loader cache"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/thumbnailers/plix.thumbnailer")
exec_line=${exec_line//%s/128}
exec_line=${exec_line//%u/file:\/\/$scratch\/picture}
exec_line=${exec_line//%o/$scratch/thumb.png}
env -u LD_LIBRARY_PATH GDK_PIXBUF_MODULE_FILE="$scratch/loaders.cache" $exec_line
"$python" - "$scratch/thumb.png" <<'PY' || fail "thumbnail"
import sys
from PIL import Image
im = Image.open(sys.argv[1])
assert im.format == "PNG" and max(im.size) == 128, (im.format, im.size)
PY

# The installed Qt plugins (Qt 6, Qt 5), with no library path but their
# RUNPATH.
check_qt_plugin() {  # check_qt_plugin <test program> <install dir>
  local plugins="$prefix/$(dirname "$2")"
  [ -f "$plugins/imageformats/libqplix.so" ] || fail "Qt plugin not in $plugins/imageformats"
  env -u LD_LIBRARY_PATH PLIX_QT_PLUGIN_DIR="$plugins" QT_QPA_PLATFORM=offscreen "$1" \
    --gtest_filter='QtPlugin.IsFound*:QtPlugin.Decodes*:QtPlugin.Writes*' >"$scratch/qt.log" ||
    { cat "$scratch/qt.log"; fail "installed Qt plugin in $plugins"; }
}
if [ -n "${PLIX_QT_TEST:-}" ]; then
  check_qt_plugin "$PLIX_QT_TEST" "$PLIX_QT_PLUGIN_INSTALL_DIR"
fi
if [ -n "${PLIX_QT5_TEST:-}" ]; then
  check_qt_plugin "$PLIX_QT5_TEST" "$PLIX_QT5_PLUGIN_INSTALL_DIR"
fi

# The Python package installs with Debian's setuptools and finds the library
# on the loader path.
# A copy, as the build writes beside the sources.
cp -r "$src/python" "$scratch/python-src"
"$python" -m pip install -q --no-build-isolation --no-deps --no-index --target "$scratch/site" \
  "$scratch/python-src" >"$scratch/pip.log" 2>&1 || { cat "$scratch/pip.log"; fail "pip install"; }
PYTHONPATH="$scratch/site" LD_LIBRARY_PATH="$prefix/$PLIX_LIBDIR" "$python" - "$sample" <<'PY' ||
import sys
from PIL import Image
import plix
im = Image.open(sys.argv[1])
assert im.format == "PLIX" and im.mode == "RGB", (im.format, im.mode)
im.load()
PY
  fail "installed Python package"
echo "installed loaders work"
