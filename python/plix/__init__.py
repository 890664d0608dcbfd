"""PLIX images in Python: importing this package registers a Pillow plugin.

    from PIL import Image
    import plix
    im = Image.open("photo.plx")
    im.save("copy.plx", q_factor=3, matrix=0, colour_mode="yuv")

The codec is the library libPLIX.so, bound through ctypes.
"""
from ._library import LIBRARY_NAME, Codec  # noqa: F401  (raises ImportError without it)
from ._pillow import PlixImageFile, register  # noqa: F401

__all__ = ["Codec", "LIBRARY_NAME", "PlixImageFile", "register", "MIME_TYPE", "EXTENSIONS"]

MIME_TYPE = "image/x-plix"
EXTENSIONS = (".plx", ".plix")

register()
