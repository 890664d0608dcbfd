#!/usr/bin/env bash
# Makes the BMP test fixtures under tests/data/bmp and tests/data/bmpsuite:
# files written by ImageMagick and Pillow, and the pixels those tools read from
# them (binary PPM), so that the tests need neither tool.
#
# Needs: ImageMagick 6 (/usr/bin/convert) and Pillow for /usr/bin/python3
# (Debian: imagemagick python3-pil). Run from anywhere; rerunning rewrites the
# fixtures. BMPSUITE may point at the unpacked BMP Suite (folders g, b, q).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/tests/data/bmp"
SUITE_OUT="$ROOT/tests/data/bmpsuite"
BMPSUITE="${BMPSUITE:-$ROOT/../shared/bmpsuite}"
CONFORMANCE="${CONFORMANCE:-$ROOT/tests/data/conformance}"
IM=/usr/bin/convert
PY=/usr/bin/python3

"$IM" -version | grep -q ImageMagick || { echo "ImageMagick is needed at $IM" >&2; exit 1; }
"$PY" -c 'import PIL' || { echo "Pillow is needed for $PY" >&2; exit 1; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT" "$OUT/conformance"

# Pixels as ImageMagick reads them: 8 bits per channel, alpha dropped.
im_ppm() { "$IM" "$1" -depth 8 "ppm:$2"; }
# Pixels as Pillow reads them.
pil_ppm() {
    "$PY" - "$1" "$2" <<'EOF'
import sys
from PIL import Image
Image.open(sys.argv[1]).convert("RGB").save(sys.argv[2], format="PPM")
EOF
}

# Source pictures: 13 x 7 (rows of odd length in every depth), a pattern
# whose channels take many values, and a copy with varying alpha.
"$PY" - "$WORK" <<'EOF'
import sys
from PIL import Image
w, h = 13, 7
im = Image.new("RGB", (w, h))
im.putdata([((x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * 91 + y * 7 + 13) % 256)
            for y in range(h) for x in range(w)])
im.save(sys.argv[1] + "/src.png")
rgba = im.convert("RGBA")
alpha = Image.new("L", (w, h))
alpha.putdata([(x * 19 + y * 31) % 256 for y in range(h) for x in range(w)])
rgba.putalpha(alpha)
rgba.save(sys.argv[1] + "/srca.png")
EOF

# ImageMagick: BMP3 (40-byte header), its default (124-byte header), 32 bits
# with alpha (bit fields), and the 16-bit subtypes.
"$IM" "$WORK/src.png" BMP3:"$OUT/im_bmp3_24.bmp"
"$IM" "$WORK/src.png" "$OUT/im_v5_24.bmp"
"$IM" "$WORK/srca.png" "$OUT/im_v5_32a.bmp"
"$IM" "$WORK/src.png" -define bmp:subtype=RGB565 "$OUT/im_v5_565.bmp"
"$IM" "$WORK/src.png" -define bmp:subtype=RGB555 "$OUT/im_v5_555.bmp"
"$IM" "$WORK/srca.png" -define bmp:subtype=ARGB4444 "$OUT/im_v5_4444.bmp"
"$IM" "$WORK/srca.png" -define bmp:subtype=ARGB1555 "$OUT/im_v5_1555.bmp"
# BMP3 with RGB565 declares bit fields after a 40-byte header but stores no
# masks (pixel data at 54): a file to refuse.
"$IM" "$WORK/src.png" -define bmp:subtype=RGB565 BMP3:"$OUT/im_bmp3_565_nomasks.bmp"

# Pillow: 24 bits, 32 bits (RGBA, fourth byte alpha), and palette files.
"$PY" - "$WORK" "$OUT" <<'EOF'
import sys
from PIL import Image
src, out = sys.argv[1], sys.argv[2]
im = Image.open(src + "/src.png")
im.save(out + "/pil_24.bmp")
Image.open(src + "/srca.png").save(out + "/pil_32.bmp")
im.convert("P").save(out + "/pil_8.bmp")
im.convert("1").save(out + "/pil_1.bmp")
EOF

# Top-down copies (negative height, rows in reading order) of three of them.
# Neither tool writes top-down files, so the rows are reordered here; the
# reference pixels still come from ImageMagick reading the result.
"$PY" - "$OUT" <<'EOF'
import struct, sys
out = sys.argv[1]
for name in ("im_bmp3_24", "im_v5_32a", "im_v5_565"):
    data = bytearray(open(f"{out}/{name}.bmp", "rb").read())
    off = struct.unpack_from("<I", data, 10)[0]
    w, h = struct.unpack_from("<ii", data, 18)
    bpp = struct.unpack_from("<H", data, 28)[0]
    row = (w * bpp // 8 + 3) & ~3
    rows = [data[off + i * row: off + (i + 1) * row] for i in range(h)]
    data[off:off + h * row] = b"".join(reversed(rows))
    struct.pack_into("<i", data, 22, -h)
    open(f"{out}/{name}_topdown.bmp", "wb").write(data)
EOF

for f in im_bmp3_24 im_v5_24 im_v5_32a im_v5_565 im_v5_555 im_v5_4444 im_v5_1555 pil_24 pil_32 \
         im_bmp3_24_topdown im_v5_32a_topdown im_v5_565_topdown; do
    im_ppm "$OUT/$f.bmp" "$OUT/$f.ppm"
done

# 24-bit files as our writer must produce them, written here from the header
# table by a second implementation, with what both tools read from them.
# Pixel (x, y) = red (x*37 + y*11 + 5), green (x*5 + y*53 + 101),
# blue (x*91 + y*7 + 13), each modulo 256.
"$PY" - "$OUT" <<'EOF'
import struct, sys
out = sys.argv[1]
for w, h in ((5, 3), (4, 2), (10, 3), (1, 1), (13, 7)):
    row = (3 * w + 3) & ~3
    body = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = (x * 37 + y * 11 + 5) % 256, (x * 5 + y * 53 + 101) % 256, (x * 91 + y * 7 + 13) % 256
            line += bytes((b, g, r))
        body += line + bytes(row - len(line))
    head = b"BM" + struct.pack("<IHHI", 54 + len(body), 0, 0, 54)
    head += struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0)
    open(f"{out}/export_{w}x{h}.bmp", "wb").write(head + body)
EOF
for f in "$OUT"/export_*.bmp; do
    im_ppm "$f" "${f%.bmp}.im.ppm"
    pil_ppm "$f" "${f%.bmp}.pil.ppm"
done

# What both tools read from the expected bitmaps of some conformance cases
# (tests/data/conformance holds the cases themselves).
for c in pixel_1x1_m0_q0_x0 edges_17x9_m1_q4_x2 mix_100x75_m0_q4_x0 random_01_m1_q0_x1_23x17 \
         random_04_m0_q15_x1_31x9 crafted_extra5; do
    im_ppm "$CONFORMANCE/cases/$c.expected.bmp" "$OUT/conformance/$c.im.ppm"
    pil_ppm "$CONFORMANCE/cases/$c.expected.bmp" "$OUT/conformance/$c.pil.ppm"
done

# BMP Suite: the good 16/24/32-bit files with ImageMagick's pixels, the good
# palette files (refused), and every bad and questionable file.
mkdir -p "$SUITE_OUT/g" "$SUITE_OUT/b" "$SUITE_OUT/q" "$SUITE_OUT/ref"
cp "$BMPSUITE"/g/*.bmp "$SUITE_OUT/g/"
cp "$BMPSUITE"/b/*.bmp "$SUITE_OUT/b/"
cp "$BMPSUITE"/q/*.bmp "$SUITE_OUT/q/"
cp "$BMPSUITE"/README.md "$SUITE_OUT/README.md"
for f in rgb16 rgb16-565 rgb16bfdef rgb16-565pal rgb24 rgb24pal rgb32 rgb32bf rgb32bfdef; do
    im_ppm "$SUITE_OUT/g/$f.bmp" "$SUITE_OUT/ref/$f.ppm"
done
# Questionable files we read: their pixels as ImageMagick sees them too
# (it cannot read rgba32abf, the same picture as rgba32h56 with its masks
# after a 40-byte header, and it widens the 7- and 6-bit red of rgb32-7187
# and rgba32-61754 short of full scale, so those two are left out).
for f in rgb16-231 rgb16-3103 rgb16faketrns rgb24largepal rgb24lprof rgb24prof rgb24prof2 \
         rgb32-111110 rgb32-xbgr rgb32fakealpha rgb32h52 rgba16-1924 rgba16-4444 \
         rgba16-5551 rgba32-1 rgba32-1010102 rgba32-2 rgba32-81284 rgba32h56; do
    im_ppm "$SUITE_OUT/q/$f.bmp" "$SUITE_OUT/ref/$f.ppm"
done

echo "fixtures written to $OUT and $SUITE_OUT"
