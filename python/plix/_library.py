"""Binds libplixcodec.so.1 through ctypes. ctypes.CDLL lets go of the GIL for
every foreign call, so decodes and encodes on several Python threads run at
once. No compiler is needed."""
import ctypes
import os
import sys

if sys.platform == "win32":
    LIBRARY_NAME = "plixcodec.dll"
    _NAMES = (LIBRARY_NAME,)
elif sys.platform == "darwin":
    LIBRARY_NAME = "libplixcodec.1.dylib"
    _NAMES = (LIBRARY_NAME, "libplixcodec.dylib")
else:
    LIBRARY_NAME = "libplixcodec.so.1"
    _NAMES = (LIBRARY_NAME, "libplixcodec.so")

# A path to the library file, for a build tree or a private copy.
ENVIRONMENT_VARIABLE = "PLIXCODEC_LIBRARY"

PLIX_RGB, PLIX_RGBA, PLIX_BGR, PLIX_BGRA = 0, 1, 2, 3

OK = 0
TRUNCATED = 1
NEED_DATA = 2
ERROR_ARGUMENT = -1
ERROR_NOT_PLIX = -2
ERROR_LIMIT = -3
ERROR_MEMORY = -4
ERROR_WRITE = -5

_U32 = ctypes.c_uint32
_U64 = ctypes.c_uint64
_SIZE = ctypes.c_size_t
_VP = ctypes.c_void_p
_INT = ctypes.c_int


class Info(ctypes.Structure):
    _fields_ = [("width", _U32), ("height", _U32), ("mode", _U32), ("matrix", _U32),
                ("qfactor", _U32), ("blocks", _U64), ("blocks_present", _U64)]


class DecodeOptions(ctypes.Structure):
    _fields_ = [("max_pixels", _U64), ("threads", _U32)]


class EncodeOptions(ctypes.Structure):
    _fields_ = [("mode", _U32), ("qfactor", _U32), ("matrix", _U32), ("threads", _U32)]


WRITE_FN = ctypes.CFUNCTYPE(_INT, _VP, _VP, _SIZE)

_PROTOTYPES = {
    "plix_version": (_U32, []),
    "plix_read_info": (_INT, [_VP, _SIZE, ctypes.POINTER(Info)]),
    "plix_decode": (_INT, [_VP, _SIZE, ctypes.POINTER(DecodeOptions), _INT, _VP, _SIZE,
                           ctypes.POINTER(Info)]),
    "plix_encode": (_INT, [_VP, _U32, _U32, _SIZE, _INT, ctypes.POINTER(EncodeOptions),
                           ctypes.POINTER(_VP), ctypes.POINTER(_SIZE)]),
    "plix_free": (None, [_VP]),
    "plix_error_string": (ctypes.c_char_p, [_INT]),
    "plix_decoder_new": (_VP, [ctypes.POINTER(DecodeOptions)]),
    "plix_decoder_free": (None, [_VP]),
    "plix_decoder_push": (_INT, [_VP, _VP, _SIZE]),
    "plix_decoder_finish": (_INT, [_VP]),
    "plix_decoder_info": (_INT, [_VP, ctypes.POINTER(Info)]),
    "plix_decoder_read_rows": (_INT, [_VP, _INT, _VP, _SIZE, _U32, ctypes.POINTER(_U32)]),
    "plix_encoder_new": (_INT, [_U32, _U32, ctypes.POINTER(EncodeOptions), WRITE_FN, _VP,
                                ctypes.POINTER(_VP)]),
    "plix_encoder_write_rows": (_INT, [_VP, _VP, _SIZE, _INT, _U32]),
    "plix_encoder_finish": (_INT, [_VP]),
    "plix_encoder_free": (None, [_VP]),
}


def candidates():
    """Where the library is looked for, in order: the file the environment
    names, beside this package (a wheel or a private install), then the
    loader's own search (LD_LIBRARY_PATH, the system folders)."""
    named = os.environ.get(ENVIRONMENT_VARIABLE)
    if named:
        yield named
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _NAMES:
        beside = os.path.join(here, name)
        if os.path.exists(beside):
            yield beside
    yield from _NAMES


def _load():
    errors = []
    for name in candidates():
        try:
            lib = ctypes.CDLL(name)
        except OSError as e:
            errors.append(str(e))
            continue
        try:
            for fn, (restype, argtypes) in _PROTOTYPES.items():
                f = getattr(lib, fn)
                f.restype = restype
                f.argtypes = argtypes
        except AttributeError as e:
            errors.append("%s: %s" % (name, e))
            continue
        return lib
    raise ImportError(
        "plix: cannot load the PLIX codec library %s (install libplixcodec1, put it beside "
        "the plix package or on the loader path, or name the file in %s): %s"
        % (LIBRARY_NAME, ENVIRONMENT_VARIABLE, "; ".join(errors)),
        name=LIBRARY_NAME,
    )


lib = _load()


def error_string(result):
    return lib.plix_error_string(result).decode("utf-8", "replace")


def version():
    """The library's release as a string, e.g. "0.8.0"."""
    v = lib.plix_version()
    return "%d.%d.%d" % (v // 10000, v // 100 % 100, v % 100)
