"""PLIX pictures as numpy arrays, through the codec library libplixcodec.

    import plix
    a = plix.decode("photo.plx")            # uint8 (height, width, 3), RGB
    data = plix.encode(a, qfactor=4, matrix="jpeg", mode="yuv")
    plix.info(data)                         # width, height, mode, matrix, qfactor, blocks

Importing the package also registers the Pillow plugin when Pillow is
present (format PLIX, extensions .plx and .plix):

    from PIL import Image
    im = Image.open("photo.plx")
    im.save("copy.plx", q_factor=3, matrix=0, colour_mode="yuv")

Whole folders on a Dask cluster: python3 -m plix.batch --help.
"""
from ._codec import (  # noqa: F401  (_library raises ImportError without the library)
    DEFAULT_MAX_PIXELS,
    PlixError,
    PlixInfo,
    TruncatedWarning,
    decode,
    encode,
    info,
)
from ._library import LIBRARY_NAME
from ._library import version as library_version  # noqa: F401

__version__ = "0.8.0"
MIME_TYPE = "image/x-plix"
EXTENSIONS = (".plx", ".plix")

__all__ = ["decode", "encode", "info", "PlixError", "PlixInfo", "TruncatedWarning",
           "DEFAULT_MAX_PIXELS", "LIBRARY_NAME", "MIME_TYPE", "EXTENSIONS", "library_version"]

try:
    from PIL import Image as _Image  # noqa: F401
except ImportError:  # Pillow is optional: arrays need only numpy
    pass
else:
    from ._pillow import PlixImageFile, register  # noqa: F401

    __all__ += ["PlixImageFile", "register"]
    register()
