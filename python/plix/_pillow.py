"""The Pillow plugin: format PLIX, recognised by content, read as RGB with the
library's exact pixels, written with the library's encoder."""
import operator
import os
import struct
import tempfile

from PIL import Image, ImageFile

from ._library import Codec

FORMAT = "PLIX"
_HEADER = 16
_MODES = {"yuv": 0, "rgb": 1}


def _parse_header(prefix):
    """(mode, matrix, q-factor, width, height), or None for bytes that are not
    a header writers produce."""
    if len(prefix) < _HEADER or prefix[:4] != b"PLIX" or prefix[4] > 1 or prefix[5] > 2:
        return None
    height, width = struct.unpack("<ii", prefix[8:16])
    return prefix[4], prefix[5], prefix[6], width, height


def _accept(prefix):
    return _parse_header(prefix) is not None


class PlixImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "PLIX image"

    def _open(self):
        header = _parse_header(self.fp.read(_HEADER))
        if header is None:
            raise SyntaxError("not a PLIX image")
        mode, matrix, q_factor, width, height = header
        if width <= 0 or height <= 0:
            raise SyntaxError("PLIX image without pixels")
        self.mode = "RGB"
        self._size = (width, height)
        self.info["colour_mode"] = "rgb" if mode else "yuv"
        self.info["matrix"] = matrix
        self.info["q_factor"] = q_factor
        # The size is known now: Image.open checks it against
        # MAX_IMAGE_PIXELS before anything is decoded.
        self.tile = [(FORMAT, (0, 0, width, height), 0, None)]


class PlixDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer):
        data = self.fd.read()
        with Codec() as codec:
            if not codec.decode_memory(data):
                raise OSError("PLIX image could not be decoded")
            if codec.image_size() != (self.state.xsize, self.state.ysize):
                raise OSError("PLIX image changed its size")
            self.set_as_raw(codec.read_bgrx(), "BGRX")
        return -1, 0


def _integer(value, low, high, name):
    try:
        value = operator.index(value)
    except TypeError:
        value = None
    if value is None or not low <= value <= high:
        raise ValueError("%s must be an integer from %d to %d" % (name, low, high))
    return value


def _save(im, fp, filename):
    info = im.encoderinfo
    q_factor = _integer(info.get("q_factor", 0), 0, 15, "q_factor")
    matrix = _integer(info.get("matrix", 0), 0, 2, "matrix")
    colour_mode = str(info.get("colour_mode", "yuv")).lower()
    if colour_mode not in _MODES:
        raise ValueError('colour_mode must be "yuv" or "rgb"')
    if im.mode != "RGB":
        im = im.convert("RGB")
    width, height = im.size
    if width <= 0 or height <= 0:
        raise ValueError("cannot write an empty image")
    with Codec() as codec:
        if not codec.create_image(width, height):
            raise MemoryError("plix: no memory for a %d x %d image" % (width, height))
        codec.write_bgrx(im.tobytes("raw", "BGRX"), width, height)
        # The library writes files only; its bytes go on to fp.
        with tempfile.TemporaryDirectory(prefix="plix-") as scratch:
            path = os.path.join(scratch, "image.plx")
            if not codec.encode_file(path, _MODES[colour_mode], q_factor, matrix):
                raise OSError("PLIX image could not be encoded")
            with open(path, "rb") as f:
                fp.write(f.read())


def register():
    Image.register_open(FORMAT, PlixImageFile, _accept)
    Image.register_decoder(FORMAT, PlixDecoder)
    Image.register_save(FORMAT, _save)
    Image.register_extensions(FORMAT, [".plx", ".plix"])
    Image.register_mime(FORMAT, "image/x-plix")
