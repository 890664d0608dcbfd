/* A Windows program that knows PLIX only through WIC: the imaging factory
 * from CoCreateInstance, decoders from CreateDecoderFromFilename, encoders
 * from CreateEncoder with the container GUID. It checks an installed codec
 * against the conformance vectors (pixels, bytes), refusals, the registry
 * entries, the decode corpus (pixels against plixcodec.dll's), and after an
 * uninstall that nothing is left.
 *
 *   wic_client installed CONFORMANCE WORK CORPUS PLIXCODEC.DLL [32]
 *   wic_client removed CONFORMANCE WORK
 *
 * With 32, the 32-bit registry view must hold the codec too.
 */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wincodecsdk.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plixwic_guids.h"

static int failures = 0;
static int checks = 0;

#define CHECK(cond, ...)                        \
    do {                                        \
        ++checks;                               \
        if (!(cond)) {                          \
            ++failures;                         \
            printf("FAIL line %d: ", __LINE__); \
            printf(__VA_ARGS__);                \
            printf("\n");                       \
        }                                       \
    } while (0)

#include "blob.h"

static int WriteAll(const char *path, const void *data, size_t size) {
    FILE *f = fopen(path, "wb");
    if (!f) return 0;
    const int ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

static WCHAR *Wide(const char *path) {
    static WCHAR buffers[4][MAX_PATH * 2];
    static int next = 0;
    WCHAR *w = buffers[next++ % 4];
    MultiByteToWideChar(CP_ACP, 0, path, -1, w, MAX_PATH * 2);
    return w;
}

static double Seconds(void) {
    LARGE_INTEGER now, rate;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&rate);
    return (double)now.QuadPart / (double)rate.QuadPart;
}

static int IsWicError(HRESULT hr) {
    return FAILED(hr) && HRESULT_FACILITY(hr) == 0x898;
}

/* ---- cases.tsv ---- */

typedef struct Case {
    char name[96], kind[16], plx[160], buffer[160], input[160];
    int mode, qfactor, matrix, width, height, padded_width;
} Case;

static int LoadCases(const char *folder, Case **out) {
    char path[MAX_PATH], line[2048];
    snprintf(path, sizeof path, "%s/cases.tsv", folder);
    FILE *f = fopen(path, "r");
    if (!f) return -1;
    int n = 0, cap = 0;
    Case *cases = NULL;
    while (fgets(line, sizeof line, f)) {
        if (line[0] == '#' || line[0] == '\n') continue;
        if (n == cap) {
            cap = cap ? cap * 2 : 64;
            cases = (Case *)realloc(cases, sizeof(Case) * (size_t)cap);
        }
        Case *c = &cases[n];
        memset(c, 0, sizeof *c);
        char *fields[13] = {0};
        int k = 0;
        for (char *p = strtok(line, "\t\r\n"); p && k < 13; p = strtok(NULL, "\t\r\n"))
            fields[k++] = p;
        if (k < 12) continue;
        snprintf(c->name, sizeof c->name, "%s", fields[0]);
        snprintf(c->kind, sizeof c->kind, "%s", fields[1]);
        c->mode = atoi(fields[2]);
        c->qfactor = atoi(fields[3]);
        c->matrix = atoi(fields[4]);
        c->width = atoi(fields[5]);
        c->height = atoi(fields[6]);
        c->padded_width = atoi(fields[7]);
        snprintf(c->plx, sizeof c->plx, "%s/%s", folder, fields[9]);
        snprintf(c->buffer, sizeof c->buffer, "%s/%s", folder, fields[11]);
        if (k > 12) snprintf(c->input, sizeof c->input, "%s/%s", folder, fields[12]);
        ++n;
    }
    fclose(f);
    *out = cases;
    return n;
}

static IWICImagingFactory *factory = NULL;

/* ---- decoding ---- */

/* The picture as 24-bit BGR rows of stride bytes, or an error. */
static HRESULT DecodeFile(const char *path, UINT *w, UINT *h, unsigned char **pixels,
                          UINT stride_extra, int check_frame, const char *name) {
    IWICBitmapDecoder *decoder = NULL;
    IWICBitmapFrameDecode *frame = NULL;
    *pixels = NULL;
    HRESULT hr = IWICImagingFactory_CreateDecoderFromFilename(
        factory, Wide(path), NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) return hr;
    if (check_frame) {
        GUID container;
        UINT frames = 0;
        CHECK(SUCCEEDED(IWICBitmapDecoder_GetContainerFormat(decoder, &container)) &&
                  IsEqualGUID(&container, &GUID_ContainerFormatPlix),
              "%s: container format", name);
        CHECK(SUCCEEDED(IWICBitmapDecoder_GetFrameCount(decoder, &frames)) && frames == 1,
              "%s: %u frames", name, frames);
    }
    hr = IWICBitmapDecoder_GetFrame(decoder, 0, &frame);
    if (SUCCEEDED(hr)) hr = IWICBitmapFrameDecode_GetSize(frame, w, h);
    if (SUCCEEDED(hr) && check_frame) {
        WICPixelFormatGUID format;
        double dx = 0, dy = 0;
        IWICBitmapSource *thumb = NULL;
        IWICMetadataQueryReader *meta = NULL;
        CHECK(SUCCEEDED(IWICBitmapFrameDecode_GetPixelFormat(frame, &format)) &&
                  IsEqualGUID(&format, &GUID_WICPixelFormat24bppBGR),
              "%s: pixel format", name);
        CHECK(SUCCEEDED(IWICBitmapFrameDecode_GetResolution(frame, &dx, &dy)) && dx == 96.0 &&
                  dy == 96.0,
              "%s: resolution %g x %g", name, dx, dy);
        CHECK(IWICBitmapFrameDecode_GetThumbnail(frame, &thumb) == WINCODEC_ERR_CODECNOTHUMBNAIL,
              "%s: thumbnail", name);
        CHECK(IWICBitmapFrameDecode_GetMetadataQueryReader(frame, &meta) ==
                  WINCODEC_ERR_UNSUPPORTEDOPERATION,
              "%s: metadata", name);
    }
    if (SUCCEEDED(hr)) {
        const UINT stride = *w * 3 + stride_extra;
        const size_t size = (size_t)stride * *h;
        *pixels = (unsigned char *)malloc(size + 1);
        memset(*pixels, 0xA7, size + 1);
        hr = IWICBitmapFrameDecode_CopyPixels(frame, NULL, stride, (UINT)size, *pixels);
        if (SUCCEEDED(hr) && check_frame && *w > 1 && *h > 1) {
            /* A part, as a scaler asks for it, after the whole. */
            const WICRect part = {1, 1, (INT)*w - 1, (INT)*h - 1};
            const UINT pstride = (*w - 1) * 3;
            unsigned char *p = (unsigned char *)malloc((size_t)pstride * (*h - 1));
            HRESULT phr =
                IWICBitmapFrameDecode_CopyPixels(frame, &part, pstride, pstride * (*h - 1), p);
            int same = SUCCEEDED(phr);
            for (UINT y = 0; same && y + 1 < *h; ++y)
                same = memcmp(p + (size_t)y * pstride, *pixels + (size_t)(y + 1) * stride + 3,
                              pstride) == 0;
            CHECK(same, "%s: a part of the picture (0x%08lx)", name, (unsigned long)phr);
            /* Outside the picture, and a stride too small. */
            const WICRect outside = {1, 0, (INT)*w, 1};
            CHECK(IWICBitmapFrameDecode_CopyPixels(frame, &outside, pstride + 3, pstride + 3, p) ==
                      E_INVALIDARG,
                  "%s: a rectangle outside the picture", name);
            CHECK(FAILED(IWICBitmapFrameDecode_CopyPixels(frame, NULL, *w * 3 - 1, (UINT)size, p)),
                  "%s: a stride too small", name);
            free(p);
        }
    }
    if (frame) IWICBitmapFrameDecode_Release(frame);
    IWICBitmapDecoder_Release(decoder);
    if (FAILED(hr)) {
        free(*pixels);
        *pixels = NULL;
    }
    return hr;
}

static void CheckDecodes(const Case *cases, int n) {
    int decoded = 0;
    for (int i = 0; i < n; ++i) {
        const Case *c = &cases[i];
        const Blob expected = ReadAll(c->buffer);
        UINT w = 0, h = 0;
        unsigned char *px = NULL;
        const UINT extra = 5;
        HRESULT hr = DecodeFile(c->plx, &w, &h, &px, extra, 1, c->name);
        CHECK(SUCCEEDED(hr), "%s: decode 0x%08lx", c->name, (unsigned long)hr);
        if (FAILED(hr) || expected.size < 0) continue;
        CHECK(w == (UINT)c->width && h == (UINT)c->height, "%s: size %ux%u", c->name, w, h);
        const UINT stride = w * 3 + extra;
        int same = 1, guards = 1;
        for (UINT y = 0; y < h && same; ++y)
            for (UINT x = 0; x < w && same; ++x) {
                const unsigned char *e = expected.data + ((size_t)y * c->padded_width + x) * 4;
                const unsigned char *g = px + (size_t)y * stride + x * 3;
                same = g[0] == e[0] && g[1] == e[1] && g[2] == e[2];
                if (!same) printf("   %s: pixel %u,%u\n", c->name, x, y);
            }
        for (UINT y = 0; y < h; ++y)
            for (UINT k = 0; k < extra; ++k) guards &= px[(size_t)y * stride + w * 3 + k] == 0xA7;
        CHECK(same, "%s: pixels differ from the expected buffer", c->name);
        CHECK(guards && px[(size_t)stride * h] == 0xA7, "%s: bytes past the rows written", c->name);
        decoded += same;
        free(px);
        free(expected.data);
    }
    printf("decoded %d of %d conformance files to their expected pixels\n", decoded, n);
}

/* A file in a decoder of our own class, by container GUID. */
static HRESULT InitializeDirectly(const char *path, DWORD *capability) {
    IWICBitmapDecoder *decoder = NULL;
    IWICStream *stream = NULL;
    HRESULT hr =
        IWICImagingFactory_CreateDecoder(factory, &GUID_ContainerFormatPlix, NULL, &decoder);
    if (FAILED(hr)) return hr;
    hr = IWICImagingFactory_CreateStream(factory, &stream);
    if (SUCCEEDED(hr)) hr = IWICStream_InitializeFromFilename(stream, Wide(path), GENERIC_READ);
    if (SUCCEEDED(hr))
        hr = IWICBitmapDecoder_QueryCapability(decoder, (IStream *)stream, capability);
    if (SUCCEEDED(hr))
        hr = IWICBitmapDecoder_Initialize(decoder, (IStream *)stream,
                                          WICDecodeMetadataCacheOnDemand);
    if (stream) IWICStream_Release(stream);
    IWICBitmapDecoder_Release(decoder);
    return hr;
}

static void CheckRefusals(const char *conformance, const char *work, const Case *cases, int n) {
    char junk[MAX_PATH], huge[MAX_PATH], noext[MAX_PATH], path[MAX_PATH];
    unsigned char bytes[4096];
    unsigned int s = 12345;
    for (size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = (unsigned char)((s = s * 1103515245u + 12345u) >> 16);
    snprintf(junk, sizeof junk, "%s/junk.plx", work);
    WriteAll(junk, bytes, sizeof bytes);
    const unsigned char header[16] = {'P',  'L',  'I', 'X', 0,    0,    0, 0,
                                      0x20, 0x4E, 0,   0,   0x20, 0x4E, 0, 0};
    snprintf(huge, sizeof huge, "%s/huge.plx", work);
    WriteAll(huge, header, sizeof header);

    const char *refused[] = {junk, huge};
    for (int i = 0; i < 2; ++i) {
        UINT w, h;
        unsigned char *px = NULL;
        const double start = Seconds();
        const HRESULT hr = DecodeFile(refused[i], &w, &h, &px, 0, 0, refused[i]);
        const double took = Seconds() - start;
        CHECK(IsWicError(hr), "%s: 0x%08lx, not a WIC error", refused[i], (unsigned long)hr);
        CHECK(took < 1.0, "%s: refused after %.2f s", refused[i], took);
        printf("%s: refused with 0x%08lx in %.3f s\n", i ? "20000 x 20000 header" : "junk",
               (unsigned long)hr, took);
        free(px);
    }
    DWORD capability = 99;
    HRESULT hr = InitializeDirectly(huge, &capability);
    CHECK(hr == WINCODEC_ERR_IMAGESIZEOUTOFRANGE, "huge header through the decoder: 0x%08lx",
          (unsigned long)hr);
    CHECK(capability == 0, "huge header: capability %lu", (unsigned long)capability);
    hr = InitializeDirectly(junk, &capability);
    CHECK(hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT, "junk through the decoder: 0x%08lx",
          (unsigned long)hr);
    CHECK(capability == 0, "junk: capability %lu", (unsigned long)capability);
    snprintf(path, sizeof path, "%s/cases/mix_100x75_m0_q4_x0.plx", conformance);
    hr = InitializeDirectly(path, &capability);
    CHECK(hr == S_OK && capability == WICBitmapDecoderCapabilityCanDecodeAllImages,
          "a valid file: 0x%08lx, capability %lu", (unsigned long)hr, (unsigned long)capability);

    /* Without an extension, by the registered pattern alone. */
    for (int i = 0; i < n; ++i) {
        if (strcmp(cases[i].name, "mix_100x75_m1_q4_x1") != 0) continue;
        const Blob file = ReadAll(cases[i].plx);
        const Blob expected = ReadAll(cases[i].buffer);
        snprintf(noext, sizeof noext, "%s/picture-without-extension", work);
        WriteAll(noext, file.data, (size_t)file.size);
        UINT w = 0, h = 0;
        unsigned char *px = NULL;
        hr = DecodeFile(noext, &w, &h, &px, 0, 0, noext);
        int same = SUCCEEDED(hr) && w == 100 && h == 75;
        for (UINT y = 0; same && y < h; ++y)
            for (UINT x = 0; same && x < w; ++x)
                same = memcmp(px + ((size_t)y * w + x) * 3,
                              expected.data + ((size_t)y * cases[i].padded_width + x) * 4, 3) == 0;
        CHECK(same, "a file without extension: 0x%08lx", (unsigned long)hr);
        if (same) printf("a file without extension: decoded by its content\n");
        free(px);
        free(file.data);
        free(expected.data);
    }
}

/* ---- encoding ---- */

/* A 16-, 24- or 32-bit bottom-up BMP without bit fields as 24-bit BGR rows,
 * top-down; NULL for others. 16-bit samples (5 bits each) are widened as the
 * classic converter widens them, with zeros below: 31 is 0xF8. */
static unsigned char *LoadBmp(const char *path, int *w, int *h, int *bits) {
    const Blob b = ReadAll(path);
    if (b.size < 54 || b.data[0] != 'B' || b.data[1] != 'M') return NULL;
    const unsigned char *d = b.data;
    const uint32_t offset = d[10] | d[11] << 8 | d[12] << 16 | (uint32_t)d[13] << 24;
    *w = (int)(d[18] | d[19] << 8 | d[20] << 16 | (uint32_t)d[21] << 24);
    *h = (int)(d[22] | d[23] << 8 | d[24] << 16 | (uint32_t)d[25] << 24);
    *bits = d[28] | d[29] << 8;
    const uint32_t compression = d[30] | d[31] << 8 | d[32] << 16 | (uint32_t)d[33] << 24;
    if ((*bits != 16 && *bits != 24 && *bits != 32) || compression != 0 || *w <= 0 || *h <= 0) {
        free(b.data);
        return NULL;
    }
    const int bpp = *bits / 8;
    const size_t row = ((size_t)*w * bpp + 3) & ~(size_t)3;
    if (offset + row * (size_t)*h > (size_t)b.size) {
        free(b.data);
        return NULL;
    }
    unsigned char *out = (unsigned char *)malloc((size_t)*w * *h * 3);
    for (int y = 0; y < *h; ++y) {
        const unsigned char *src = d + offset + (size_t)(*h - 1 - y) * row;
        for (int x = 0; x < *w; ++x) {
            unsigned char *p = out + ((size_t)y * *w + x) * 3;
            if (bpp == 2) {
                const unsigned v = src[2 * x] | src[2 * x + 1] << 8;
                p[0] = (unsigned char)((v & 0x1F) << 3);
                p[1] = (unsigned char)(((v >> 5) & 0x1F) << 3);
                p[2] = (unsigned char)(((v >> 10) & 0x1F) << 3);
            } else {
                memcpy(p, src + (size_t)x * bpp, 3);
            }
        }
    }
    free(b.data);
    return out;
}

/* The qualities that give each q-factor of the vectors:
 * q-factor = round(15 x (1 - quality)). */
static float QualityFor(int qfactor) {
    switch (qfactor) {
        case 0:
            return 1.0f;
        case 1:
            return 0.93f;
        case 4:
            return 0.73f;
        case 9:
            return 0.4f;
        default:
            return 0.0f;
    }
}

enum Feed { kPixels24, kPixels32, kSource24, kSourceConverted, kFeeds };
static const char *const kFeedNames[] = {"WritePixels 24bppBGR", "WritePixels 32bppBGR",
                                         "WriteSource 24bppBGR", "WriteSource 32bppPBGRA"};

static HRESULT SetOptions(IPropertyBag2 *bag, float quality, int matrix, int mode) {
    PROPBAG2 props[3];
    VARIANT values[3];
    memset(props, 0, sizeof props);
    props[0].pstrName = (LPOLESTR)L"ImageQuality";
    props[1].pstrName = (LPOLESTR)PLIXWIC_OPTION_MATRIX_SET;
    props[2].pstrName = (LPOLESTR)PLIXWIC_OPTION_MODE;
    for (int i = 0; i < 3; ++i) VariantInit(&values[i]);
    V_VT(&values[0]) = VT_R4;
    V_R4(&values[0]) = quality;
    V_VT(&values[1]) = VT_UI1;
    V_UI1(&values[1]) = (BYTE)matrix;
    V_VT(&values[2]) = VT_UI1;
    V_UI1(&values[2]) = (BYTE)mode;
    return IPropertyBag2_Write(bag, 3, props, values);
}

/* Encodes 24-bit BGR pixels into path through the codec found by container
 * GUID. options: 0 writes none (the defaults). */
static HRESULT Encode(const char *path, const unsigned char *bgr, int w, int h, int feed,
                      int options, float quality, int matrix, int mode) {
    IWICBitmapEncoder *encoder = NULL;
    IWICBitmapFrameEncode *frame = NULL;
    IPropertyBag2 *bag = NULL;
    IWICStream *stream = NULL;
    IWICBitmap *bitmap = NULL;
    unsigned char *buffer = NULL;
    HRESULT hr =
        IWICImagingFactory_CreateEncoder(factory, &GUID_ContainerFormatPlix, NULL, &encoder);
    if (SUCCEEDED(hr)) hr = IWICImagingFactory_CreateStream(factory, &stream);
    if (SUCCEEDED(hr)) hr = IWICStream_InitializeFromFilename(stream, Wide(path), GENERIC_WRITE);
    if (SUCCEEDED(hr))
        hr = IWICBitmapEncoder_Initialize(encoder, (IStream *)stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = IWICBitmapEncoder_CreateNewFrame(encoder, &frame, &bag);
    if (SUCCEEDED(hr) && options) hr = SetOptions(bag, quality, matrix, mode);
    if (SUCCEEDED(hr)) hr = IWICBitmapFrameEncode_Initialize(frame, bag);
    if (SUCCEEDED(hr) && feed != kSource24 && feed != kSourceConverted)
        hr = IWICBitmapFrameEncode_SetSize(frame, (UINT)w, (UINT)h);
    WICPixelFormatGUID format =
        feed == kPixels32 ? GUID_WICPixelFormat32bppBGR : GUID_WICPixelFormat24bppBGR;
    const GUID asked = format;
    if (SUCCEEDED(hr) && feed != kSource24)
        hr = IWICBitmapFrameEncode_SetPixelFormat(frame, &format);
    if (SUCCEEDED(hr))
        CHECK(IsEqualGUID(&format, &asked), "%s: the pixel format was not kept", path);
    const int bpp = feed == kPixels32 || feed == kSourceConverted ? 4 : 3;
    const UINT stride = (UINT)w * (UINT)bpp + 3;
    if (SUCCEEDED(hr)) {
        buffer = (unsigned char *)malloc((size_t)stride * h);
        memset(buffer, 0x5A, (size_t)stride * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned char *p = buffer + (size_t)y * stride + (size_t)x * bpp;
                memcpy(p, bgr + ((size_t)y * w + x) * 3, 3);
                if (feed == kSourceConverted) p[3] = 0xFF; /* opaque: no premultiplication */
            }
    }
    if (SUCCEEDED(hr) && (feed == kPixels24 || feed == kPixels32)) {
        /* In two calls, as rows arrive. */
        const int first = h / 2;
        hr = IWICBitmapFrameEncode_WritePixels(frame, (UINT)first, stride, stride * (UINT)first,
                                               buffer);
        if (SUCCEEDED(hr))
            hr = IWICBitmapFrameEncode_WritePixels(frame, (UINT)(h - first), stride,
                                                   stride * (UINT)(h - first),
                                                   buffer + (size_t)first * stride);
    } else if (SUCCEEDED(hr)) {
        hr = IWICImagingFactory_CreateBitmapFromMemory(
            factory, (UINT)w, (UINT)h,
            feed == kSource24 ? &GUID_WICPixelFormat24bppBGR : &GUID_WICPixelFormat32bppPBGRA,
            stride, stride * (UINT)h, buffer, &bitmap);
        if (SUCCEEDED(hr))
            hr = IWICBitmapFrameEncode_WriteSource(frame, (IWICBitmapSource *)bitmap, NULL);
    }
    if (SUCCEEDED(hr)) hr = IWICBitmapFrameEncode_Commit(frame);
    if (SUCCEEDED(hr)) hr = IWICBitmapEncoder_Commit(encoder);
    if (bitmap) IWICBitmap_Release(bitmap);
    if (bag) IPropertyBag2_Release(bag);
    if (frame) IWICBitmapFrameEncode_Release(frame);
    if (stream) IWICStream_Release(stream);
    if (encoder) IWICBitmapEncoder_Release(encoder);
    free(buffer);
    return hr;
}

static int SameAsFile(const char *path, const char *expected_path) {
    const Blob got = ReadAll(path), want = ReadAll(expected_path);
    const int same = got.size >= 0 && got.size == want.size &&
                     memcmp(got.data, want.data, (size_t)got.size) == 0;
    free(got.data);
    free(want.data);
    return same;
}

static void CheckEncodes(const char *work, const Case *cases, int n) {
    int encoded = 0, total = 0, skipped = 0, qualities[16] = {0};
    int feeds[kFeeds] = {0};
    char out[MAX_PATH];
    for (int i = 0; i < n; ++i) {
        const Case *c = &cases[i];
        if (strcmp(c->kind, "encode") != 0) continue;
        int w, h, bits;
        unsigned char *bgr = LoadBmp(c->input, &w, &h, &bits);
        if (!bgr) {
            ++skipped;
            continue;
        }
        const int feed = total % kFeeds;
        ++total;
        snprintf(out, sizeof out, "%s/%s.plx", work, c->name);
        const HRESULT hr =
            Encode(out, bgr, w, h, feed, 1, QualityFor(c->qfactor), c->matrix, c->mode);
        const int same = SUCCEEDED(hr) && SameAsFile(out, c->plx);
        CHECK(same, "%s through %s: 0x%08lx%s", c->name, kFeedNames[feed], (unsigned long)hr,
              SUCCEEDED(hr) ? ", bytes differ" : "");
        encoded += same;
        feeds[feed] += same;
        qualities[c->qfactor] += same;
        free(bgr);
    }
    CHECK(skipped == 0, "%d encode inputs could not be read", skipped);
    printf(
        "encoded %d of %d conformance pictures to their files (%d, %d, %d, %d through %s, %s, "
        "%s, %s; at qualities 1.0, 0.93, 0.73, 0.4, 0.0: %d, %d, %d, %d, %d)\n",
        encoded, total, feeds[0], feeds[1], feeds[2], feeds[3], kFeedNames[0], kFeedNames[1],
        kFeedNames[2], kFeedNames[3], qualities[0], qualities[1], qualities[4], qualities[9],
        qualities[15]);

    /* No options: quality 1.0, YUV, matrix set 0. An option out of range is
     * refused. */
    for (int i = 0; i < n; ++i) {
        const Case *c = &cases[i];
        if (strcmp(c->name, "mix_100x75_m0_q0_x0") != 0) continue;
        int w, h, bits;
        unsigned char *bgr = LoadBmp(c->input, &w, &h, &bits);
        snprintf(out, sizeof out, "%s/defaults.plx", work);
        HRESULT hr = Encode(out, bgr, w, h, kPixels24, 0, 0, 0, 0);
        CHECK(SUCCEEDED(hr) && SameAsFile(out, c->plx), "the default options: 0x%08lx",
              (unsigned long)hr);
        hr = Encode(out, bgr, w, h, kPixels24, 1, 1.5f, 0, 0);
        CHECK(hr == WINCODEC_ERR_VALUEOUTOFRANGE, "quality 1.5: 0x%08lx", (unsigned long)hr);
        hr = Encode(out, bgr, w, h, kPixels24, 1, 1.0f, 3, 0);
        CHECK(hr == WINCODEC_ERR_VALUEOUTOFRANGE, "matrix set 3: 0x%08lx", (unsigned long)hr);
        free(bgr);
    }
}

/* ---- the decode corpus against plixcodec.dll ---- */

typedef struct plix_info {
    uint32_t width, height, mode, matrix, qfactor;
    uint64_t blocks, blocks_present;
} plix_info;
typedef int(__cdecl *DecodeFn)(const void *, size_t, const void *, int, void *, size_t,
                               plix_info *);

static void CheckCorpus(const char *corpus, const char *work, const char *library) {
    HMODULE lib = LoadLibraryA(library);
    DecodeFn decode = lib ? (DecodeFn)(void *)GetProcAddress(lib, "plix_decode") : NULL;
    CHECK(decode != NULL, "%s: no plix_decode", library);
    if (!decode) return;
    char pattern[MAX_PATH], path[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s/*", corpus);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    int files = 0, decoded = 0, refused = 0, same_count = 0;
    double slowest = 0;
    while (find != INVALID_HANDLE_VALUE) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            snprintf(path, sizeof path, "%s/%s", corpus, found.cFileName);
            const Blob b = ReadAll(path);
            UINT w = 0, h = 0;
            unsigned char *px = NULL;
            const double start = Seconds();
            const HRESULT hr = DecodeFile(path, &w, &h, &px, 0, 0, path);
            const double took = Seconds() - start;
            if (took > slowest) slowest = took;
            ++files;
            if (SUCCEEDED(hr)) {
                ++decoded;
                unsigned char *want = (unsigned char *)malloc((size_t)w * h * 3 + 1);
                const int r = decode(b.data, (size_t)b.size, NULL, 2 /* PLIX_BGR */, want,
                                     (size_t)w * 3, NULL);
                const int same = r >= 0 && memcmp(want, px, (size_t)w * h * 3) == 0;
                CHECK(same, "%s: WIC's pixels are not plixcodec.dll's (%d)", found.cFileName, r);
                same_count += same;
                free(want);
            } else {
                ++refused;
                CHECK(IsWicError(hr), "%s: 0x%08lx, not a WIC error", found.cFileName,
                      (unsigned long)hr);
            }
            free(px);
            free(b.data);
        }
        if (!FindNextFileA(find, &found)) break;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    CHECK(files > 0, "no corpus files in %s", corpus);
    printf(
        "decode corpus: %d files, %d decoded (%d with plixcodec.dll's pixels), %d refused with WIC "
        "errors; slowest %.3f s\n",
        files, decoded, same_count, refused, slowest);
    (void)work;
    FreeLibrary(lib);
}

/* ---- registry ---- */

static int KeyExists(HKEY root, const char *path, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return 0;
    RegCloseKey(key);
    return 1;
}

static int ValueExists(HKEY root, const char *path, const char *name, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return 0;
    const int found = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

#define DECODER "{7B1CEB43-7DB3-40C3-AFDF-14229CBA56B6}"
#define ENCODER "{4E1F2471-9CB2-4720-91A7-62FAF065EB7C}"
#define CLASSES "SOFTWARE\\Classes\\"

/* Every key and value the installer and the codec add; present says which
 * state is expected. */
static void CheckRegistry(int present, int with32) {
    static const char *const codec_keys[] = {
        CLASSES "CLSID\\" DECODER,
        CLASSES "CLSID\\" ENCODER,
        CLASSES "CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\" DECODER,
        CLASSES "CLSID\\{AC757296-3522-4E11-9862-C17BE5A1767E}\\Instance\\" ENCODER,
    };
    static const char *const shell_keys[] = {
        CLASSES ".plx\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}",
        CLASSES ".plix\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}",
        CLASSES "SystemFileAssociations\\.plx",
        CLASSES "SystemFileAssociations\\.plix",
        CLASSES "MIME\\Database\\Content Type\\image/x-plix",
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.plx",
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.plix",
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PLIX",
    };
    const REGSAM views[2] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (int v = 0; v < (with32 || !present ? 2 : 1); ++v)
        for (size_t i = 0; i < sizeof codec_keys / sizeof *codec_keys; ++i)
            CHECK(KeyExists(HKEY_LOCAL_MACHINE, codec_keys[i], views[v]) == present,
                  "%s-bit view: %s %s", v ? "32" : "64", codec_keys[i],
                  present ? "missing" : "left");
    /* The shell's entries and the uninstall entry are the 64-bit side's:
     * the 64-bit client checks them. */
    if (sizeof(void *) == 4) return;
    for (size_t i = 0; i < sizeof shell_keys / sizeof *shell_keys; ++i)
        CHECK(KeyExists(HKEY_LOCAL_MACHINE, shell_keys[i], KEY_WOW64_64KEY) == present, "%s %s",
              shell_keys[i], present ? "missing" : "left");
    const char *const values[][2] = {
        {CLASSES ".plx", "PerceivedType"},
        {CLASSES ".plx", "Content Type"},
        {CLASSES ".plix", "PerceivedType"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", ".plx"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", ".plix"},
    };
    for (size_t i = 0; i < sizeof values / sizeof *values; ++i)
        CHECK(
            ValueExists(HKEY_LOCAL_MACHINE, values[i][0], values[i][1], KEY_WOW64_64KEY) == present,
            "%s\\%s %s", values[i][0], values[i][1], present ? "missing" : "left");
    if (present) {
        char text[256];
        DWORD size = sizeof text;
        const LSTATUS s = RegGetValueA(
            HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PLIX",
            "Publisher", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, NULL, text, &size);
        CHECK(s == ERROR_SUCCESS && strcmp(text, "PLIX developers") == 0,
              "the uninstall entry's publisher");
        size = sizeof text;
        CHECK(RegGetValueA(HKEY_LOCAL_MACHINE, CLASSES ".plx", "PerceivedType",
                           RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, NULL, text,
                           &size) == ERROR_SUCCESS &&
                  strcmp(text, "image") == 0,
              ".plx is not a picture");
    } else {
        CHECK(!KeyExists(HKEY_LOCAL_MACHINE, CLASSES ".plx", KEY_WOW64_64KEY), ".plx left");
    }
}

static void CheckRemoved(const char *conformance) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s/cases/mix_100x75_m0_q4_x0.plx", conformance);
    IWICBitmapDecoder *decoder = NULL;
    HRESULT hr = IWICImagingFactory_CreateDecoderFromFilename(
        factory, Wide(path), NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    CHECK(FAILED(hr), "a decoder was still found");
    printf("after the uninstall, a PLIX file gives 0x%08lx\n", (unsigned long)hr);
    if (decoder) IWICBitmapDecoder_Release(decoder);
    IWICBitmapEncoder *encoder = NULL;
    hr = IWICImagingFactory_CreateEncoder(factory, &GUID_ContainerFormatPlix, NULL, &encoder);
    CHECK(FAILED(hr), "an encoder was still found");
    if (encoder) IWICBitmapEncoder_Release(encoder);
    IUnknown *object = NULL;
    hr = CoCreateInstance(&CLSID_PlixWicDecoder, NULL, CLSCTX_INPROC_SERVER, &IID_IUnknown,
                          (void **)&object);
    CHECK(hr == REGDB_E_CLASSNOTREG, "the decoder class: 0x%08lx", (unsigned long)hr);
    if (object) IUnknown_Release(object);
    CheckRegistry(0, 1);
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr,
                "usage: %s installed|removed CONFORMANCE WORK [CORPUS PLIXCODEC.DLL [32]]\n",
                argv[0]);
        return 2;
    }
    const int installed = strcmp(argv[1], "installed") == 0;
    if (installed && argc < 6) return 2;
    if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 2;
    HRESULT hr = CoCreateInstance(&CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                  &IID_IWICImagingFactory, (void **)&factory);
    if (FAILED(hr)) {
        printf("FAIL: no imaging factory (0x%08lx)\n", (unsigned long)hr);
        return 1;
    }
    Case *cases = NULL;
    const int n = LoadCases(argv[2], &cases);
    CHECK(n > 100, "%d conformance cases", n);
    if (installed) {
        CheckDecodes(cases, n);
        CheckRefusals(argv[2], argv[3], cases, n);
        CheckEncodes(argv[3], cases, n);
        CheckCorpus(argv[4], argv[3], argv[5]);
        CheckRegistry(1, argc > 6 && strcmp(argv[6], "32") == 0);
    } else {
        CheckRemoved(argv[2]);
    }
    IWICImagingFactory_Release(factory);
    CoUninitialize();
    printf("%d-bit WIC client: %d checks, %d failures\n", (int)sizeof(void *) * 8, checks,
           failures);
    free(cases);
    return failures ? 1 : 0;
}
