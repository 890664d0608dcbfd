#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian, installs them with
# apt-get, uses them from /usr, purges them and checks that nothing of theirs
# is left. The machine is put back as it was whatever fails on the way: the
# packages, and any dependency apt-get pulled in, are purged on exit.
# Needs root (or sudo) for apt-get. The packages stay installed for seconds.
# Usage: tests/packaging/test_packages.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
pkgdir=$root/build-packages/packages
work=$(mktemp -d /tmp/plix-packages.XXXXXX)
sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -q)
installed=0

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

status_list() {
  dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' | awk '$2 ~ /^ii/ {print $1}' | sort
}

restore() {
  local rc=$?
  set +e
  if [ "$installed" = 1 ]; then
    local ours=() p
    for p in "${packages[@]}"; do
      dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^[ihcuUtrf]' && ours+=("$p")
    done
    # What our apt-get added besides our packages goes as well (taken right
    # around our install, so that others' installs since are left alone).
    local added=""
    [ -f "$work/added.txt" ] && added=$(cat "$work/added.txt")
    if [ ${#ours[@]} -gt 0 ] || [ -n "$added" ]; then
      echo "restoring: purging ${ours[*]} $added" >&2
      "${apt[@]}" purge "${ours[@]}" $added >>"$work/apt.log" 2>&1 ||
        { echo "purge failed:" >&2; tail -n 20 "$work/apt.log" >&2; rc=1; }
    fi
  fi
  rm -rf "$work"
  exit $rc
}
trap restore EXIT
trap 'exit 1' INT TERM

# Man pages, all of them: mandoc finds nothing to report.
for page in "$root"/docs/man/*.[1-9]; do
  mandoc -T lint -W warning "$page" || fail "mandoc -T lint: $page"
done

# 1. Build.
"$root/scripts/package.sh" >"$work/package.log" 2>&1 || { cat "$work/package.log"; fail "package build"; }
! grep -q 'name no COMPONENT' "$work/package.log" || fail "install rules without a component are not packaged"
debs=("$pkgdir"/*.deb)
packages=()
for d in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$d" Package)"); done
echo "packages: ${packages[*]}"
has() { printf '%s\n' "${packages[@]}" | grep -qx "$1"; }
for p in libplix0 libplixcodec1 libplix-dev plix-tools python3-plix; do has "$p" || fail "no package $p"; done
# Where Qt 5 is present to build against, its plugin is packaged.
if pkg-config --exists Qt5Gui; then has qt5-image-plugin-plix || fail "no package qt5-image-plugin-plix"; fi

# 2. lintian: no errors (warnings are listed and explained in docs/packaging.md).
lintian_rc=0
lintian --fail-on error "${debs[@]}" >"$work/lintian.txt" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$work/lintian.txt" || true
[ "$lintian_rc" = 0 ] || fail "lintian reports errors"

# What is checked before the packages go in, so that they stay in briefly.
conf=$root/tests/data/conformance
case_line=$(awk -F'\t' '$1 == "mix_100x75_m1_q4_x1"' "$conf/cases.tsv")
[ -n "$case_line" ] || fail "no conformance case to convert"
IFS=$'\t' read -r _ _ _ _ _ case_w case_h case_pw case_ph case_plx case_bmp case_buf case_input <<<"$case_line"
cp "$conf/$case_input" "$work/in.bmp"
cp "$conf/$case_plx" "$work/picture.plx"
cp "$conf/$case_plx" "$work/picture-without-extension"
if has qt6-image-plugin-plix; then
  # shellcheck disable=SC2046
  g++ -std=c++17 -fPIC -O1 "$root/tests/packaging/qt_read.cpp" -o "$work/qt_read" \
    $(pkg-config --cflags --libs Qt6Gui) || fail "building the Qt client"
fi
if has qt5-image-plugin-plix; then
  # shellcheck disable=SC2046
  g++ -std=c++17 -fPIC -O1 "$root/tests/packaging/qt_read.cpp" -o "$work/qt5_read" \
    $(pkg-config --cflags --libs Qt5Gui) || fail "building the Qt 5 client"
fi
# Every path the packages hold, and whether it existed before.
for d in "${debs[@]}"; do dpkg-deb -c "$d"; done | awk '{print $6}' | sed 's|^\./|/|; s|/$||' |
  grep -v '^/\?$' | sort -u >"$work/paths.txt"
while read -r p; do
  if [ -e "$p" ] || [ -L "$p" ]; then echo "$p"; fi
done <"$work/paths.txt" >"$work/existing.txt"
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^i'; then
    fail "$p is installed already; not touching it"
  fi
done
status_list >"$work/before.txt"
mime_dir=/usr/share/mime/packages
# The native cache: with 32-bit Wine installed there is an i386 one beside it.
loader_cache=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/gdk-pixbuf-2.0/2.10.0/loaders.cache
[ -e "$loader_cache" ] || loader_cache=

# 3. Install.
installed=1
apt_rc=0
"${apt[@]}" install --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 || apt_rc=$?
comm -13 "$work/before.txt" <(status_list) |
  grep -vE "^($(IFS='|'; echo "${packages[*]}"))(:.*)?$" >"$work/added.txt" || true
[ "$apt_rc" = 0 ] || { cat "$work/apt.log"; fail "apt-get install"; }
[ ! -s "$work/added.txt" ] || echo "apt-get added: $(tr '\n' ' ' <"$work/added.txt")"

# 4. Use them from /usr, with nothing pointing at the build.
clean=(env -i PATH=/usr/bin:/bin HOME="$work" LANG=C.UTF-8)
cd "$work"
lib=$(ls /usr/lib/*/libPLIX.so.0 | head -n 1)
readelf -d "$lib" | grep -q 'SONAME.*\[libPLIX\.so\.0\]' || fail "$lib: SONAME is not libPLIX.so.0"
"${clean[@]}" /usr/bin/plixconv e -4 -r -j in.bmp out.plx >plixconv.txt || fail "plixconv e: $(cat plixconv.txt)"
grep -q "Loading... 'libPLIX.so' version 0.08" plixconv.txt || fail "plixconv did not load the library"
cmp -s out.plx "$conf/$case_plx" || fail "plixconv e: not the conformance file $case_plx"
"${clean[@]}" /usr/bin/plixconv d out.plx out.bmp >/dev/null || fail "plixconv d"
cmp -s out.bmp "$conf/$case_bmp" || fail "plixconv d: not the conformance picture $case_bmp"
echo "plixconv from /usr: encodes and decodes the conformance case"
[ -e /usr/share/man/man1/plixconv.1.gz ] || fail "no man page plixconv.1.gz"

# A C program built against the installed header and library, as users
# build one: pkg-config alone says where they are.
# shellcheck disable=SC2046
"${clean[@]}" cc -std=c11 "$root/tests/install/codec_client.c" $(pkg-config --cflags --libs plixcodec) \
  -o codec_client || fail "building a libplixcodec client with pkg-config"
"${clean[@]}" ./codec_client picture.plx codec.bmp in.bmp codec.plx 1 4 1 >/dev/null || fail "the libplixcodec client"
cmp -s codec.bmp "$conf/$case_bmp" || fail "libplixcodec client: not the conformance picture"
cmp -s codec.plx "$conf/$case_plx" || fail "libplixcodec client: not the conformance file"
echo "libplixcodec from /usr: a pkg-config client decodes and encodes the conformance case"

# Debian's own Python imports the package with no environment variable: it
# decodes the conformance file to its expected pixels and encodes the source
# picture to exactly that file, through the installed libplixcodec.
if has python3-plix; then
  [ -d /usr/lib/python3/dist-packages/plix/__pycache__ ] || fail "python3-plix: not byte-compiled"
  "${clean[@]}" /usr/bin/python3 - picture.plx in.bmp "$conf/$case_buf" "$case_w" "$case_h" \
    "$case_pw" "$case_ph" <<'PY' || fail "python3-plix from /usr"
import sys
import numpy as np
import plix
plx, bmp, buf = sys.argv[1:4]
w, h, pw, ph = map(int, sys.argv[4:])
assert plix.__file__ == "/usr/lib/python3/dist-packages/plix/__init__.py", plix.__file__
want = np.fromfile(buf, np.uint8).reshape(ph, pw, 4)[:h, :w, 2::-1]
np.testing.assert_array_equal(plix.decode(plx), want)
# A 24-bit bottom-up BMP, read apart from the codec.
raw = np.fromfile(bmp, np.uint8)
offset = int.from_bytes(raw[10:14].tobytes(), "little")
row = (w * 3 + 3) & ~3
pixels = raw[offset:offset + row * h].reshape(h, row)[::-1, :w * 3].reshape(h, w, 3)[..., ::-1]
with open(plx, "rb") as f:
    assert plix.encode(pixels, qfactor=4, matrix="jpeg", mode="rgb") == f.read()
print("python3-plix %s from %s" % (plix.__version__, plix.__file__))
PY
  "${clean[@]}" /usr/bin/python3 -m plix.batch --help >/dev/null || fail "python3 -m plix.batch --help"
fi

if has plixref; then
  [ -x /usr/bin/Plixref ] || fail "no /usr/bin/Plixref"
  ! ldd /usr/bin/Plixref | grep -q 'not found' || fail "Plixref: libraries not found"
  # A viewer without --version takes the word for a file name and waits in a
  # message box; then only its presence is checked.
  if out=$(timeout 10 "${clean[@]}" QT_QPA_PLATFORM=offscreen /usr/bin/Plixref --version 2>&1); then
    echo "Plixref --version: $out"
  elif [ $? = 124 ]; then
    echo "Plixref has no --version yet: checked that it is installed and its libraries resolve"
  else
    fail "Plixref --version: $out"
  fi
fi

if has qt6-image-plugin-plix; then
  echo -n "Qt 6: "
  "${clean[@]}" "$work/qt_read" picture.plx "$conf/$case_bmp" || fail "Qt did not read PLIX through the plugin"
fi
if has qt5-image-plugin-plix; then
  echo -n "Qt 5: "
  "${clean[@]}" "$work/qt5_read" picture.plx "$conf/$case_bmp" ||
    fail "Qt 5 did not read PLIX through the plugin"
fi

if has gdk-pixbuf-loader-plix; then
  [ -n "$loader_cache" ] && grep -qi plix "$loader_cache" ||
    fail "the gdk-pixbuf loader cache does not list the PLIX loader (trigger)"
  "${clean[@]}" gdk-pixbuf-thumbnailer -s 128 picture.plx thumb.png || fail "gdk-pixbuf-thumbnailer"
  [ "$(head -c 8 thumb.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the thumbnail is no PNG"
  echo "gdk-pixbuf-thumbnailer: a PNG thumbnail through the system loader cache"
  ls /usr/share/thumbnailers/*.thumbnailer 2>/dev/null | xargs -r grep -l 'image/x-plix' | grep -q . ||
    fail "no thumbnailer entry for image/x-plix"
  if ls "$mime_dir"/*.xml >/dev/null 2>&1 && grep -lq 'image/x-plix' "$mime_dir"/*.xml; then
    for f in picture.plx picture-without-extension; do
      type=$("${clean[@]}" gio info -a standard::content-type "$f" | awk '/content-type/ {print $2}')
      [ "$type" = image/x-plix ] || fail "gio info $f: $type, not image/x-plix (MIME trigger)"
    done
    echo "gio info: image/x-plix, by name and by content"
  fi
fi

# 5. Purge, and nothing of ours is left.
"${apt[@]}" purge "${packages[@]}" >>"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
left=$(comm -23 "$work/paths.txt" "$work/existing.txt" | while read -r p; do
  if [ -e "$p" ] || [ -L "$p" ]; then echo "$p"; fi
done)
[ -z "$left" ] || fail "left after purge: $left"
if [ -n "$loader_cache" ] && grep -qi plix "$loader_cache"; then
  fail "the gdk-pixbuf loader cache still lists the PLIX loader"
fi
echo "purged: no file of the packages is left"
