"""plix.decode, encode and info against the conformance vectors."""
import time
import warnings

import numpy as np
import pytest

import plix
from conformance import (cases, conf, expected_pixels, plx_blocks, read, settings,
                         source_pixels)

MATRIX_NAMES = ("plix", "jpeg", "cg")
MODE_NAMES = ("yuv", "rgb")


def decode_quietly(data, **kw):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", plix.TruncatedWarning)
        return plix.decode(data, **kw)


def test_decodes_every_conformance_file_exactly(tmp_path):
    for i, case in enumerate(cases()):
        want = expected_pixels(case)
        data = read(case["plx"])
        # Every kind of input in turn: bytes, bytearray, memoryview, path.
        source = (data, bytearray(data), memoryview(data), conf(case["plx"]))[i % 4]
        got = decode_quietly(source)
        assert got.shape == want.shape and got.dtype == np.uint8, case["name"]
        np.testing.assert_array_equal(got, want, err_msg=case["name"])
        # Into a caller's array, four bytes a pixel, alpha 255.
        out = np.zeros(want.shape[:2] + (4,), np.uint8)
        assert decode_quietly(data, out=out) is out
        np.testing.assert_array_equal(out[..., :3], want, err_msg=case["name"])
        assert (out[..., 3] == 255).all()
        # Into a view whose rows lie further apart: the bytes around stay.
        h, w = want.shape[:2]
        big = np.full((h, w + 3, 3), 7, np.uint8)
        decode_quietly(data, out=big[:, 1:w + 1], threads=2)
        np.testing.assert_array_equal(big[:, 1:w + 1], want, err_msg=case["name"])
        assert (big[:, 0] == 7).all() and (big[:, w + 1:] == 7).all()


def test_info_reads_the_header():
    for case in cases():
        i = plix.info(read(case["plx"]))
        assert i == plix.info(conf(case["plx"]))
        pw, ph = int(case["padded_width"]), int(case["padded_height"])
        assert (i.width, i.height, i.qfactor) == (int(case["width"]), int(case["height"]),
                                                  int(case["qfactor"]))
        assert (i.mode, i.matrix) == (MODE_NAMES[int(case["mode"])],
                                      MATRIX_NAMES[int(case["matrix"])])
        assert i.blocks == 3 * (pw // 8) * (ph // 8)


def test_encodes_every_source_to_its_conformance_file():
    for i, case in enumerate(cases("encode")):
        q, m, mode = settings(case)
        a = source_pixels(case["input_bmp"])
        want = read(case["plx"])
        # Settings by number and by name.
        names = dict(qfactor=q, matrix=MATRIX_NAMES[m], mode=MODE_NAMES[mode].upper())
        assert plix.encode(a, qfactor=q, matrix=m, mode=mode) == want, case["name"]
        # Four channels: the fourth is ignored.
        rgba = np.dstack([a, np.full(a.shape[:2], i * 37 % 256, np.uint8)])
        assert plix.encode(rgba, threads=1 + i % 2, **names) == want, case["name"]


def non_contiguous_views(a):
    h, w, _ = a.shape
    wide = np.zeros((h, 2 * w, 3), np.uint8)
    wide[:, ::2] = a
    bgr = np.ascontiguousarray(a[..., ::-1])
    padded = np.zeros((h, w + 5, 4), np.uint8)
    padded[:, 2:w + 2, :3] = a
    flipped = np.ascontiguousarray(a[::-1])
    return {
        "fortran order": np.asfortranarray(a),
        "every other column": wide[:, ::2],
        "reversed channels": bgr[..., ::-1],
        "rows further apart": padded[:, 2:w + 2],
        "rows bottom up": flipped[::-1],
        "transposed twice": np.ascontiguousarray(a.transpose(1, 0, 2)).transpose(1, 0, 2),
    }


def test_encodes_non_contiguous_arrays_exactly():
    for name in ("mix_100x75_m1_q4_x1", "edges_17x9_m0_q0_x0", "gradient_7x9_bpp32_m0_q0_x0"):
        case = next(c for c in cases() if c["name"] == name)
        a = source_pixels(case["input_bmp"])
        want = read(case["plx"])
        for kind, view in non_contiguous_views(a).items():
            assert not view.flags.c_contiguous, kind
            np.testing.assert_array_equal(view[..., :3], a)
            assert plix.encode(view, *settings(case)) == want, (name, kind)


def test_truncated_files_warn_with_the_block_counts():
    data = read("cases/mix_100x75_m0_q0_x0.plx")
    ends, total = plx_blocks.block_ends(data)
    for cut in (0, 100, len(data) - 17):
        whole = sum(1 for e in ends if e <= cut * 8)
        with pytest.warns(plix.TruncatedWarning) as caught:
            a = plix.decode(data[:16 + cut])
        w = caught[0].message
        assert (w.blocks_present, w.blocks) == (whole, total)
        assert "after %d of %d blocks" % (whole, total) in str(w)
        assert a.shape == (75, 100, 3)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        plix.decode(data)
    case = next(c for c in cases() if c["name"] == "crafted_truncated_mid")
    with pytest.warns(plix.TruncatedWarning):
        np.testing.assert_array_equal(plix.decode(read(case["plx"])), expected_pixels(case))


def test_errors_carry_the_library_message():
    junk = bytes(np.random.default_rng(1).integers(0, 256, 4096, dtype=np.uint8))
    for data in (junk, b"", b"PLIX\0\0", read("images/mix_100x75.bmp")):
        with pytest.raises(plix.PlixError) as e:
            plix.decode(data)
        assert isinstance(e.value, ValueError) and e.value.code == -2
        assert "not a PLIX file" in str(e.value)
        with pytest.raises(plix.PlixError):
            plix.info(data)
    # A huge declared size is refused at once, before any allocation.
    huge = b"PLIX\0\0\0\0" + (20000).to_bytes(4, "little") * 2
    start = time.monotonic()
    with pytest.raises(plix.PlixError) as e:
        plix.decode(huge)
    assert time.monotonic() - start < 1.0 and e.value.code == -3
    assert "larger than the pixel limit" in str(e.value)
    data = read("cases/mix_100x75_m0_q0_x0.plx")
    with pytest.raises(plix.PlixError):
        plix.decode(data, max_pixels=100 * 75 - 1)
    assert plix.decode(data, max_pixels=100 * 75).shape == (75, 100, 3)
    with pytest.raises(FileNotFoundError):
        plix.decode("/nonexistent/x.plx")


@pytest.mark.parametrize("call, error", [
    (lambda a, d: plix.encode(a, qfactor=16), ValueError),
    (lambda a, d: plix.encode(a, matrix="png"), ValueError),
    (lambda a, d: plix.encode(a, threads=0), ValueError),
    (lambda a, d: plix.encode(a.astype(np.uint16)), TypeError),
    (lambda a, d: plix.encode(a[..., 0]), ValueError),
    (lambda a, d: plix.decode(d, out=np.zeros((75, 100, 3), np.uint16)), TypeError),
    (lambda a, d: plix.decode(d, out=np.zeros((75, 99, 3), np.uint8)), ValueError),
    (lambda a, d: plix.decode(d, out=np.zeros((75, 100, 3), np.uint8)[:, ::2]), ValueError),
    (lambda a, d: plix.decode(d, out=np.broadcast_to(np.zeros(3, np.uint8), (75, 100, 3))),
     ValueError),
    (lambda a, d: plix.decode(12), TypeError),
])
def test_bad_arguments_are_refused(call, error):
    a = np.zeros((75, 100, 3), np.uint8)
    with pytest.raises(error):
        call(a, read("cases/mix_100x75_m0_q0_x0.plx"))
