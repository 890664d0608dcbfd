"""Binds libPLIX.so through ctypes: the two exports and the table of twelve
operations every codec object begins with. No compiler is needed."""
import ctypes
import os

LIBRARY_NAME = "libPLIX.so"


class _Codec(ctypes.Structure):
    pass


_CodecP = ctypes.POINTER(_Codec)
_I32 = ctypes.c_int32
_U32 = ctypes.c_uint32
_PI32 = ctypes.POINTER(ctypes.c_int32)
_Fn = ctypes.CFUNCTYPE


class _CodecOps(ctypes.Structure):
    # The slot order is the library's binary contract.
    _fields_ = [
        ("GetVersion", _Fn(_I32, _CodecP)),
        ("GetImageSize", _Fn(None, _CodecP, _PI32, _PI32)),
        ("GetBufferSize", _Fn(None, _CodecP, _PI32, _PI32)),
        ("CreateImage", _Fn(_I32, _CodecP, _I32, _I32)),
        ("GetPixel", _Fn(_U32, _CodecP, _I32, _I32)),
        ("DecodeFile", _Fn(_I32, _CodecP, ctypes.c_char_p)),
        ("SetPixel", _Fn(None, _CodecP, _I32, _I32, _U32)),
        ("EncodeFile", _Fn(_I32, _CodecP, ctypes.c_char_p, _I32, _I32, _I32)),
        ("DecodeToBitmapFile", _Fn(_I32, _CodecP, ctypes.c_char_p, ctypes.c_char_p)),
        ("EncodeBitmapFile", _Fn(_I32, _CodecP, ctypes.c_char_p, ctypes.c_char_p, _I32, _I32, _I32)),
        ("DecodeMemory", _Fn(_I32, _CodecP, ctypes.c_void_p, _I32)),
        ("GetImageBuffer", _Fn(ctypes.c_void_p, _CodecP)),
    ]


_Codec._fields_ = [("ops", ctypes.POINTER(_CodecOps))]


def _candidates():
    # Beside the package when installed with it, then the loader's search
    # path, under the development name and the versioned one.
    here = os.path.dirname(os.path.abspath(__file__))
    beside = os.path.join(here, LIBRARY_NAME)
    if os.path.exists(beside):
        yield beside
    yield LIBRARY_NAME
    yield LIBRARY_NAME + ".0"


def _load():
    errors = []
    for name in _candidates():
        try:
            lib = ctypes.CDLL(name)
        except OSError as e:
            errors.append(str(e))
            continue
        lib.PLIX_Constructor.restype = _CodecP
        lib.PLIX_Constructor.argtypes = []
        lib.PLIX_Destructor.restype = None
        lib.PLIX_Destructor.argtypes = [_CodecP]
        return lib
    raise ImportError(
        "plix: cannot load the PLIX codec library %s (put it beside the plix package or on "
        "the loader path, e.g. LD_LIBRARY_PATH): %s" % (LIBRARY_NAME, "; ".join(errors)),
        name=LIBRARY_NAME,
    )


_lib = _load()


class Codec:
    """One codec object of the library; usable as a context manager."""

    def __init__(self):
        self._codec = _lib.PLIX_Constructor()
        if not self._codec:
            raise MemoryError("plix: out of memory for a codec object")
        self._ops = self._codec.contents.ops.contents

    def close(self):
        if self._codec:
            _lib.PLIX_Destructor(self._codec)
            self._codec = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def version(self):
        return self._ops.GetVersion(self._codec)

    def _pair(self, op):
        a, b = _I32(0), _I32(0)
        op(self._codec, ctypes.byref(a), ctypes.byref(b))
        return a.value, b.value

    def image_size(self):
        return self._pair(self._ops.GetImageSize)

    def buffer_size(self):
        return self._pair(self._ops.GetBufferSize)

    def create_image(self, width, height):
        return self._ops.CreateImage(self._codec, width, height) == 1

    def decode_memory(self, data):
        if len(data) > 0x7FFFFFFF:
            return False
        buf = ctypes.create_string_buffer(bytes(data), len(data))
        return self._ops.DecodeMemory(self._codec, buf, len(data)) == 1

    def encode_file(self, path, mode, q_factor, matrix):
        return self._ops.EncodeFile(self._codec, os.fsencode(path), mode, q_factor, matrix) == 1

    def buffer_address(self):
        """Address of the pixel buffer (blue, green, red, unused byte per pixel,
        rows of padded width), or None."""
        return self._ops.GetImageBuffer(self._codec)

    def read_bgrx(self):
        """The image area's rows as BGRX bytes, width * 4 bytes a row."""
        w, h = self.image_size()
        pw, _ = self.buffer_size()
        addr = self.buffer_address()
        if not addr:
            raise OSError("plix: the codec holds no image")
        if pw == w:
            return ctypes.string_at(addr, w * h * 4)
        stride = pw * 4
        return b"".join(ctypes.string_at(addr + y * stride, w * 4) for y in range(h))

    def write_bgrx(self, data, width, height):
        """Fills the image area from rows of BGRX bytes, width * 4 bytes a row."""
        pw, _ = self.buffer_size()
        addr = self.buffer_address()
        if not addr:
            raise OSError("plix: the codec holds no image")
        row = width * 4
        if pw == width:
            ctypes.memmove(addr, data, row * height)
            return
        stride = pw * 4
        for y in range(height):
            ctypes.memmove(addr + y * stride, data[y * row:(y + 1) * row], row)
