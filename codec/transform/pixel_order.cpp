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

// One pixel byte by byte, between the strip's four bytes and the caller's
// (Bytes of them packed, alpha 0xFF when four).
template <size_t Bytes, bool rgb>
void PackOne(const uint8_t *s, uint8_t *o) {
    o[rgb ? 0 : 2] = s[2];
    o[1] = s[1];
    o[rgb ? 2 : 0] = s[0];
    if constexpr (Bytes == 4) o[3] = 0xFF;
}

template <bool rgb>
void UnpackOne(const uint8_t *i, uint8_t *s) {
    s[0] = i[rgb ? 2 : 0];
    s[1] = i[1];
    s[2] = i[rgb ? 0 : 2];
    s[3] = 0;
}

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
    for (; x < count; ++x) PackOne<3, rgb>(strip + 4 * x, out + 3 * x);
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
    for (; x < count; ++x) UnpackOne<rgb>(in + 3 * x, strip + 4 * x);
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
            PackOne<4, rgb>(strip + 4 * x, out + 4 * x);
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
            UnpackOne<rgb>(in + 4 * x, strip + 4 * x);
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
