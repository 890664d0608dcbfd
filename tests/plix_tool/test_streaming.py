"""plix decode and encode stream their rows: what they write must be what the
whole-picture paths give (the conformance vectors, plixconv's classic import
and export, Pillow's and ImageMagick's view of the files), whatever the
threads, the PNG compression and whether files or pipes are used."""
import struct
import subprocess
import zlib
from pathlib import Path

import pytest
from PIL import Image

from test_plix_tool import BIN, CONF, DATA, cases, encode_args, pixels, png_bytes, run


def test_decode_every_case_to_every_format_with_any_threads(tmp_path):
    every = cases()
    plx = [CONF / c['plx'] for c in every]
    for threads in (1, 3):
        for fmt in ('png', 'bmp', 'ppm'):
            out = tmp_path / ('%s%d' % (fmt, threads))
            r = run('decode', '--quiet', '--threads', threads, '--format', fmt, '-o', out, *plx)
            assert r.returncode == 0, r.stderr
            for c in every:
                got = out / (Path(c['plx']).stem + '.' + fmt)
                expected = CONF / c['expected_bmp']
                if fmt == 'bmp':  # the classic export's own layout, byte for byte
                    assert got.read_bytes() == expected.read_bytes(), c['name']
                else:
                    assert pixels(got) == pixels(expected), (fmt, c['name'])


@pytest.mark.parametrize('fmt', ['png', 'bmp', 'ppm'])
def test_decode_through_pipes_equals_decode_of_files(tmp_path, fmt):
    plx = CONF / 'cases' / 'mix_100x75_m1_q9_x1.plx'
    assert run('decode', '--format', fmt, plx, '-o', tmp_path / ('f.' + fmt)).returncode == 0
    r = run('decode', '--format', fmt, '-', '-o', '-', stdin=plx.read_bytes())
    assert r.returncode == 0 and r.stdout == (tmp_path / ('f.' + fmt)).read_bytes()


def test_encode_every_case_with_any_threads(tmp_path):
    for c in cases('encode'):
        expected = (CONF / c['plx']).read_bytes()
        for threads in (1, 2, 5):
            out = tmp_path / ('%s_%d.plx' % (c['name'], threads))
            r = run('encode', '--threads', threads, *encode_args(c), CONF / c['input_bmp'], '-o', out)
            assert r.returncode == 0, r.stderr
            assert out.read_bytes() == expected, (c['name'], threads)


def bmp_files():
    return sorted((DATA / 'bmpsuite').glob('[bgq]/*.bmp')) + sorted((DATA / 'bmp').glob('*.bmp'))


def test_bmp_files_encode_as_the_classic_import_does(tmp_path):
    # Every file the classic import takes gives its bytes, from a file and
    # through a pipe; every file it refuses is refused, with a reason.
    accepted = 0
    for bmp in bmp_files():
        conv, tool = tmp_path / 'conv.plx', tmp_path / 'tool.plx'
        conv.unlink(missing_ok=True)
        classic = subprocess.run([BIN / 'plixconv', 'e', '-5', '-r', bmp, conv], capture_output=True)
        r = run('encode', '-f', '-q', 5, '--rgb', bmp, '-o', tool)
        piped = run('encode', '-q', 5, '--rgb', '-', '-o', '-', stdin=bmp.read_bytes())
        if conv.exists():
            accepted += 1
            assert r.returncode == 0 and tool.read_bytes() == conv.read_bytes(), bmp.name
            assert piped.returncode == 0 and piped.stdout == conv.read_bytes(), bmp.name
        else:
            assert classic.returncode != 0
            assert r.returncode == 1 and r.stderr.startswith(b'error: ') and piped.returncode == 1, bmp.name
    assert accepted >= 30


def test_bmp_rows_cut_short_are_refused(tmp_path):
    whole = (DATA / 'bmp' / 'im_bmp3_24.bmp').read_bytes()
    top = bytearray((DATA / 'bmp' / 'im_bmp3_24_topdown.bmp').read_bytes())
    for name, data in (('bottom.bmp', whole[:-40]), ('top.bmp', bytes(top[:-40]))):
        (tmp_path / name).write_bytes(data)
        for args in ((tmp_path / name,), ('-',)):
            r = run('encode', *args, '-o', tmp_path / 'x.plx', stdin=data if args == ('-',) else None)
            assert r.returncode == 1 and b'truncated BMP: the pixel rows end early' in r.stderr
            assert not (tmp_path / 'x.plx').exists()


def png_variants(tmp_path, im):
    """PNG files of every colour type and depth, with the 8-bit RGB pixels
    each one stands for, worked out here from the samples."""
    w, h = im.size
    rgb = im.tobytes()
    grey = im.convert('L').tobytes()
    out = {}

    def add(name, depth, colour, rows, expected, extra=b''):
        data = png_bytes(w, h, rows, depth=depth, colour=colour)
        if extra:  # chunks before IDAT
            data = data[:33] + extra + data[33:]
        (tmp_path / name).write_bytes(data)
        out[name] = expected

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    def pack(values, depth):
        bits = ''.join(format(v, '0%db' % depth) for v in values)
        bits += '0' * (-len(bits) % 8)
        return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))

    rows = lambda data, n: [data[y * n:(y + 1) * n] for y in range(h)]
    add('rgb8.png', 8, 2, rows(rgb, w * 3), rgb)
    add('rgba8.png', 8, 6, [b''.join(r[x * 3:x * 3 + 3] + b'\x80' for x in range(w)) for r in rows(rgb, w * 3)], rgb)
    wide = [b''.join(struct.pack('>H', v * 257 + (100 if v < 255 else -100)) for v in r) for r in rows(rgb, w * 3)]
    add('rgb16.png', 16, 2, wide, rgb)
    add('rgba16.png', 16, 6, [b''.join(r[x * 6:x * 6 + 6] + b'\xff\xff' for x in range(w)) for r in wide], rgb)
    add('grey8.png', 8, 0, rows(grey, w), bytes(v for v in grey for _ in range(3)))
    add('greya8.png', 8, 4, [b''.join(bytes([v, 7]) for v in r) for r in rows(grey, w)],
        bytes(v for v in grey for _ in range(3)))
    add('grey16.png', 16, 0, [b''.join(struct.pack('>H', v * 257) for v in r) for r in rows(grey, w)],
        bytes(v for v in grey for _ in range(3)))
    for depth in (1, 2, 4):
        top = (1 << depth) - 1
        values = [v * top // 255 for v in grey]
        add('grey%d.png' % depth, depth, 0, [pack(values[y * w:(y + 1) * w], depth) for y in range(h)],
            bytes(v * 255 // top for v in values for _ in range(3)))
        palette = [(i * 40 % 256, i * 90 % 256, 255 - i * 16) for i in range(1 << depth)]
        add('pal%d.png' % depth, depth, 3, [pack(values[y * w:(y + 1) * w], depth) for y in range(h)],
            b''.join(bytes(palette[v]) for v in values),
            extra=chunk(b'PLTE', b''.join(bytes(p) for p in palette)))
    return out


def test_png_of_every_colour_type_and_depth_encodes_its_pixels(tmp_path):
    im = Image.open(CONF / 'images' / 'mix_100x75.bmp').convert('RGB')
    w, h = im.size
    variants = png_variants(tmp_path, im)
    # Interlaced, as ImageMagick writes it.
    subprocess.run(['convert', tmp_path / 'rgb8.png', '-interlace', 'PNG', 'PNG24:%s' % (tmp_path / 'adam7.png')],
                   check=True)
    variants['adam7.png'] = im.tobytes()
    for name, expected in variants.items():
        ppm = tmp_path / (name + '.ppm')
        ppm.write_bytes(b'P6 %d %d 255\n' % (w, h) + expected)
        for threads in (1, 2):
            r = run('encode', '-f', '--threads', threads, '-q', 3, tmp_path / name, '-o', tmp_path / 'a.plx')
            assert r.returncode == 0, (name, r.stderr)
            r = run('encode', '-f', '-q', 3, '-', '-o', tmp_path / 'b.plx', stdin=ppm.read_bytes())
            assert r.returncode == 0, r.stderr
            assert (tmp_path / 'a.plx').read_bytes() == (tmp_path / 'b.plx').read_bytes(), name


def test_ppm_plain_and_binary_with_any_maximum(tmp_path):
    im = Image.open(CONF / 'images' / 'edges_17x9.bmp').convert('RGB')
    w, h = im.size
    rgb = im.tobytes()
    (tmp_path / 'ref.png').write_bytes(png_bytes(w, h, [rgb[y * w * 3:(y + 1) * w * 3] for y in range(h)]))
    # Maximum 1000: samples v * 1000 / 255 rounded back give v again.
    scaled = [(v * 1000 + 127) // 255 for v in rgb]
    plain = b'P3\n# made here\n%d %d\n1000\n' % (w, h) + b'\n'.join(
        b' '.join(b'%d' % v for v in scaled[y * w * 3:(y + 1) * w * 3]) for y in range(h)) + b'\n'
    binary = b'P6\n%d %d\n1000\n' % (w, h) + b''.join(struct.pack('>H', v) for v in scaled)
    assert run('encode', tmp_path / 'ref.png', '-o', tmp_path / 'ref.plx').returncode == 0
    for data in (plain, binary, b'P3 %d %d 255 ' % (w, h) + b' '.join(b'%d' % v for v in rgb)):
        r = run('encode', '-', '-o', '-', stdin=data)
        assert r.returncode == 0 and r.stdout == (tmp_path / 'ref.plx').read_bytes(), r.stderr
    r = run('encode', '-', '-o', '-', stdin=plain[:-20])
    assert r.returncode == 1 and b'damaged or truncated PPM samples' in r.stderr


def test_png_compression_levels_all_hold_the_same_pixels(tmp_path):
    plx = CONF / 'cases' / 'mix_100x75_m0_q0_x0.plx'
    expected = pixels(CONF / 'cases' / 'mix_100x75_m0_q0_x0.expected.bmp')
    for level in range(10):
        one = tmp_path / ('l%d_1.png' % level)
        two = tmp_path / ('l%d_2.png' % level)
        assert run('decode', '--png-compression', level, '--threads', 1, plx, '-o', one).returncode == 0
        assert run('decode', '--png-compression', level, '--threads', 2, plx, '-o', two).returncode == 0
        # The bands, not the threads, decide the bytes.
        assert one.read_bytes() == two.read_bytes(), level
        assert pixels(one) == expected, level
        # ImageMagick reads it the same way (and checks every CRC).
        r = subprocess.run(['convert', one, 'RGB:-'], capture_output=True, check=True)
        assert r.stdout == expected[1] and r.stderr == b'', level
    sizes = [(tmp_path / ('l%d_1.png' % n)).stat().st_size for n in (0, 1, 9)]
    assert sizes[0] > sizes[1] and sizes[0] > sizes[2]
    assert run('decode', '--png-compression', 10, plx, '-o', tmp_path / 'x.png').returncode == 2


def test_tall_picture_of_many_bands_round_trips(tmp_path):
    # Many PNG bands and many strips: rows in each band's first line need the
    # row above from the band before.
    im = Image.open(CONF / 'images' / 'mix_100x75.bmp').convert('RGB').resize((1200, 1500))
    im.save(tmp_path / 'tall.png')
    assert run('encode', '--threads', 2, tmp_path / 'tall.png', '-o', tmp_path / 'tall.plx').returncode == 0
    assert run('decode', '--threads', 2, tmp_path / 'tall.plx', '-o', tmp_path / 'back.png').returncode == 0
    assert run('decode', '--threads', 1, tmp_path / 'tall.plx', '-o', tmp_path / 'back.ppm').returncode == 0
    assert pixels(tmp_path / 'back.png') == pixels(tmp_path / 'back.ppm')
    conv = tmp_path / 'conv.bmp'
    subprocess.run([BIN / 'plixconv', 'd', tmp_path / 'tall.plx', conv], check=True, capture_output=True)
    assert pixels(tmp_path / 'back.png') == pixels(conv)


def test_picture_past_the_classic_buffer_converts(tmp_path):
    # 16392 x 32768 declared, no body: the filler rule's pixels, 2^31 bytes
    # and more of them, are decoded a band at a time.
    plx = tmp_path / 'big.plx'
    plx.write_bytes(b'PLIX\0\0\0\0' + struct.pack('<ii', 32768, 16392))
    r = run('decode', '--format', 'ppm', plx, '-o', '/dev/null')
    assert r.returncode == 1 and b'larger than the limit' in r.stderr
    r = run('decode', '--max-pixels', 1 << 30, '--format', 'ppm', plx, '-o', '/dev/null')
    assert r.returncode == 0 and b'data ends after 0 of 25178112 blocks' in r.stderr


def test_ppm_read_ahead_on_threads_gives_the_classic_bytes(tmp_path):
    # Tall enough for several pieces of rows, the next read while the last is
    # coded: every thread count and a pipe give the classic converter's bytes,
    # and a file cut in a later piece fails as one thread fails.
    im = Image.open(CONF / 'images' / 'mix_100x75.bmp').convert('RGB').resize((3000, 1000))
    im.save(tmp_path / 'big.bmp')
    ppm = b'P6\n3000 1000\n255\n' + im.tobytes()
    (tmp_path / 'big.ppm').write_bytes(ppm)
    subprocess.run([BIN / 'plixconv', 'e', '-5', tmp_path / 'big.bmp', tmp_path / 'classic.plx'],
                   check=True, capture_output=True)
    expected = (tmp_path / 'classic.plx').read_bytes()
    for threads in (1, 2, 3):
        out = tmp_path / ('t%d.plx' % threads)
        r = run('encode', '--threads', threads, '-q', 5, tmp_path / 'big.ppm', '-o', out)
        assert r.returncode == 0 and out.read_bytes() == expected, (threads, r.stderr)
        r = run('encode', '--threads', threads, '-q', 5, '-', '-o', '-', stdin=ppm)
        assert r.returncode == 0 and r.stdout == expected, (threads, r.stderr)
        cut = ppm[:len(ppm) * 3 // 4]
        r = run('encode', '--threads', threads, '-q', 5, '-', '-o', '-', stdin=cut)
        assert r.returncode == 1 and b'truncated PPM: the samples end early' in r.stderr, threads
