// RGB to YCbCr on 32-bit pixel lanes, for either vector width of vec_x86.h.
#pragma once

#include <cstddef>
#include <cstring>

#include "transform/colour.h"
#include "transform/colour_fixed.h"
#include "transform/vec_x86.h"

namespace plix::vec {
namespace {

using namespace colour_fixed;

// br: 16-bit lanes (blue, red) per pixel; g0: (green, 0).
template <class V>
inline V Channel(V br, V g0, int32_t cb, int32_t cg, int32_t cr) {
    const V hi = Add32(Madd16(br, Pair<V>(Hi(cb), Hi(cr))), Madd16(g0, Pair<V>(Hi(cg), 0)));
    const V lo = Add32(Madd16(br, Pair<V>(Lo(cb), Lo(cr))), Madd16(g0, Pair<V>(Lo(cg), 0)));
    return Sra32<13>(Add32(hi, Srl32<14>(lo)));
}

// Pixels (blue, green, red, x) to (Cr, Cb, Y, x).
template <class V>
inline V ToYcc(V p) {
    const V br = And(p, Splat32<V>(0x00FF00FF));
    const V g0 = And(Srl16<8>(p), Splat32<V>(0xFF));
    const V y = Channel(br, g0, kYb, kYg, kYr);
    const V cb = Channel(br, g0, kCbb, -kCbg, -kCbr);
    const V cr = Channel(br, g0, -kCrb, -kCrg, kCrr);
    const V offset = Splat32<V>(128);
    const V ycc = Or(Or(Sll32<16>(y), Sll32<8>(Add32(cb, offset))), Add32(cr, offset));
    return Or(ycc, And(p, Splat32<V>(static_cast<int32_t>(0xFF000000u))));
}

// count pixels from RGB to YCbCr, a vector's worth at a time and the rest by
// the plain form.
template <class V>
inline void RgbToYccPixels(const uint8_t *src, uint8_t *dst, int32_t count) {
    constexpr int32_t kLanes = sizeof(V) / 4;
    int32_t i = 0;
    for (; i + kLanes <= count; i += kLanes, src += 4 * kLanes, dst += 4 * kLanes) {
        V p;
        std::memcpy(&p, src, sizeof p);
        p = ToYcc(p);
        std::memcpy(dst, &p, sizeof p);
    }
    if (i < count) ConvertRgbToYccPixels(src, dst, count - i);
}

// One pixel in place from YCbCr to RGB through its packed table entry: Y plus
// the offsets, saturated to bytes; byte 3 becomes 0.
inline void ToRgbPixel(const YccToRgbTables &t, uint8_t *p) {
    const size_t i = static_cast<size_t>(p[1]) * 256 + p[0];
    const __m128i v = _mm_add_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(t.packed[i])),
                                    _mm_set1_epi16(p[2]));
    const uint32_t rgb = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    std::memcpy(p, &rgb, 4);
}

// The image area of a buffer with rows of paddedWidth pixels from YCbCr to
// RGB in place: step(p) converts kLanes pixels at p, tail(p, n) the n < kLanes
// left at the end of each row.
template <int kLanes, class Step, class Tail>
inline void YccToRgbRows(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         Step step, Tail tail) {
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        int32_t x = 0;
        for (; x + kLanes <= width; x += kLanes, p += 4 * kLanes) step(p);
        if (x < width) tail(p, width - x);
    }
}

}  // namespace
}  // namespace plix::vec
