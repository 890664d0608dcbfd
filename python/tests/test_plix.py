"""The Pillow plugin against the conformance vectors and plix's arrays."""
import io
import os
import subprocess
import sys
import time
import warnings

import numpy as np
import pytest
from PIL import Image

import plix
from plix import _pillow
from conformance import CORPUS, cases, conf, expected_pixels, read, settings, source_pixels


def test_reads_every_conformance_file_exactly():
    for case in cases():
        # By content: the name says nothing.
        im = Image.open(io.BytesIO(read(case["plx"])))
        assert im.format == "PLIX" and im.mode == "RGB"
        assert im.get_format_mimetype() == "image/x-plix"
        assert im.size == (int(case["width"]), int(case["height"]))
        assert im.info["q_factor"] == int(case["qfactor"])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", plix.TruncatedWarning)  # crafted_truncated_mid
            got = np.asarray(im)
        np.testing.assert_array_equal(got, expected_pixels(case), err_msg=case["name"])


def test_writes_the_conformance_bytes(tmp_path):
    for case in cases("encode"):
        q, m, mode = settings(case)
        out = io.BytesIO()
        Image.fromarray(source_pixels(case["input_bmp"])).save(
            out, format="PLIX", q_factor=q, matrix=m, colour_mode=("yuv", "rgb")[mode])
        assert out.getvalue() == read(case["plx"]), case["name"]
    # By extension, with the defaults, to a file: the finest YUV.
    Image.open(conf("images/mix_100x75.bmp")).save(tmp_path / "x.plix")
    assert (tmp_path / "x.plix").read_bytes() == read("cases/mix_100x75_m0_q0_x0.plx")


def test_writes_what_plix_encode_writes():
    rng = np.random.default_rng(5)
    pixels = rng.integers(0, 256, size=(11, 13, 3), dtype=np.uint8)
    for mode in ("RGB", "RGBA", "L", "P"):
        im = Image.fromarray(pixels).convert(mode)
        out = io.BytesIO()
        im.save(out, format="PLIX", q_factor=7, matrix="cg", colour_mode="rgb")
        want = np.asarray(im.convert("RGB"))
        assert out.getvalue() == plix.encode(want, qfactor=7, matrix=2, mode=1), mode
    with pytest.raises(ValueError):
        Image.fromarray(pixels).save(io.BytesIO(), format="PLIX", q_factor=16)


@pytest.fixture
def small_blocks():
    # Pillow keeps a large image in several blocks of memory; the smallest
    # blocks make a 100 x 75 image several.
    size = Image.core.get_block_size()
    Image.core.set_block_size(4096)
    yield
    Image.core.set_block_size(size)


@pytest.mark.parametrize("name", ["mix_100x75_m1_q4_x1", "crafted_extra5"])
def test_images_in_several_blocks_and_without_row_pointers(small_blocks, monkeypatch, name):
    case = next(c for c in cases() if c["name"] == name)
    data = read(case["plx"])
    im = Image.open(io.BytesIO(data))
    im.load()
    assert len(_pillow._row_runs(im.im)) > 1
    np.testing.assert_array_equal(np.asarray(im), expected_pixels(case))
    # The writer reads every block too.
    out = io.BytesIO()
    im.save(out, format="PLIX", q_factor=2)
    assert out.getvalue() == plix.encode(expected_pixels(case), qfactor=2)
    # A Pillow that does not say where its rows are: through an array.
    monkeypatch.setattr(_pillow, "_row_runs", lambda core: None)
    np.testing.assert_array_equal(np.asarray(Image.open(io.BytesIO(data))), expected_pixels(case))
    out2 = io.BytesIO()
    im.save(out2, format="PLIX", q_factor=2)
    assert out2.getvalue() == out.getvalue()


def test_a_failing_file_write_is_reported():
    class Full(io.RawIOBase):
        def writable(self):
            return True

        def write(self, b):
            raise OSError(28, "No space left on device")

    im = Image.fromarray(np.zeros((40, 40, 3), np.uint8))
    with pytest.raises(OSError, match="No space left"):
        im.save(Full(), format="PLIX")


def test_truncated_file_warns():
    data = read("cases/mix_100x75_m0_q0_x0.plx")
    with pytest.warns(plix.TruncatedWarning, match="data ends after"):
        Image.open(io.BytesIO(data[:300])).load()


def test_refuses_bmp_junk_and_huge_headers_at_once():
    junk = bytes(np.random.default_rng(1).integers(0, 256, 4096, dtype=np.uint8))
    for data in (read("images/mix_100x75.bmp"), junk, b"PLIX\0\0"):
        with pytest.raises(Image.UnidentifiedImageError):
            Image.open(io.BytesIO(data), formats=["PLIX"])
    huge = b"PLIX\0\0\0\0" + (20000).to_bytes(4, "little") * 2
    start = time.monotonic()
    with pytest.raises(Image.DecompressionBombError):
        Image.open(io.BytesIO(huge))
    assert time.monotonic() - start < 1.0


def test_replays_the_decode_corpus_as_plix_decode_does():
    for name in sorted(os.listdir(CORPUS)):
        with open(os.path.join(CORPUS, name), "rb") as f:
            data = f.read()
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", plix.TruncatedWarning)
                im = Image.open(io.BytesIO(data), formats=["PLIX"])
                got = np.asarray(im)
        except (Image.UnidentifiedImageError, Image.DecompressionBombError, OSError):
            continue
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", plix.TruncatedWarning)
            want = plix.decode(data, max_pixels=None)
        np.testing.assert_array_equal(got, want, err_msg=name)


def test_package_and_library_are_one_release():
    assert plix.__version__ == plix.library_version()


def test_a_missing_library_is_named():
    env = {k: v for k, v in os.environ.items() if k != "PLIXCODEC_LIBRARY"}
    env["LD_LIBRARY_PATH"] = "/nonexistent"
    run = subprocess.run([sys.executable, "-c", "import plix"], env=env, capture_output=True,
                         text=True)
    if run.returncode == 0:
        pytest.skip("libplixcodec.so.1 is installed system-wide")
    assert "ImportError" in run.stderr and "libplixcodec.so.1" in run.stderr
