"""The conformance vectors: cases.tsv, the expected pictures and the source
images, read apart from the code under test."""
import os
import sys

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
DATA = os.environ.get("PLIX_TEST_DATA", os.path.join(ROOT, "tests", "data"))
CONF = os.path.join(DATA, "conformance")
CORPUS = os.path.join(ROOT, "fuzz", "corpus", "decode")

# The block walker of the plix tool's tests: the format's code tables
# written out on their own.
sys.path.insert(0, os.path.join(ROOT, "tests", "plix_tool"))
import plx_blocks  # noqa: E402,F401


def cases(kind=None):
    with open(os.path.join(CONF, "cases.tsv"), newline="") as f:
        lines = f.read().splitlines()
    names = lines[0].lstrip("#").split("\t")
    rows = [dict(zip(names, line.split("\t"))) for line in lines[1:] if line]
    return [r for r in rows if kind is None or r["kind"] == kind]


def conf(rel):
    return os.path.join(CONF, rel)


def read(rel):
    with open(conf(rel), "rb") as f:
        return f.read()


def expected_pixels(case):
    """The image area of the expected padded BGRX buffer, as RGB."""
    w, h = int(case["width"]), int(case["height"])
    pw, ph = int(case["padded_width"]), int(case["padded_height"])
    buf = np.fromfile(conf(case["expected_buffer"]), dtype=np.uint8).reshape(ph, pw, 4)
    return np.ascontiguousarray(buf[:h, :w, 2::-1])


def source_pixels(rel):
    """A source BMP's pixels as the codec's BMP import sees them. Pillow scales
    5-bit samples to 0..255; the import puts the 5 bits at the top of the byte
    with zeros below, which is Pillow's value with its low 3 bits cleared."""
    with open(conf(rel), "rb") as f:
        head = f.read(34)
    bits = int.from_bytes(head[28:30], "little")
    compression = int.from_bytes(head[30:34], "little")
    a = np.asarray(Image.open(conf(rel)).convert("RGB"))
    if bits == 16:
        assert compression == 0, "only 5-5-5 BMPs are among the vectors"
        a = a & 0xF8
    return np.ascontiguousarray(a)


def settings(case):
    return int(case["qfactor"]), int(case["matrix"]), int(case["mode"])
