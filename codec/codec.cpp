#include "codec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "entropy/huffman.h"
#include "platform/memory.h"
#include "transform/colour.h"
#include "transform/dsp.h"

namespace plix {

namespace {

int32_t PLIX_CALL OpGetVersion(PlixCodec *) {
    return kVersion;
}

void PLIX_CALL OpGetImageSize(PlixCodec *c, int32_t *w, int32_t *h) {
    if (w) *w = Codec::From(c)->width;
    if (h) *h = Codec::From(c)->height;
}

void PLIX_CALL OpGetBufferSize(PlixCodec *c, int32_t *w, int32_t *h) {
    if (w) *w = Codec::From(c)->paddedWidth;
    if (h) *h = Codec::From(c)->paddedHeight;
}

int32_t PLIX_CALL OpCreateImage(PlixCodec *c, int32_t w, int32_t h) {
    return Codec::From(c)->CreateImage(w, h);
}

uint32_t PLIX_CALL OpGetPixel(PlixCodec *c, int32_t x, int32_t y) {
    return Codec::From(c)->GetPixel(x, y);
}

int32_t PLIX_CALL OpDecodeFile(PlixCodec *c, const char *path) {
    return Codec::From(c)->DecodeFile(path);
}

void PLIX_CALL OpSetPixel(PlixCodec *c, int32_t x, int32_t y, uint32_t colour) {
    Codec::From(c)->SetPixel(x, y, colour);
}

int32_t PLIX_CALL OpEncodeFile(PlixCodec *c, const char *path, int32_t mode, int32_t q, int32_t m) {
    return Codec::From(c)->EncodeFile(path, mode, q, m);
}

int32_t PLIX_CALL OpDecodeToBitmapFile(PlixCodec *c, const char *plx, const char *bmp) {
    return Codec::From(c)->DecodeToBitmapFile(plx, bmp);
}

int32_t PLIX_CALL OpEncodeBitmapFile(PlixCodec *c, const char *bmp, const char *plx, int32_t mode,
                                     int32_t q, int32_t m) {
    return Codec::From(c)->EncodeBitmapFile(bmp, plx, mode, q, m);
}

int32_t PLIX_CALL OpDecodeMemory(PlixCodec *c, const void *data, int32_t size) {
    return Codec::From(c)->DecodeMemory(data, size);
}

uint8_t *PLIX_CALL OpGetImageBuffer(PlixCodec *c) {
    return Codec::From(c)->pixels;
}

const PlixCodecOps kOps = {
    OpGetVersion,         OpGetImageSize,     OpGetBufferSize, OpCreateImage,
    OpGetPixel,           OpDecodeFile,       OpSetPixel,      OpEncodeFile,
    OpDecodeToBitmapFile, OpEncodeBitmapFile, OpDecodeMemory,  OpGetImageBuffer,
};

// Rounds up to a multiple of 8 without overflow; negative sizes stay as the
// truncating division makes them.
int64_t PadToBlock(int32_t v) { return (static_cast<int64_t>(v) + 7) / 8 * 8; }

} // namespace

Codec::Codec() {
    ops = &kOps;
    // The constant tables are shared by all codecs and built once; touching
    // them here keeps that work out of the first encode or decode.
    (void)GetDsp();
    (void)GetHuffmanTables();
    (void)GetYccToRgbTables();
}

Codec::~Codec() { ReleaseImage(); }

void Codec::ReleaseImage() {
    std::free(pixels);
    pixels = nullptr;
    pixelBytes_ = 0;
}

int32_t Codec::CreateImage(int32_t w, int32_t h) { return AllocateImage(w, h, true); }

int32_t Codec::AllocateImage(int32_t w, int32_t h, bool fill) {
    width = w;
    height = h;
    int64_t pw = PadToBlock(w);
    int64_t ph = PadToBlock(h);
    // The padded sizes of a valid image fit; others are kept as far as they do.
    paddedWidth = static_cast<int32_t>(pw > INT32_MAX ? INT32_MAX : pw);
    paddedHeight = static_cast<int32_t>(ph > INT32_MAX ? INT32_MAX : ph);
    if (w < 0 || h < 0 || (pw != 0 && ph > kMaxBufferBytes / 4 / pw)) {
        // pw and ph are below 2^31 each; the test divides so nothing overflows.
        ReleaseImage();
        return 0;
    }
    const size_t bytes = static_cast<size_t>(pw * ph * 4);
    // A buffer of the same size is used again: a fresh one of many megabytes
    // costs its page faults on every decode. Callers never keep the pointer
    // across CreateImage, so nothing can tell.
    if (!pixels || bytes != pixelBytes_) {
        ReleaseImage();
        // An empty image still has a buffer (of one byte).
        pixels = static_cast<uint8_t *>(platform::AllocatePictureBuffer(bytes));
        if (!pixels) return 0;
        pixelBytes_ = bytes;
    }
    if (fill || bytes == 0) std::memset(pixels, 0xFF, bytes > 0 ? bytes : 1);
    return 1;
}

uint32_t Codec::GetPixel(int32_t x, int32_t y) const {
    if (!pixels || x < 0 || x >= width || y < 0 || y >= height) return 0;
    const uint8_t *p = pixels + (static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) +
                                 static_cast<size_t>(x)) * 4;
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

void Codec::SetPixel(int32_t x, int32_t y, uint32_t colour) {
    if (!pixels || x < 0 || x >= width || y < 0 || y >= height) return;
    uint8_t *p = pixels + (static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) +
                           static_cast<size_t>(x)) * 4;
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
    p[3] = 0;
}

} // namespace plix

extern "C" {

PLIX_EXPORT PlixCodec *PLIX_Constructor(void) {
    try {
        return new (std::nothrow) plix::Codec();
    } catch (...) {
        // The stream buffers could not be obtained.
        return nullptr;
    }
}

PLIX_EXPORT void PLIX_Destructor(PlixCodec *codec) {
    delete plix::Codec::From(codec);
}

} // extern "C"
