"""The Pillow plugin: format PLIX, recognised by content. libplixcodec
decodes straight into the image's memory and encodes from it, the bytes going
to the file as they are made."""
import ctypes
import warnings

import numpy as np
from PIL import Image, ImageFile

from . import _codec
from . import _library as L
from ._library import lib

FORMAT = "PLIX"
MIME_TYPE = "image/x-plix"
EXTENSIONS = (".plx", ".plix")
_HEADER = 16
# Pillow keeps these modes at four bytes a pixel, red, green, blue first.
_FOUR_BYTE_MODES = ("RGB", "RGBA", "RGBX")


def _read_info(prefix):
    keep, address, size, _ = _codec._source(bytes(prefix[:_HEADER]))
    facts = L.Info()
    return facts if lib.plix_read_info(address, size, ctypes.byref(facts)) == L.OK else None


def _accept(prefix):
    return _read_info(prefix) is not None


def _row_runs(core):
    """[(address, rows), ...]: the image's rows grouped into runs that lie
    one after the other in memory (Pillow allocates large images in several
    blocks), or None when this Pillow does not tell where its rows are."""
    if core.mode not in _FOUR_BYTE_MODES:
        return None
    width, height = core.size
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            table = dict(core.unsafe_ptrs).get("image")
    except (AttributeError, TypeError, ValueError):
        return None
    if not table or height == 0:
        return None
    rows = np.frombuffer((ctypes.c_size_t * height).from_address(table), dtype=np.uintp)
    starts = np.concatenate(([0], np.flatnonzero(np.diff(rows) != width * 4) + 1, [height]))
    return [(int(rows[a]), int(b - a)) for a, b in zip(starts[:-1], starts[1:])]


class PlixImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "PLIX image"

    def _open(self):
        facts = _read_info(self.fp.read(_HEADER))
        if facts is None:
            raise SyntaxError("not a PLIX image")
        if facts.width == 0 or facts.height == 0:
            raise SyntaxError("PLIX image without pixels")
        self.mode = "RGB"
        self._size = (facts.width, facts.height)
        self.info["colour_mode"] = _codec.MODES[facts.mode]
        self.info["matrix"] = facts.matrix
        self.info["q_factor"] = facts.qfactor
        # The size is known now: Image.open checks it against
        # MAX_IMAGE_PIXELS before anything is decoded.
        self.tile = [(FORMAT, (0, 0, facts.width, facts.height), 0, None)]


class PlixDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer):
        size = (self.state.xsize, self.state.ysize)
        if (self.state.xoff, self.state.yoff) != (0, 0) or self.im.size != size:
            raise OSError("PLIX images decode whole")
        data = self.fd.read()
        # Pillow has applied MAX_IMAGE_PIXELS, and the memory is taken.
        options = L.DecodeOptions((1 << 64) - 1, 1)
        runs = _row_runs(self.im)
        if runs is None:
            pixels = _codec.decode(data, max_pixels=None)
            if pixels.shape[1::-1] != size:
                raise OSError("PLIX image changed its size")
            # Pillow's raw decoder takes bytes only: one copy, on this path alone.
            self.set_as_raw(pixels.tobytes(), "RGB")
            return -1, 0
        keep, address, nbytes, _ = _codec._source(data)
        facts = L.Info()
        if lib.plix_read_info(address, nbytes, ctypes.byref(facts)) != L.OK or \
                (facts.width, facts.height) != size:
            raise OSError("PLIX image changed since it was opened")
        if len(runs) == 1:
            r = lib.plix_decode(address, nbytes, ctypes.byref(options), L.PLIX_RGBA, runs[0][0],
                                size[0] * 4, ctypes.byref(facts))
        else:
            r = self._decode_runs(address, nbytes, options, runs, size[0] * 4, facts)
        if r == L.TRUNCATED:
            warnings.warn(_codec.TruncatedWarning(facts.blocks_present, facts.blocks))
        elif r != L.OK:
            raise OSError("PLIX image could not be decoded: %s" % L.error_string(r))
        return -1, 0

    @staticmethod
    def _decode_runs(address, nbytes, options, runs, stride, facts):
        # Rows are handed out in order, so each run of rows is filled in turn.
        decoder = lib.plix_decoder_new(ctypes.byref(options))
        if not decoder:
            return L.ERROR_MEMORY
        try:
            r = lib.plix_decoder_push(decoder, address, nbytes)
            if r == L.OK:
                r = lib.plix_decoder_finish(decoder)
            got = ctypes.c_uint32()
            for start, rows in runs:
                while r >= 0 and rows > 0:
                    r = lib.plix_decoder_read_rows(decoder, L.PLIX_RGBA, start, stride, rows,
                                                   ctypes.byref(got))
                    if r == L.NEED_DATA or (r >= 0 and got.value == 0):
                        r = L.ERROR_NOT_PLIX
                    start += got.value * stride
                    rows -= got.value
            lib.plix_decoder_info(decoder, ctypes.byref(facts))
            return r
        finally:
            lib.plix_decoder_free(decoder)


def _save(im, fp, filename):
    info = im.encoderinfo
    options = _codec.encode_options(info.get("q_factor", 0), info.get("matrix", 0),
                                    info.get("colour_mode", "yuv"))
    if im.mode not in _FOUR_BYTE_MODES:
        im = im.convert("RGB")
    width, height = im.size
    if width <= 0 or height <= 0:
        raise ValueError("cannot write an empty image")
    runs = _row_runs(im.im)
    if runs is None:
        fp.write(_codec.encode(np.asarray(im), options.qfactor, options.matrix, options.mode))
        return
    failure = []

    def write(user, data, size):
        try:
            fp.write(ctypes.string_at(data, size))
            return 0
        except BaseException as e:  # handed on after the library has stopped
            failure.append(e)
            return 1

    callback = L.WRITE_FN(write)
    encoder = ctypes.c_void_p()
    r = lib.plix_encoder_new(width, height, ctypes.byref(options), callback, None,
                             ctypes.byref(encoder))
    try:
        for start, rows in runs:
            if r != L.OK:
                break
            r = lib.plix_encoder_write_rows(encoder, start, width * 4, L.PLIX_RGBA, rows)
        if r == L.OK:
            r = lib.plix_encoder_finish(encoder)
    finally:
        lib.plix_encoder_free(encoder)
    if failure:
        raise failure[0]
    if r != L.OK:
        raise _codec.PlixError(r)


def register():
    Image.register_open(FORMAT, PlixImageFile, _accept)
    Image.register_decoder(FORMAT, PlixDecoder)
    Image.register_save(FORMAT, _save)
    Image.register_extensions(FORMAT, list(EXTENSIONS))
    Image.register_mime(FORMAT, MIME_TYPE)
