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
    if (w) *w = Codec::From(c)->Picture().Width();
    if (h) *h = Codec::From(c)->Picture().Height();
}

void PLIX_CALL OpGetBufferSize(PlixCodec *c, int32_t *w, int32_t *h) {
    if (w) *w = Codec::From(c)->Picture().PaddedWidth();
    if (h) *h = Codec::From(c)->Picture().PaddedHeight();
}

int32_t PLIX_CALL OpCreateImage(PlixCodec *c, int32_t w, int32_t h) {
    return Codec::From(c)->Picture().Create(w, h);
}

uint32_t PLIX_CALL OpGetPixel(PlixCodec *c, int32_t x, int32_t y) {
    return Codec::From(c)->Picture().GetPixel(x, y);
}

int32_t PLIX_CALL OpDecodeFile(PlixCodec *c, const char *path) {
    return Codec::From(c)->DecodeFile(path);
}

void PLIX_CALL OpSetPixel(PlixCodec *c, int32_t x, int32_t y, uint32_t colour) {
    Codec::From(c)->Picture().SetPixel(x, y, colour);
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
    return Codec::From(c)->Picture().Pixels();
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

bool Codec::CanEncode(int32_t matrix) const {
    // Only three matrix sets exist.
    return image_.Pixels() && matrix >= 0 && matrix < kMatrixSets;
}

int32_t Codec::EncodeFile(const char *path, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!CanEncode(matrix)) return 0;
    return encoder_.EncodeFile(
        image_, MakeHeader(mode, qfactor, matrix, image_.Width(), image_.Height()), path,
        Kernels());
}

int32_t Codec::EncodeMemory(std::string &out, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!CanEncode(matrix)) return 0;
    return encoder_.EncodeMemory(
        image_, MakeHeader(mode, qfactor, matrix, image_.Width(), image_.Height()), out, Kernels());
}

int32_t Codec::DecodeFile(const char *path) {
    return decoder_.DecodeFile(path, image_, Kernels());
}

int32_t Codec::DecodeMemory(const void *data, int32_t size) {
    return decoder_.DecodeMemory(data, size, image_, Kernels());
}

int32_t Codec::DecodeToBitmapFile(const char *plixPath, const char *bmpPath) {
    if (!DecodeFile(plixPath)) return 0;
    // A failed write reports 0 and leaves any earlier file of that name; the
    // decoded image stays.
    return ExportBitmap(image_, bmpPath) ? 1 : 0;
}

int32_t Codec::EncodeBitmapFile(const char *bmpPath, const char *plixPath, int32_t mode,
                                int32_t qfactor, int32_t matrix) {
    if (ImportBitmap(image_, bmpPath) != BitmapImport::Ok) return 0;
    const int32_t encoded = EncodeFile(plixPath, mode, qfactor, matrix);
    image_.Release();
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
