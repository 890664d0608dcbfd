#include "transform/pixel_order.h"

#include <bit>
#include <cstring>

namespace plix {

namespace {

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

constexpr bool kWords = std::endian::native == std::endian::little;

// Four pixels a step as three words on little-endian machines, where a strip
// pixel reads as 0xXXRRGGBB; then one at a time.
template <bool rgb>
void Pack(const uint8_t *__restrict strip, uint8_t *__restrict out, size_t count) {
    size_t x = 0;
    if constexpr (kWords) {
        for (; x + 4 <= count; x += 4) {
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
    }
    for (; x < count; ++x) {
        out[3 * x + (rgb ? 0 : 2)] = strip[4 * x + 2];
        out[3 * x + 1] = strip[4 * x + 1];
        out[3 * x + (rgb ? 2 : 0)] = strip[4 * x];
    }
}

template <bool rgb>
void Unpack(const uint8_t *__restrict in, uint8_t *__restrict strip, size_t count) {
    size_t x = 0;
    if constexpr (kWords) {
        for (; x + 4 <= count; x += 4) {
            const uint8_t *i3 = in + 3 * x;
            const uint32_t a = Word(i3), b = Word(i3 + 4), c = Word(i3 + 8);
            uint32_t p[4] = {a & 0xFFFFFF, (a >> 24 | b << 8) & 0xFFFFFF,
                             (b >> 16 | c << 16) & 0xFFFFFF, c >> 8};
            for (int i = 0; i < 4; ++i) PutWord(strip + 4 * (x + i), rgb ? SwapRb(p[i]) : p[i]);
        }
    }
    for (; x < count; ++x) {
        strip[4 * x] = in[3 * x + (rgb ? 2 : 0)];
        strip[4 * x + 1] = in[3 * x + 1];
        strip[4 * x + 2] = in[3 * x + (rgb ? 0 : 2)];
        strip[4 * x + 3] = 0;
    }
}

// (Indices of size_t: 32-bit offsets could wrap, which keeps the compiler
// from vectorising.)
template <bool rgb>
void Pack4(const uint8_t *__restrict strip, uint8_t *__restrict out, size_t count) {
    for (size_t x = 0; x < count; ++x) {
        if constexpr (kWords) {
            const uint32_t w = Word(strip + 4 * x) & 0xFFFFFF;
            PutWord(out + 4 * x, (rgb ? SwapRb(w) : w) | 0xFF000000u);
        } else {
            out[4 * x + (rgb ? 0 : 2)] = strip[4 * x + 2];
            out[4 * x + 1] = strip[4 * x + 1];
            out[4 * x + (rgb ? 2 : 0)] = strip[4 * x];
            out[4 * x + 3] = 0xFF;
        }
    }
}

template <bool rgb>
void Unpack4(const uint8_t *__restrict in, uint8_t *__restrict strip, size_t count) {
    for (size_t x = 0; x < count; ++x) {
        if constexpr (kWords) {
            const uint32_t w = Word(in + 4 * x) & 0xFFFFFF;
            PutWord(strip + 4 * x, rgb ? SwapRb(w) : w);
        } else {
            strip[4 * x] = in[4 * x + (rgb ? 2 : 0)];
            strip[4 * x + 1] = in[4 * x + 1];
            strip[4 * x + 2] = in[4 * x + (rgb ? 0 : 2)];
            strip[4 * x + 3] = 0;
        }
    }
}

}  // namespace

void PackPixels4(const uint8_t *strip, uint8_t *out, size_t count, bool rgb) {
    (rgb ? Pack4<true> : Pack4<false>)(strip, out, count);
}

void UnpackPixels4(const uint8_t *in, uint8_t *strip, size_t count, bool rgb) {
    (rgb ? Unpack4<true> : Unpack4<false>)(in, strip, count);
}

void PackPixels3(const uint8_t *strip, uint8_t *out, size_t count, bool rgb) {
    (rgb ? Pack<true> : Pack<false>)(strip, out, count);
}

void UnpackPixels3(const uint8_t *in, uint8_t *strip, size_t count, bool rgb) {
    (rgb ? Unpack<true> : Unpack<false>)(in, strip, count);
}

}  // namespace plix
