#include "api/pixel_rows.h"

#include <bit>
#include <cstring>

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

// The same a pixel (or, for three bytes, four pixels) per word on
// little-endian machines, where a strip pixel reads as 0xXXRRGGBB: loops
// the compiler turns into vector code. rgb: red first in memory.
uint32_t Word(const uint8_t *p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}
void PutWord(uint8_t *p, uint32_t w) {
    std::memcpy(p, &w, 4);
}
// 0x00RRGGBB to 0x00BBGGRR and back.
uint32_t SwapRb(uint32_t w) {
    return (w & 0xFF) << 16 | (w & 0xFF00) | (w >> 16 & 0xFF);
}

// (Indices of size_t: 32-bit offsets could wrap, which keeps the compiler
// from vectorising.)
template <bool rgb>
void PackWords4(const uint8_t *__restrict strip, uint8_t *__restrict out, uint32_t width) {
    for (size_t x = 0; x < width; ++x) {
        const uint32_t w = Word(strip + 4 * x) & 0xFFFFFF;
        PutWord(out + 4 * x, (rgb ? SwapRb(w) : w) | 0xFF000000u);
    }
}

template <bool rgb>
void PackWords3(const uint8_t *__restrict strip, uint8_t *__restrict out, uint32_t width) {
    size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        uint32_t p[4];
        for (int i = 0; i < 4; ++i) {
            p[i] = Word(strip + 4 * (x + i)) & 0xFFFFFF;
            if (rgb) p[i] = SwapRb(p[i]);
        }
        uint8_t *o = out + 3 * x;
        PutWord(o, p[0] | p[1] << 24);
        PutWord(o + 4, p[1] >> 8 | p[2] << 16);
        PutWord(o + 8, p[2] >> 16 | p[3] << 8);
    }
    if (rgb)
        Pack<3, 0, 1, 2>(strip + 4 * x, out + 3 * x, static_cast<uint32_t>(width - x));
    else
        Pack<3, 2, 1, 0>(strip + 4 * x, out + 3 * x, static_cast<uint32_t>(width - x));
}

template <bool rgb>
void UnpackWords4(const uint8_t *__restrict in, uint8_t *__restrict strip, uint32_t width) {
    for (size_t x = 0; x < width; ++x) {
        const uint32_t w = Word(in + 4 * x) & 0xFFFFFF;
        PutWord(strip + 4 * x, rgb ? SwapRb(w) : w);
    }
}

template <bool rgb>
void UnpackWords3(const uint8_t *__restrict in, uint8_t *__restrict strip, uint32_t width) {
    size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const uint8_t *i3 = in + 3 * x;
        const uint32_t a = Word(i3), b = Word(i3 + 4), c = Word(i3 + 8);
        uint32_t p[4] = {a & 0xFFFFFF, (a >> 24 | b << 8) & 0xFFFFFF,
                         (b >> 16 | c << 16) & 0xFFFFFF, c >> 8};
        for (int i = 0; i < 4; ++i) PutWord(strip + 4 * (x + i), rgb ? SwapRb(p[i]) : p[i]);
    }
    if (rgb)
        Unpack<3, 0, 1, 2>(in + 3 * x, strip + 4 * x, static_cast<uint32_t>(width - x));
    else
        Unpack<3, 2, 1, 0>(in + 3 * x, strip + 4 * x, static_cast<uint32_t>(width - x));
}

constexpr bool kWords = std::endian::native == std::endian::little;

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
            return kWords ? PackWords3<true>(strip, out, width) : Pack<3, 0, 1, 2>(strip, out, width);
        case PLIX_RGBA:
            return kWords ? PackWords4<true>(strip, out, width) : Pack<4, 0, 1, 2>(strip, out, width);
        case PLIX_BGR:
            return kWords ? PackWords3<false>(strip, out, width) : Pack<3, 2, 1, 0>(strip, out, width);
        case PLIX_BGRA:
            return kWords ? PackWords4<false>(strip, out, width) : Pack<4, 2, 1, 0>(strip, out, width);
        default:
            return;
    }
}

void UnpackRow(const uint8_t *in, int format, uint8_t *strip, uint32_t width) {
    switch (format) {
        case PLIX_RGB:
            return kWords ? UnpackWords3<true>(in, strip, width) : Unpack<3, 0, 1, 2>(in, strip, width);
        case PLIX_RGBA:
            return kWords ? UnpackWords4<true>(in, strip, width) : Unpack<4, 0, 1, 2>(in, strip, width);
        case PLIX_BGR:
            return kWords ? UnpackWords3<false>(in, strip, width) : Unpack<3, 2, 1, 0>(in, strip, width);
        case PLIX_BGRA:
            return kWords ? UnpackWords4<false>(in, strip, width) : Unpack<4, 2, 1, 0>(in, strip, width);
        default:
            return;
    }
}

}  // namespace plix::api
