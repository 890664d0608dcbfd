#include "api/pixel_rows.h"

namespace plix::api {

namespace {

// One loop per layout, so that the compiler sees constant offsets.
template <size_t Bytes, int R, int G, int B>
void Pack(const uint8_t *strip, uint8_t *out, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, strip += 4, out += Bytes) {
        out[R] = strip[2];
        out[G] = strip[1];
        out[B] = strip[0];
        if constexpr (Bytes == 4) out[3] = 0xFF;
    }
}

template <size_t Bytes, int R, int G, int B>
void Unpack(const uint8_t *in, uint8_t *strip, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, in += Bytes, strip += 4) {
        strip[0] = in[B];
        strip[1] = in[G];
        strip[2] = in[R];
        strip[3] = 0;
    }
}

}  // namespace

size_t BytesPerPixel(int format) {
    switch (format) {
        case PLIX_RGB:
        case PLIX_BGR:
            return 3;
        case PLIX_RGBA:
        case PLIX_BGRA:
            return 4;
        default:
            return 0;
    }
}

void PackRow(const uint8_t *strip, int format, uint8_t *out, uint32_t width) {
    switch (format) {
        case PLIX_RGB:
            return Pack<3, 0, 1, 2>(strip, out, width);
        case PLIX_RGBA:
            return Pack<4, 0, 1, 2>(strip, out, width);
        case PLIX_BGR:
            return Pack<3, 2, 1, 0>(strip, out, width);
        case PLIX_BGRA:
            return Pack<4, 2, 1, 0>(strip, out, width);
        default:
            return;
    }
}

void UnpackRow(const uint8_t *in, int format, uint8_t *strip, uint32_t width) {
    switch (format) {
        case PLIX_RGB:
            return Unpack<3, 0, 1, 2>(in, strip, width);
        case PLIX_RGBA:
            return Unpack<4, 0, 1, 2>(in, strip, width);
        case PLIX_BGR:
            return Unpack<3, 2, 1, 0>(in, strip, width);
        case PLIX_BGRA:
            return Unpack<4, 2, 1, 0>(in, strip, width);
        default:
            return;
    }
}

}  // namespace plix::api
