/* Stand-ins for libPLIX.so that let the converter's tests reach paths the real
 * library never takes: a missing factory, a factory that gives null, a missing
 * disposer, and conversions that succeed. The recording codec prints every
 * call it receives, so that a test sees exactly what the converter passed. */
#include <stdio.h>
#include <string.h>

#include "plix/plix.h"

#if !defined(STUB_NO_FACTORY) && !defined(STUB_NULL_FACTORY)

/* A version that shows both the hex digits and the padding of the low byte. */
#define STUB_VERSION 0x1A0B

static int32_t GetVersion(PlixCodec *codec) {
    (void)codec;
    return STUB_VERSION;
}

static void GetSize(PlixCodec *codec, int32_t *w, int32_t *h) {
    (void)codec;
    *w = 0;
    *h = 0;
}

static int32_t CreateImage(PlixCodec *codec, int32_t w, int32_t h) {
    (void)codec;
    (void)w;
    (void)h;
    return 0;
}

static uint32_t GetPixel(PlixCodec *codec, int32_t x, int32_t y) {
    (void)codec;
    (void)x;
    (void)y;
    return 0;
}

static int32_t DecodeFile(PlixCodec *codec, const char *path) {
    (void)codec;
    (void)path;
    return 0;
}

static void SetPixel(PlixCodec *codec, int32_t x, int32_t y, uint32_t colour) {
    (void)codec;
    (void)x;
    (void)y;
    (void)colour;
}

static int32_t EncodeFile(PlixCodec *codec, const char *path, int32_t mode, int32_t q, int32_t m) {
    (void)codec;
    (void)path;
    (void)mode;
    (void)q;
    (void)m;
    return 0;
}

/* Input names starting with "bad" fail, everything else succeeds. */
static int32_t Succeeds(const char *input) {
    return strncmp(input, "bad", 3) != 0;
}

static int32_t DecodeToBitmapFile(PlixCodec *codec, const char *plx, const char *bmp) {
    (void)codec;
    printf("[stub] DecodeToBitmapFile in=%s out=%s\n", plx, bmp);
    return Succeeds(plx);
}

static int32_t EncodeBitmapFile(PlixCodec *codec, const char *bmp, const char *plx, int32_t mode,
                                int32_t q, int32_t m) {
    (void)codec;
    printf("[stub] EncodeBitmapFile in=%s out=%s mode=%d q=%d matrix=%d\n", bmp, plx, (int)mode,
           (int)q, (int)m);
    return Succeeds(bmp);
}

static int32_t DecodeMemory(PlixCodec *codec, const void *data, int32_t size) {
    (void)codec;
    (void)data;
    (void)size;
    return 0;
}

static uint8_t *GetImageBuffer(PlixCodec *codec) {
    (void)codec;
    return NULL;
}

static const PlixCodecOps kOps = {
    GetVersion,         GetSize,          GetSize,      CreateImage,
    GetPixel,           DecodeFile,       SetPixel,     EncodeFile,
    DecodeToBitmapFile, EncodeBitmapFile, DecodeMemory, GetImageBuffer,
};

/* No allocation: a codec the converter cannot destroy leaks nothing. */
static PlixCodec codecs[2] = {{&kOps}, {&kOps}};
static int created;

PlixCodec *PLIX_Constructor(void) {
    printf("[stub] PLIX_Constructor\n");
    return &codecs[created++ % 2];
}

#elif defined(STUB_NULL_FACTORY)

PlixCodec *PLIX_Constructor(void) {
    return NULL;
}

#endif

#ifndef STUB_NO_DESTRUCTOR
void PLIX_Destructor(PlixCodec *codec) {
    printf("[stub] PLIX_Destructor %s\n", codec ? "codec" : "null");
}
#endif
