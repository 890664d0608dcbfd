"""numpy arrays in and out of libplixcodec: the library reads and writes the
arrays' own memory, so no pixel passes through Python."""
import ctypes
import operator
import os
import warnings
from collections import namedtuple

import numpy as np

from . import _library as L
from ._library import lib

DEFAULT_MAX_PIXELS = 1 << 28
MATRICES = ("plix", "jpeg", "cg")
MODES = ("yuv", "rgb")
_U32_MAX = 0xFFFFFFFF
_NO_LIMIT = (1 << 64) - 1
# Handed to the library for empty input, which it refuses as too short.
_EMPTY = ctypes.create_string_buffer(1)


class PlixError(ValueError):
    """A picture the library refused: not PLIX, over the pixel limit, out of
    memory. str() is the library's message; code its result code."""

    def __init__(self, code, detail=None):
        self.code = code
        message = L.error_string(code)
        if detail:
            message = "%s: %s" % (detail, message)
        super().__init__(message)


class TruncatedWarning(UserWarning):
    """The data ends before the picture does: the pixels past it are the
    format's filler. blocks_present of blocks were read whole."""

    def __init__(self, blocks_present, blocks, name=None):
        self.blocks_present = blocks_present
        self.blocks = blocks
        self.name = name
        where = "%s: " % name if name else ""
        super().__init__("%sdata ends after %d of %d blocks; the rest is filler"
                         % (where, blocks_present, blocks))


PlixInfo = namedtuple("PlixInfo", "width height mode matrix qfactor blocks")
PlixInfo.__doc__ = """The header's facts: mode "yuv" or "rgb", matrix "plix", "jpeg" or
"cg", the q-factor as stored, and blocks, the component blocks of the picture
(3 x the 8 x 8 block positions)."""


def _integer(value, name, low, high):
    if isinstance(value, bool):
        raise TypeError("%s must be an integer" % name)
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError("%s must be an integer, not %s" % (name, type(value).__name__)) from None
    if not low <= value <= high:
        raise ValueError("%s must be from %d to %d, not %d" % (name, low, high, value))
    return value


def _choice(value, name, names):
    if isinstance(value, str):
        key = value.lower()
        if key in names:
            return names.index(key)
        raise ValueError("%s must be one of %s or 0 to %d, not %r"
                         % (name, ", ".join(repr(n) for n in names), len(names) - 1, value))
    return _integer(value, name, 0, len(names) - 1)


def _threads(threads):
    return _integer(threads, "threads", 1, _U32_MAX)


def _source(data):
    """(buffer object kept alive, address, size, name) for bytes-like data or
    a path, whose file is read whole."""
    name = None
    if isinstance(data, (str, os.PathLike)):
        name = os.fspath(data)
        with open(name, "rb") as f:
            data = f.read()
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError("data must be bytes, bytearray, memoryview, a buffer or a path, not %s"
                        % type(data).__name__) from None
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    if view.nbytes == 0:
        return _EMPTY, ctypes.addressof(_EMPTY), 0, name
    array = np.frombuffer(view.cast("B") if view.ndim != 1 or view.format != "B" else view,
                          dtype=np.uint8)
    return array, array.ctypes.data, array.nbytes, name


def _header(address, size, name):
    facts = L.Info()
    r = lib.plix_read_info(address, size, ctypes.byref(facts))
    if r < 0:
        raise PlixError(r, name)
    return facts


def info(data):
    """The header's facts (a PlixInfo) of PLIX data or a PLIX file; reads only
    the 16-byte header."""
    if isinstance(data, (str, os.PathLike)):
        with open(data, "rb") as f:
            head = f.read(16)
        keep, address, size, _ = _source(head)
        name = os.fspath(data)
    else:
        keep, address, size, name = _source(data)
    facts = _header(address, size, name)
    return PlixInfo(facts.width, facts.height, MODES[facts.mode], MATRICES[facts.matrix],
                    facts.qfactor, facts.blocks)


def _check_out(out, height, width):
    if not isinstance(out, np.ndarray):
        raise TypeError("out must be a numpy array, not %s" % type(out).__name__)
    if out.dtype != np.uint8:
        raise TypeError("out must be a uint8 array, not %s" % out.dtype)
    if out.ndim != 3 or out.shape[2] not in (3, 4):
        raise ValueError("out must have the shape (height, width, 3 or 4), not %s" % (out.shape,))
    if out.shape[:2] != (height, width):
        raise ValueError("out is %d x %d pixels; the picture is %d x %d"
                         % (out.shape[1], out.shape[0], width, height))
    if not out.flags.writeable:
        raise ValueError("out is read-only")
    channels = out.shape[2]
    # Rows may lie apart (a view into a larger array), pixels within a row not.
    if height and width and (out.strides[2] != 1 or out.strides[1] != channels
                             or out.strides[0] < width * channels):
        raise ValueError("out must be C-contiguous (rows may be further apart)")
    return channels


def decode(data, max_pixels=DEFAULT_MAX_PIXELS, threads=1, out=None):
    """Decodes PLIX data (bytes, bytearray, memoryview, any buffer, or a path)
    into a uint8 array of shape (height, width, 3), red, green, blue; or into
    out, a (height, width, 3) or (height, width, 4) uint8 array (the fourth
    byte is set to 255), which is returned.

    Pictures of more than max_pixels pixels (None: no limit) are refused
    before anything is allocated. A file that ends early decodes, the rest of
    the picture being the format's filler, and warns with TruncatedWarning.
    The GIL is released while the library works."""
    if max_pixels is None:
        limit = _NO_LIMIT
    else:
        limit = _integer(max_pixels, "max_pixels", 1, _NO_LIMIT)
    options = L.DecodeOptions(limit, _threads(threads))
    keep, address, size, name = _source(data)
    facts = _header(address, size, name)
    width, height = facts.width, facts.height
    if width * height > limit:
        raise PlixError(L.ERROR_LIMIT, "%s%d x %d pixels"
                        % ("%s: " % name if name else "", width, height))
    if out is None:
        out = np.empty((height, width, 3), dtype=np.uint8)
        channels = 3
    else:
        channels = _check_out(out, height, width)
    stride = out.strides[0] if height > 1 else width * channels
    r = lib.plix_decode(address, size, ctypes.byref(options),
                        L.PLIX_RGB if channels == 3 else L.PLIX_RGBA,
                        out.ctypes.data, stride, ctypes.byref(facts))
    del keep
    if r == L.TRUNCATED:
        warnings.warn(TruncatedWarning(facts.blocks_present, facts.blocks, name), stacklevel=2)
    elif r != L.OK:
        raise PlixError(r, name)
    return out


def encode_options(qfactor=0, matrix="plix", mode="yuv", threads=1):
    return L.EncodeOptions(_choice(mode, "mode", MODES), _integer(qfactor, "qfactor", 0, 15),
                           _choice(matrix, "matrix", MATRICES), _threads(threads))


def pixels_for_library(a):
    """(array, row stride, format) the library can read: a itself when its
    pixels lie side by side within rows, else a C-contiguous copy."""
    if not isinstance(a, np.ndarray):
        a = np.asarray(a)
    if a.dtype != np.uint8:
        raise TypeError("pixels must be a uint8 array, not %s" % a.dtype)
    if a.ndim != 3 or a.shape[2] not in (3, 4):
        raise ValueError("pixels must have the shape (height, width, 3 or 4), not %s" % (a.shape,))
    height, width, channels = a.shape
    if height > 0x7FFFFFFF or width > 0x7FFFFFFF:
        raise ValueError("a PLIX picture has at most 2^31 - 1 rows and columns")
    if height and width and (a.strides[2] != 1 or a.strides[1] != channels
                             or (height > 1 and a.strides[0] < width * channels)):
        a = np.ascontiguousarray(a)
    stride = a.strides[0] if height > 1 else width * channels
    return a, stride, L.PLIX_RGB if channels == 3 else L.PLIX_RGBA


def encode(a, qfactor=0, matrix="plix", mode="yuv", threads=1):
    """Encodes a uint8 array of shape (height, width, 3) (red, green, blue)
    or (height, width, 4) (the fourth byte is ignored), with any strides, to
    the bytes of a PLIX file. matrix: "plix", "jpeg", "cg" or 0 to 2; mode:
    "yuv", "rgb" or 0 to 1; qfactor 0 (finest) to 15. The GIL is released
    while the library works."""
    options = encode_options(qfactor, matrix, mode, threads)
    a, stride, fmt = pixels_for_library(a)
    height, width = a.shape[:2]
    data = ctypes.c_void_p()
    size = ctypes.c_size_t()
    r = lib.plix_encode(a.ctypes.data, width, height, stride, fmt, ctypes.byref(options),
                        ctypes.byref(data), ctypes.byref(size))
    if r != L.OK:
        raise PlixError(r)
    try:
        return ctypes.string_at(data.value, size.value)
    finally:
        lib.plix_free(data)
