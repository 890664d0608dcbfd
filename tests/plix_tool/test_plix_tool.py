"""The plix tool as a user runs it: files, folders, pipes and refusals.

Expected pictures come from the conformance vectors, Pillow and plixconv; the
block counts of cut files from plx_blocks, which walks the format's code
tables on its own."""
import hashlib
import json
import os
import struct
import subprocess
import zlib
from pathlib import Path

import pytest
from PIL import Image

import plx_blocks

BIN = Path(os.environ['PLIX_BIN'])
DATA = Path(os.environ['PLIX_TEST_DATA'])
CONF = DATA / 'conformance'
PLIX = str(BIN / 'plix')


def run(*args, stdin=None, cwd=None):
    r = subprocess.run([PLIX, *map(str, args)], input=stdin, capture_output=True, cwd=cwd, timeout=120)
    # In sanitizer builds a finding must not pass for an ordinary failure.
    assert b'Sanitizer' not in r.stderr and b'runtime error' not in r.stderr, r.stderr
    return r


def cases(kind=None):
    rows = [line.rstrip('\n').split('\t') for line in open(CONF / 'cases.tsv') if not line.startswith('#')]
    keys = ['name', 'kind', 'mode', 'qfactor', 'matrix', 'width', 'height', 'pw', 'ph', 'plx',
            'expected_bmp', 'expected_buffer', 'input_bmp']
    return [dict(zip(keys, r)) for r in rows if kind is None or r[1] == kind]


def encode_args(case):
    return ['-q', case['qfactor'], '--matrix', ['plix', 'jpeg', 'cg'][int(case['matrix'])]] + \
        (['--rgb'] if case['mode'] == '1' else [])


def pixels(path_or_bytes):
    src = path_or_bytes if isinstance(path_or_bytes, (str, Path)) else __import__('io').BytesIO(path_or_bytes)
    with Image.open(src) as im:
        return im.size, im.convert('RGB').tobytes()


def digest(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def png_bytes(width, height, rows, depth=8, colour=2):
    """A PNG written here, for depths Pillow does not write."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + r for r in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


# --- decoding -------------------------------------------------------------

def test_decode_folder_two_workers_matches_every_conformance_case(tmp_path):
    all_cases = cases()
    r = run('decode', '-j', 2, '--quiet', '-o', tmp_path / 'out', *[CONF / c['plx'] for c in all_cases])
    assert r.returncode == 0, r.stderr
    for c in all_cases:
        out = tmp_path / 'out' / (Path(c['plx']).stem + '.png')
        assert pixels(out) == pixels(CONF / c['expected_bmp']), c['name']


def test_decode_formats_and_pipes(tmp_path):
    case = CONF / 'cases' / 'edges_17x9_m1_q4_x1.plx'
    expected = CONF / 'cases' / 'edges_17x9_m1_q4_x1.expected.bmp'
    plx = tmp_path / 'e.plx'
    plx.write_bytes(case.read_bytes())
    # Beside the input, extension replaced; BMP as the codec's own writer makes it.
    assert run('decode', plx).returncode == 0
    assert pixels(tmp_path / 'e.png') == pixels(expected)
    assert run('decode', '--format', 'bmp', plx).returncode == 0
    assert (tmp_path / 'e.bmp').read_bytes() == expected.read_bytes()
    # The output's extension decides without --format.
    assert run('decode', plx, '-o', tmp_path / 'x.ppm').returncode == 0
    assert pixels(tmp_path / 'x.ppm') == pixels(expected)
    # Standard input to standard output carries only the picture.
    r = run('decode', '-', '-o', '-', stdin=case.read_bytes())
    assert r.returncode == 0 and r.stderr == b''
    assert pixels(r.stdout) == pixels(expected)
    r = run('decode', '--format', 'bmp', '-', stdin=case.read_bytes())
    assert r.stdout == expected.read_bytes()


def test_decode_bmp_equals_plixconv(tmp_path):
    plx = CONF / 'cases' / 'mix_100x75_m0_q9_x2.plx'
    subprocess.run([BIN / 'plixconv', 'd', plx, tmp_path / 'conv.bmp'], check=True, capture_output=True)
    assert run('decode', plx, '-o', tmp_path / 'tool.bmp').returncode == 0
    assert (tmp_path / 'tool.bmp').read_bytes() == (tmp_path / 'conv.bmp').read_bytes()


# --- encoding -------------------------------------------------------------

def test_encode_bmp_equals_conformance_and_plixconv(tmp_path):
    encode_cases = cases('encode')
    for c in encode_cases:
        out = tmp_path / (c['name'] + '.plx')
        r = run('encode', *encode_args(c), CONF / c['input_bmp'], '-o', out)
        assert r.returncode == 0, r.stderr
        assert out.read_bytes() == (CONF / c['plx']).read_bytes(), c['name']
    c = encode_cases[-1]
    conv = tmp_path / 'conv.plx'
    opts = ['-' + c['qfactor'], '-' + 'kjc'[int(c['matrix'])], '-' + 'yr'[int(c['mode'])]]
    subprocess.run([BIN / 'plixconv', 'e', *opts, CONF / c['input_bmp'], conv], check=True, capture_output=True)
    assert (tmp_path / (c['name'] + '.plx')).read_bytes() == conv.read_bytes()


def test_encode_bmp_variants_equal_plixconv(tmp_path):
    # Headers of 124 bytes, bit fields, 16 bits, top-down rows and a pixel
    # offset other than 54, as other programs write them.
    src = CONF / 'images' / 'mix_100x75.bmp'
    made = {'v5.bmp': [], 'rgb565.bmp': ['-define', 'bmp:subtype=RGB565'], 'argb.bmp': ['-alpha', 'set']}
    for name, opts in made.items():
        subprocess.run(['convert', src, *opts, 'BMP:%s' % (tmp_path / name)], check=True)
    classic = (tmp_path / 'classic.bmp')
    subprocess.run(['convert', src, 'BMP3:%s' % classic], check=True)
    d = bytearray(classic.read_bytes())
    width, height = struct.unpack('<ii', d[18:26])
    row = (width * 3 + 3) // 4 * 4
    rows = [d[54 + i * row:54 + (i + 1) * row] for i in range(height)]
    d[22:26] = struct.pack('<i', -height)
    (tmp_path / 'topdown.bmp').write_bytes(bytes(d[:54]) + b''.join(reversed(rows)))
    for name in [*made, 'topdown.bmp']:
        for opts, conv_opts in (([], []), (['-q', '7', '--rgb', '--matrix', 'cg'], ['-7', '-r', '-c'])):
            out, conv = tmp_path / 'tool.plx', tmp_path / 'conv.plx'
            r = run('encode', '-f', *opts, tmp_path / name, '-o', out)
            assert r.returncode == 0, (name, r.stderr)
            subprocess.run([BIN / 'plixconv', 'e', *conv_opts, tmp_path / name, conv], check=True, capture_output=True)
            assert out.read_bytes() == conv.read_bytes(), name


def test_encode_png_and_ppm_equal_the_bmp_encoding(tmp_path):
    case = next(c for c in cases('encode') if c['name'] == 'mix_100x75_m0_q4_x0')
    expected = (CONF / case['plx']).read_bytes()
    im = Image.open(CONF / case['input_bmp']).convert('RGB')
    w, h = im.size
    rgb = im.tobytes()
    im.save(tmp_path / 'rgb.png')
    im.convert('RGBA').save(tmp_path / 'alpha.png')  # alpha is ignored
    (tmp_path / 'p6.ppm').write_bytes(b'P6\n# comment\n%d %d\n255\n' % (w, h) + rgb)
    # 16-bit samples round to the nearest 8-bit value: v * 257 + d for |d| <= 128.
    wide = [b''.join(struct.pack('>H', v * 257 + (128 if v < 255 else -128) * ((x + y) % 2))
                     for x, v in enumerate(rgb[y * w * 3:(y + 1) * w * 3])) for y in range(h)]
    (tmp_path / 'wide.png').write_bytes(png_bytes(w, h, wide, depth=16))
    (tmp_path / 'wide.ppm').write_bytes(b'P6 %d %d 65535\n' % (w, h) + b''.join(wide))
    for name in ['rgb.png', 'alpha.png', 'p6.ppm', 'wide.png', 'wide.ppm']:
        r = run('encode', '-q', 4, tmp_path / name, '-o', tmp_path / (name + '.plx'))
        assert r.returncode == 0, (name, r.stderr)
        assert (tmp_path / (name + '.plx')).read_bytes() == expected, name
    # Through pipes.
    r = run('encode', '-q', 4, '-', '-o', '-', stdin=(tmp_path / 'rgb.png').read_bytes())
    assert r.returncode == 0 and r.stdout == expected
    r = run('encode', '-q', 4, '-', stdin=(CONF / case['input_bmp']).read_bytes())
    assert r.returncode == 0 and r.stdout == expected


def test_encode_palette_and_grey_png_expand_to_rgb(tmp_path):
    im = Image.open(CONF / 'images' / 'mix_100x75.bmp').convert('RGB')
    for mode in ['P', 'L']:
        variant = im.convert(mode)
        variant.save(tmp_path / (mode + '.png'))
        rgb = variant.convert('RGB')
        (tmp_path / (mode + '.ppm')).write_bytes(b'P6 %d %d 255\n' % rgb.size + rgb.tobytes())
        for src in [mode + '.png', mode + '.ppm']:
            assert run('encode', tmp_path / src, '-o', tmp_path / (src + '.plx')).returncode == 0
        # The same pixels through two readers give the same file.
        assert (tmp_path / (mode + '.png.plx')).read_bytes() == (tmp_path / (mode + '.ppm.plx')).read_bytes()


# --- truncated files ------------------------------------------------------

@pytest.mark.parametrize('name', ['mix_100x75_m0_q0_x0', 'edges_17x9_m1_q15_x2', 'checker_16x16_m0_q4_x0'])
def test_truncation_warning_counts_whole_blocks(tmp_path, name):
    data = (CONF / 'cases' / (name + '.plx')).read_bytes()
    ends, total = plx_blocks.block_ends(data)
    assert len(ends) == total
    # Cuts at a byte where a block ends exactly, one byte before, in the
    # middle, and right after the header.
    aligned = [e // 8 for e in ends[:-1] if e % 8 == 0]
    cuts = sorted({aligned[len(aligned) // 2] if aligned else 1, max(1, ends[total // 2] // 8 - 1),
                   len(data) - 17, 0})
    for cut in cuts:
        short = data[:16 + cut]
        whole = sum(1 for e in ends if e <= cut * 8)
        assert whole < total
        path = tmp_path / ('cut%d.plx' % cut)
        path.write_bytes(short)
        msg = 'warning: %s: data ends after %d of %d blocks; the rest is filler' % (path, whole, total)
        r = run('decode', '-f', path)
        assert r.returncode == 0 and msg in r.stderr.decode(), (cut, r.stderr)
        assert (tmp_path / ('cut%d.png' % cut)).exists()
        info = json.loads(run('info', '--json', path).stdout)[0]
        assert (info['whole_blocks'], info['blocks'], info['complete']) == (whole, total, False)
    # The complete file warns of nothing and says it is complete.
    (tmp_path / 'full.plx').write_bytes(data)
    r = run('decode', tmp_path / 'full.plx')
    assert r.returncode == 0 and r.stderr == b''
    assert json.loads(run('info', '--json', tmp_path / 'full.plx').stdout)[0]['complete'] is True


def test_info_reports_the_header_and_body(tmp_path):
    extra = CONF / 'cases' / 'crafted_extra5.plx'
    r = run('info', '--json', extra, CONF / 'cases' / 'pixel_1x1_m1_q15_x2.plx', tmp_path / 'missing.plx')
    assert r.returncode == 1
    report = json.loads(r.stdout)
    assert report[0]['width'] == 100 and report[0]['height'] == 75 and report[0]['extra'] == 5
    assert report[0]['body_bytes'] == extra.stat().st_size - 21 and report[0]['mode'] == 'YUV'
    assert report[1]['mode'] == 'RGB' and report[1]['matrix'] == 'cg' and report[1]['qfactor'] == 15
    assert report[1]['blocks'] == 3 and report[1]['complete'] is True
    assert 'error' in report[2] and b'missing.plx: cannot open' in r.stderr
    text = run('info', extra).stdout.decode()
    assert '100 x 75' in text and 'complete (390 blocks)' in text


# --- refusals, safety and the command line ---------------------------------

def test_refusals_name_the_file_and_reason(tmp_path):
    huge = tmp_path / 'huge.plx'
    huge.write_bytes(b'PLIX\0\0\0\0' + struct.pack('<ii', 20000, 20000))
    r = run('decode', huge)
    assert r.returncode == 1 and not (tmp_path / 'huge.png').exists()
    assert b'declared size 20000 x 20000 (400000000 pixels) is larger than the limit of 268435456' in r.stderr
    assert run('decode', '--max-pixels', 100, CONF / 'cases' / 'edges_17x9_m0_q0_x0.plx', '-o', tmp_path / 'e.png').returncode == 1
    (tmp_path / 'text.plx').write_bytes(b'hello, world')
    bmp8 = tmp_path / 'pal.bmp'
    Image.open(CONF / 'images' / 'mix_100x75.bmp').convert('P').save(bmp8)
    rle = tmp_path / 'rle.bmp'
    subprocess.run(['convert', CONF / 'images' / 'edges_17x9.bmp', '-colors', '16', '-compress', 'RLE',
                    'BMP3:%s' % rle], check=True)
    (tmp_path / 'file').write_text('x')
    expectations = [
        (['decode', tmp_path / 'none.plx'], b'none.plx: cannot open: No such file or directory'),
        (['decode', tmp_path], b': cannot open: is a folder'),
        (['decode', tmp_path / 'text.plx'], b'text.plx: not a PLIX file'),
        (['encode', bmp8], b'pal.bmp: unsupported BMP variant: 8 bits per pixel'),
        (['encode', rle], b'rle.bmp: unsupported BMP variant: RLE8 compression'),
        (['encode', tmp_path / 'text.plx', '-o', tmp_path / 't.plx'], b'not a PNG, BMP or PPM file'),
        (['decode', CONF / 'cases' / 'pixel_1x1_m0_q0_x0.plx', '-o', tmp_path / 'file' / 'x.png'],
         b'cannot write %s: Not a directory' % bytes(tmp_path / 'file' / 'x.png')),
    ]
    for args, message in expectations:
        r = run(*args)
        assert r.returncode == 1 and message in r.stderr, (args, r.stderr)
        assert r.stderr.startswith(b'error: ') and r.stdout == b''


def test_existing_outputs_and_inputs_are_never_lost(tmp_path):
    plx = tmp_path / 'a.plx'
    plx.write_bytes((CONF / 'cases' / 'mix_100x75_m0_q0_x0.plx').read_bytes())
    other = tmp_path / 'b.plx'
    other.write_bytes((CONF / 'cases' / 'mix_100x75_m1_q9_x1.plx').read_bytes())
    before = digest(plx)
    (tmp_path / 'a.png').write_bytes(b'keep me')
    r = run('decode', plx, other)
    assert r.returncode == 1 and b'a.png exists (use -f to replace it); skipped' in r.stderr
    assert (tmp_path / 'a.png').read_bytes() == b'keep me'
    assert (tmp_path / 'b.png').exists()  # the other file went on
    assert run('decode', '-f', plx).returncode == 0
    assert pixels(tmp_path / 'a.png') == pixels(CONF / 'cases' / 'mix_100x75_m0_q0_x0.expected.bmp')
    # The input is never the output, even with -f.
    r = run('encode', '-f', tmp_path / 'a.png', '-o', tmp_path / 'a.png')
    assert r.returncode == 1 and b'is the input itself' in r.stderr
    assert digest(plx) == before
    # A device is written into, not replaced.
    assert run('decode', plx, '-o', '/dev/null').returncode == 0
    assert run('encode', tmp_path / 'a.png', '-o', '/dev/null').returncode == 0
    assert Path('/dev/null').is_char_device()
    # No temporary file is left behind.
    assert sorted(p.name for p in tmp_path.iterdir()) == ['a.plx', 'a.png', 'b.plx', 'b.png']


def test_option_rules(tmp_path):
    plx = CONF / 'cases' / 'pixel_1x1_m0_q0_x0.plx'
    bmp = tmp_path / 'pic.bmp'
    bmp.write_bytes((CONF / 'images' / 'pixel_1x1.bmp').read_bytes())
    usage = [
        [], ['convert', plx], ['decode'], ['decode', '-q', 3, plx], ['encode', '-q', 16, bmp],
        ['encode', '--matrix', 'mpeg', bmp], ['decode', '--format', 'gif', plx], ['decode', '-j', 0, plx],
        ['encode', '--format', 'png', bmp], ['decode', '-', '-', '-o', tmp_path / 'x'],
        ['decode', plx, plx, '-o', '-'], ['info', '-o', 'x', plx],
    ]
    for args in usage:
        r = run(*args)
        assert r.returncode == 2 and r.stdout == b'', (args, r.stderr)
    # Help and version go to standard output and convert nothing.
    r = run('--help', bmp)
    assert r.returncode == 0 and b'decode' in r.stdout and b'encode' in r.stdout
    r = run('encode', '--help', bmp)
    assert r.returncode == 0 and b'--quality' in r.stdout
    assert sorted(p.name for p in tmp_path.iterdir()) == ['pic.bmp']
    r = run('--version')
    assert r.returncode == 0 and b'PLIX library 0.08' in r.stdout
    # Several inputs: -o is a folder, made on demand; one input: a file.
    r = run('encode', '--rgb', '-q', 15, bmp, CONF / 'images' / 'edges_17x9.bmp', '-o', tmp_path / 'new' / 'dir')
    assert r.returncode == 0, r.stderr
    assert (tmp_path / 'new' / 'dir' / 'pic.plx').read_bytes() == \
        (CONF / 'cases' / 'pixel_1x1_m1_q15_x0.plx').read_bytes()
    assert run('encode', bmp, '-o', tmp_path / 'one.plix').returncode == 0
    assert (tmp_path / 'one.plix').read_bytes() == plx.read_bytes()
    # Two inputs that would write one output: the second is refused.
    (tmp_path / 'sub').mkdir()
    (tmp_path / 'sub' / 'pic.bmp').write_bytes(bmp.read_bytes())
    r = run('encode', bmp, tmp_path / 'sub' / 'pic.bmp', '-o', tmp_path / 'both')
    assert r.returncode == 1 and b'is also the output of' in r.stderr
