#include "codec.h"

#include <new>

#include "bitmap.h"
#include "dsp/dsp.h"
#include "entropy/huffman.h"
#include "transform/colour.h"

namespace plix {

namespace {

int32_t PLIX_CALL OpGetVersion(PlixCodec *) {
    return kVersion;
}

void PLIX_CALL OpGetImageSize(PlixCodec *c, int32_t *w, int32_t *h) {
    if (w) *w = Codec::From(c)->image.width;
    if (h) *h = Codec::From(c)->image.height;
}

void PLIX_CALL OpGetBufferSize(PlixCodec *c, int32_t *w, int32_t *h) {
    if (w) *w = Codec::From(c)->image.paddedWidth;
    if (h) *h = Codec::From(c)->image.paddedHeight;
}

int32_t PLIX_CALL OpCreateImage(PlixCodec *c, int32_t w, int32_t h) {
    return Codec::From(c)->image.Create(w, h);
}

uint32_t PLIX_CALL OpGetPixel(PlixCodec *c, int32_t x, int32_t y) {
    return Codec::From(c)->image.GetPixel(x, y);
}

int32_t PLIX_CALL OpDecodeFile(PlixCodec *c, const char *path) {
    return Codec::From(c)->DecodeFile(path);
}

void PLIX_CALL OpSetPixel(PlixCodec *c, int32_t x, int32_t y, uint32_t colour) {
    Codec::From(c)->image.SetPixel(x, y, colour);
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
    return Codec::From(c)->image.pixels;
}

const PlixCodecOps kOps = {
    OpGetVersion,         OpGetImageSize,     OpGetBufferSize, OpCreateImage,
    OpGetPixel,           OpDecodeFile,       OpSetPixel,      OpEncodeFile,
    OpDecodeToBitmapFile, OpEncodeBitmapFile, OpDecodeMemory,  OpGetImageBuffer,
};

}  // namespace

Codec::Codec() {
    ops = &kOps;
    // The constant tables are shared by all codecs and built once; touching
    // them here keeps that work out of the first encode or decode.
    (void)GetDsp();
    (void)GetHuffmanTables();
    (void)GetYccToRgbTables();
}

bool Codec::PrepareEncode(int32_t mode, int32_t qfactor, int32_t matrix) {
    // Only three matrix sets exist.
    if (!image.pixels || matrix < 0 || matrix >= kMatrixSets) return false;
    header = MakeHeader(mode, qfactor, matrix, image.width, image.height);
    return true;
}

int32_t Codec::EncodeFile(const char *path, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!PrepareEncode(mode, qfactor, matrix)) return 0;
    return encoder.EncodeFile(image, header, path, Kernels());
}

int32_t Codec::EncodeMemory(std::string &out, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!PrepareEncode(mode, qfactor, matrix)) return 0;
    return encoder.EncodeMemory(image, header, out, Kernels());
}

int32_t Codec::DecodeFile(const char *path) {
    return decoder.DecodeFile(path, image, header, Kernels());
}

int32_t Codec::DecodeMemory(const void *data, int32_t size) {
    return decoder.DecodeMemory(data, size, image, header, Kernels());
}

int32_t Codec::DecodeToBitmapFile(const char *plixPath, const char *bmpPath) {
    if (!DecodeFile(plixPath)) return 0;
    // A failed write reports 0 and leaves any earlier file of that name; the
    // decoded image stays.
    return ExportBitmap(image, bmpPath) ? 1 : 0;
}

int32_t Codec::EncodeBitmapFile(const char *bmpPath, const char *plixPath, int32_t mode,
                                int32_t qfactor, int32_t matrix) {
    if (ImportBitmap(image, bmpPath) != BitmapImport::Ok) return 0;
    const int32_t encoded = EncodeFile(plixPath, mode, qfactor, matrix);
    image.Release();
    return encoded ? 1 : 0;
}

}  // namespace plix

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

}  // extern "C"
