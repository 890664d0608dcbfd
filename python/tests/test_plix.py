"""The Pillow plugin against the conformance vectors and the library itself."""
import csv
import io
import os
import subprocess
import sys
import time

import numpy as np
import pytest
from PIL import Image

import plix

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.environ.get("PLIX_TEST_DATA", os.path.join(HERE, "..", "..", "tests", "data"))
CONF = os.path.join(DATA, "conformance")
CORPUS = os.path.join(HERE, "..", "..", "fuzz", "corpus", "decode")


def cases():
    with open(os.path.join(CONF, "cases.tsv"), newline="") as f:
        lines = f.read().splitlines()
    names = lines[0].lstrip("#").split("\t")
    return [dict(zip(names, line.split("\t"))) for line in lines[1:] if line]


def conf(rel):
    return os.path.join(CONF, rel)


def bmp_bits(path):
    with open(path, "rb") as f:
        return int.from_bytes(f.read(30)[28:30], "little")


def expected_pixels(case):
    w, h = int(case["width"]), int(case["height"])
    pw, ph = int(case["padded_width"]), int(case["padded_height"])
    buf = np.fromfile(conf(case["expected_buffer"]), dtype=np.uint8).reshape(ph, pw, 4)
    return buf[:h, :w, 2::-1]  # blue, green, red -> red, green, blue


def test_reads_every_conformance_file_exactly():
    for case in cases():
        # By content: the name says nothing.
        with open(conf(case["plx"]), "rb") as f:
            im = Image.open(io.BytesIO(f.read()))
        assert im.format == "PLIX" and im.mode == "RGB"
        assert im.get_format_mimetype() == "image/x-plix"
        assert im.size == (int(case["width"]), int(case["height"]))
        np.testing.assert_array_equal(np.asarray(im), expected_pixels(case), err_msg=case["name"])


def test_writes_the_conformance_bytes(tmp_path):
    for case in cases():
        if not case.get("input_bmp"):
            continue
        if bmp_bits(conf(case["input_bmp"])) == 16:
            continue  # 5- and 6-bit samples are widened to 8 bits differently by each reader
        src = Image.open(conf(case["input_bmp"]))
        out = io.BytesIO()
        src.save(out, format="PLIX", q_factor=int(case["qfactor"]), matrix=int(case["matrix"]),
                 colour_mode="rgb" if case["mode"] == "1" else "yuv")
        with open(conf(case["plx"]), "rb") as f:
            assert out.getvalue() == f.read(), case["name"]
    # By extension, with the defaults, to a file: the finest YUV.
    src = Image.open(conf("images/mix_100x75.bmp"))
    src.save(tmp_path / "x.plix")
    with open(conf("cases/mix_100x75_m0_q0_x0.plx"), "rb") as f:
        assert (tmp_path / "x.plix").read_bytes() == f.read()


def test_writes_what_the_library_writes(tmp_path):
    rng = np.random.default_rng(5)
    pixels = rng.integers(0, 256, size=(11, 13, 3), dtype=np.uint8)
    codec = plix.Codec()
    assert codec.create_image(13, 11)
    for y in range(11):
        for x in range(13):
            r, g, b = (int(v) for v in pixels[y, x])
            codec._ops.SetPixel(codec._codec, x, y, b << 16 | g << 8 | r)
    ref = tmp_path / "ref.plx"
    assert codec.encode_file(str(ref), 1, 7, 2)
    codec.close()
    out = io.BytesIO()
    Image.fromarray(pixels).convert("RGBA").save(out, format="PLIX", q_factor=7, matrix=2,
                                                  colour_mode="rgb")
    assert out.getvalue() == ref.read_bytes()
    with pytest.raises(ValueError):
        Image.fromarray(pixels).save(io.BytesIO(), format="PLIX", q_factor=16)


def test_refuses_bmp_junk_and_huge_headers_at_once():
    with open(conf("images/mix_100x75.bmp"), "rb") as f:
        bmp = f.read()
    junk = bytes(np.random.default_rng(1).integers(0, 256, 4096, dtype=np.uint8))
    for data in (bmp, junk, b"PLIX\0\0"):
        with pytest.raises(Image.UnidentifiedImageError):
            Image.open(io.BytesIO(data), formats=["PLIX"])
    huge = b"PLIX\0\0\0\0" + (20000).to_bytes(4, "little") * 2
    start = time.monotonic()
    with pytest.raises(Image.DecompressionBombError):
        Image.open(io.BytesIO(huge))
    assert time.monotonic() - start < 1.0


def test_replays_the_decode_corpus():
    for name in sorted(os.listdir(CORPUS)):
        with open(os.path.join(CORPUS, name), "rb") as f:
            data = f.read()
        try:
            im = Image.open(io.BytesIO(data), formats=["PLIX"])
            got = np.asarray(im)
        except (Image.UnidentifiedImageError, Image.DecompressionBombError, OSError):
            continue
        with plix.Codec() as codec:
            assert codec.decode_memory(data), name
            w, h = codec.image_size()
            want = np.frombuffer(codec.read_bgrx(), np.uint8).reshape(h, w, 4)[:, :, 2::-1]
        np.testing.assert_array_equal(got, want, err_msg=name)


def test_a_missing_library_is_named():
    env = dict(os.environ, LD_LIBRARY_PATH="/nonexistent")
    code = "import plix"
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    if run.returncode == 0:
        pytest.skip("libPLIX.so is installed system-wide")
    assert "ImportError" in run.stderr and "libPLIX.so" in run.stderr
