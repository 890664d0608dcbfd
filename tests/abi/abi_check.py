"""Uses libPLIX.so through ctypes, knowing only the public header: the two
exports and the table of twelve operations that every codec object begins with.

Usage: abi_check.py <path of libPLIX.so>
"""
import ctypes
import sys


class PlixCodec(ctypes.Structure):
    pass


Codec = ctypes.POINTER(PlixCodec)
I32 = ctypes.c_int32
U32 = ctypes.c_uint32
PI32 = ctypes.POINTER(ctypes.c_int32)
Fn = ctypes.CFUNCTYPE


class PlixCodecOps(ctypes.Structure):
    # Slot order is the binary contract.
    _fields_ = [
        ("GetVersion", Fn(I32, Codec)),
        ("GetImageSize", Fn(None, Codec, PI32, PI32)),
        ("GetBufferSize", Fn(None, Codec, PI32, PI32)),
        ("CreateImage", Fn(I32, Codec, I32, I32)),
        ("GetPixel", Fn(U32, Codec, I32, I32)),
        ("DecodeFile", Fn(I32, Codec, ctypes.c_char_p)),
        ("SetPixel", Fn(None, Codec, I32, I32, U32)),
        ("EncodeFile", Fn(I32, Codec, ctypes.c_char_p, I32, I32, I32)),
        ("DecodeToBitmapFile", Fn(I32, Codec, ctypes.c_char_p, ctypes.c_char_p)),
        ("EncodeBitmapFile", Fn(I32, Codec, ctypes.c_char_p, ctypes.c_char_p, I32, I32, I32)),
        ("DecodeMemory", Fn(I32, Codec, ctypes.c_void_p, I32)),
        ("GetImageBuffer", Fn(ctypes.POINTER(ctypes.c_uint8), Codec)),
    ]


PlixCodec._fields_ = [("ops", ctypes.POINTER(PlixCodecOps))]

failures = 0


def check(cond, what):
    global failures
    if not cond:
        print("check failed:", what, file=sys.stderr)
        failures += 1


def sizes(op, codec):
    w, h = I32(-1), I32(-1)
    op(codec, ctypes.byref(w), ctypes.byref(h))
    return w.value, h.value


def buffer_bytes(ops, codec, n):
    ptr = ops.GetImageBuffer(codec)
    check(bool(ptr), "GetImageBuffer gives a buffer")
    return bytes(ptr[:n]) if ptr else b""


def check_codec(codec):
    ops = codec.contents.ops.contents
    version = ops.GetVersion(codec)
    check(version == 8, "version 8")
    check("%x.%02x" % (version >> 8, version & 0xFF) == "0.08", "version shown as 0.08")

    check(not ops.GetImageBuffer(codec), "no buffer before CreateImage")
    check(ops.GetPixel(codec, 0, 0) == 0, "GetPixel before CreateImage")

    check(ops.CreateImage(codec, 10, 3) == 1, "CreateImage(10, 3)")
    check(sizes(ops.GetImageSize, codec) == (10, 3), "image size 10 x 3")
    check(sizes(ops.GetBufferSize, codec) == (16, 8), "buffer size 16 x 8")
    check(all(ops.GetPixel(codec, x, y) == 0x00FFFFFF for y in range(3) for x in range(10)),
          "every pixel white")
    check(buffer_bytes(ops, codec, 512) == b"\xff" * 512, "all 512 buffer bytes 0xFF")

    for x, y in ((10, 0), (0, 3), (-1, 0), (0, -1)):
        check(ops.GetPixel(codec, x, y) == 0, "GetPixel(%d, %d) outside" % (x, y))
        ops.SetPixel(codec, x, y, 0)
    check(buffer_bytes(ops, codec, 512) == b"\xff" * 512, "SetPixel outside changes nothing")

    ops.SetPixel(codec, 2, 1, 0xAB123456)
    check(ops.GetPixel(codec, 2, 1) == 0x00123456, "high bits cleared")
    at = (1 * 16 + 2) * 4
    expected = b"\xff" * at + b"\x12\x34\x56\x00" + b"\xff" * (512 - at - 4)
    check(buffer_bytes(ops, codec, 512) == expected, "pixel bytes blue, green, red, 0")


def main():
    if len(sys.argv) != 2:
        print("usage: abi_check.py <path of libPLIX.so>", file=sys.stderr)
        return 2
    lib = ctypes.CDLL(sys.argv[1])
    lib.PLIX_Constructor.restype = Codec
    lib.PLIX_Constructor.argtypes = []
    lib.PLIX_Destructor.restype = None
    lib.PLIX_Destructor.argtypes = [Codec]

    lib.PLIX_Destructor(None)
    codec = lib.PLIX_Constructor()
    check(bool(codec), "PLIX_Constructor gives a codec")
    if codec:
        check_codec(codec)
        lib.PLIX_Destructor(codec)
    if failures:
        print("%d check(s) failed" % failures, file=sys.stderr)
        return 1
    print("ABI checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
