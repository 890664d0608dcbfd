/* A client of libplixcodec as users build it: decodes a PLIX file with
 * plix_decode into a 24-bit bottom-up BMP (the classic converter's layout),
 * and encodes a 24-bit BMP with plix_encode.
 * Usage: codec_client IN.plx OUT.bmp IN.bmp OUT.plx MODE QFACTOR MATRIX */
#include <plix/codec.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

static uint32_t get32(const unsigned char *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

static unsigned char data[1 << 20];

static size_t readFile(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    size_t size = fread(data, 1, sizeof data, f);
    fclose(f);
    return size;
}

int main(int argc, char **argv) {
    if (argc != 8) return 2;
    size_t size = readFile(argv[1]);
    plix_info info;
    int r = plix_read_info(data, size, &info);
    if (r != PLIX_OK) {
        fprintf(stderr, "%s\n", plix_error_string(r));
        return 1;
    }
    /* BMP rows are padded to 4 bytes: the stride does it. */
    const size_t stride = (info.width * 3 + 3) & ~(size_t)3;
    unsigned char *pixels = calloc(stride, info.height);
    if (!pixels) return 1;
    r = plix_decode(data, size, NULL, PLIX_BGR, pixels, stride, &info);
    if (r != PLIX_OK) {
        fprintf(stderr, "%s\n", plix_error_string(r));
        return 1;
    }
    unsigned char header[54] = {'B', 'M'};
    put32(header + 2, (uint32_t)(54 + stride * info.height));
    put32(header + 10, 54);
    put32(header + 14, 40);
    put32(header + 18, info.width);
    put32(header + 22, info.height);
    header[26] = 1;
    header[28] = 24;
    FILE *f = fopen(argv[2], "wb");
    if (!f) return 2;
    fwrite(header, 1, sizeof header, f);
    for (uint32_t y = info.height; y-- > 0;) fwrite(pixels + y * stride, 1, stride, f);
    fclose(f);
    free(pixels);

    /* The source rows go top-down to the encoder. */
    size = readFile(argv[3]);
    if (size < 54) return 2;
    const uint32_t w = get32(data + 18), h = get32(data + 22);
    const size_t bmpStride = (w * 3 + 3) & ~(size_t)3;
    pixels = malloc(bmpStride * h);
    if (!pixels || get32(data + 10) + bmpStride * h > size) return 2;
    for (uint32_t y = 0; y < h; ++y)
        memcpy(pixels + y * bmpStride, data + get32(data + 10) + (h - 1 - y) * bmpStride, bmpStride);
    plix_encode_options options = {(uint32_t)atoi(argv[5]), (uint32_t)atoi(argv[6]),
                                   (uint32_t)atoi(argv[7]), 2};
    void *out = NULL;
    size_t outSize = 0;
    r = plix_encode(pixels, w, h, bmpStride, PLIX_BGR, &options, &out, &outSize);
    free(pixels);
    if (r != PLIX_OK) {
        fprintf(stderr, "%s\n", plix_error_string(r));
        return 1;
    }
    f = fopen(argv[4], "wb");
    if (!f) return 2;
    fwrite(out, 1, outSize, f);
    fclose(f);
    plix_free(out);
    printf("%ux%u %u\n", info.width, info.height, plix_version());
    return 0;
}
